#include "files.h"

#include <cerrno>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include "last_error.h"
#include "windows_support.h"

namespace tarnwel {

namespace {

// The attributes of path, or INVALID_FILE_ATTRIBUTES with the last error set.
DWORD attributes_of(const char* path) {
    return GetFileAttributesW(system_path(path).c_str());
}

bool is_folder(const char* path) {
    DWORD attributes = attributes_of(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

std::wstring full_path(const char* path) {
    std::wstring relative = system_path(path);
    DWORD count = GetFullPathNameW(relative.c_str(), 0, nullptr, nullptr);
    if (count == 0) return relative;
    std::wstring full(count, L'\0');
    count = GetFullPathNameW(relative.c_str(), count, full.data(), nullptr);
    full.resize(count);
    return full;
}

// Opens path for binary reading, refusing a folder, and anything but a file
// on disk (a device such as NUL or CON) where only a regular file will do.
std::FILE* open_checked(const char* path, bool regular_only, int& error) {
    DWORD attributes = attributes_of(path);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        error = EISDIR;
        return nullptr;
    }
    errno = 0;
    std::FILE* file = _wfopen(system_path(path).c_str(), L"rb");
    if (file == nullptr) {
        error = last_error_or(ENOENT);
        return nullptr;
    }
    if (regular_only && GetFileType(handle_of(file)) != FILE_TYPE_DISK) {
        std::fclose(file);
        error = not_a_regular_file;
        return nullptr;
    }
    error = 0;
    return file;
}

} // namespace

std::FILE* create_output_file(const char* path) {
    if (is_folder(path)) {
        errno = EISDIR;
        return nullptr;
    }
    return open_for_writing(system_path(path), CREATE_ALWAYS);
}

std::FILE* open_staging_file(std::string& path, int& error) {
    wchar_t folder[MAX_PATH + 1];
    wchar_t name[MAX_PATH + 1];
    if (GetTempPathW(MAX_PATH + 1, folder) == 0) {
        error = errno_of(GetLastError());
        path = "%TEMP%";
        return nullptr;
    }
    if (GetTempFileNameW(folder, L"tw", 0, name) == 0) {
        error = errno_of(GetLastError());
        path = utf8(folder);
        return nullptr;
    }
    path = utf8(name);
    errno = 0;
    // D: removed when closed.
    std::FILE* file = _wfopen(name, L"w+bD");
    if (file == nullptr) {
        error = last_error_or();
        DeleteFileW(name);
    }
    return file;
}

// fseek takes a long, which Windows keeps at 32 bits: positions past 2 GiB
// need the 64-bit call.
static_assert(sizeof(__int64) == 8, "_fseeki64 takes a 64-bit offset");

int seek_file(std::FILE* file, std::uint64_t position) {
    errno = 0;
    return _fseeki64(file, static_cast<__int64>(position), SEEK_SET) == 0 ? 0 : last_error_or();
}

std::FILE* open_input_file(const char* path) {
    int error = 0;
    std::FILE* file = open_checked(path, false, error);
    if (file == nullptr) errno = error;
    return file;
}

bool is_same_file(std::FILE* file, const char* path) {
    std::optional<FileIdentity> open = identity_of(handle_of(file));
    std::optional<FileIdentity> named = identity_of(path);
    return open && named && *open == *named;
}

bool is_same_place(const char* first, const char* second) {
    std::optional<FileIdentity> a = identity_of(first);
    std::optional<FileIdentity> b = identity_of(second);
    if (a || b) return a && b && *a == *b;
    // Neither exists: the same full path, in the file system's own case rule.
    std::wstring full_first = full_path(first);
    std::wstring full_second = full_path(second);
    return CompareStringOrdinal(full_first.c_str(), -1, full_second.c_str(), -1, TRUE) ==
           CSTR_EQUAL;
}

std::optional<std::uint64_t> regular_file_size(std::FILE* file) {
    HANDLE handle = handle_of(file);
    std::optional<FileIdentity> identity = identity_of(handle);
    LARGE_INTEGER size;
    if (!identity || !identity->regular || !GetFileSizeEx(handle, &size)) return std::nullopt;
    return static_cast<std::uint64_t>(size.QuadPart);
}

std::FILE* open_regular_file(const char* path, int& error) {
    return open_checked(path, true, error);
}

void start_writeback(std::FILE*, std::uint64_t, std::uint64_t) {}

int truncate_file(std::FILE* file, std::uint64_t size) {
    errno = 0;
    if (std::fflush(file) != 0) return last_error_or();
    return _chsize_s(_fileno(file), static_cast<long long>(size));
}

unsigned long process_id() {
    return GetCurrentProcessId();
}

} // namespace tarnwel
