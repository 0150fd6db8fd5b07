#include "platform/files.h"

#include <cerrno>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include "platform/last_error.h"
#include "platform/windows_support.h"

namespace tarnwel {

namespace {

// The attributes of path, or INVALID_FILE_ATTRIBUTES with the last error set.
DWORD attributes_of(const char* path) {
    return GetFileAttributesW(wide(path).c_str());
}

bool is_folder(const char* path) {
    DWORD attributes = attributes_of(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

std::wstring full_path(const char* path) {
    std::wstring relative = wide(path);
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
    std::FILE* file = _wfopen(wide(path).c_str(), L"rb");
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

std::FILE* open_file(const char* path, const char* mode) {
    return _wfopen(wide(path).c_str(), wide(mode).c_str());
}

std::FILE* create_output_file(const char* path) {
    if (is_folder(path)) {
        errno = EISDIR;
        return nullptr;
    }
    // Shared for deletion, so that an interrupted run can remove it while
    // it is still open.
    HANDLE handle = CreateFileW(wide(path).c_str(), GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        errno = errno_of(GetLastError());
        return nullptr;
    }
    int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_BINARY | _O_WRONLY);
    if (descriptor < 0) {
        CloseHandle(handle);
        errno = EMFILE;
        return nullptr;
    }
    std::FILE* file = _fdopen(descriptor, "wb");
    if (file == nullptr) _close(descriptor);
    return file;
}

int remove_file(const char* path) {
    return DeleteFileW(wide(path).c_str()) ? 0 : errno_of(GetLastError());
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

int check_regular_or_absent(const char* path) {
    DWORD attributes = attributes_of(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND ? 0 : errno_of(error);
    }
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? EISDIR : 0;
}

int truncate_file(std::FILE* file, std::uint64_t size) {
    errno = 0;
    if (std::fflush(file) != 0) return last_error_or();
    return _chsize_s(_fileno(file), static_cast<long long>(size));
}

unsigned long process_id() {
    return GetCurrentProcessId();
}

int create_new_file(const char* path) {
    errno = 0;
    int descriptor = _wopen(wide(path).c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY,
                            _S_IREAD | _S_IWRITE);
    if (descriptor < 0) return last_error_or();
    return _close(descriptor) == 0 ? 0 : last_error_or();
}

int replaceable_target(const char* path, std::string& target) {
    target = path;
    DWORD attributes = attributes_of(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND ? 0 : errno_of(error);
    }
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return EISDIR;
    std::optional<FileIdentity> identity = identity_of(path);
    if (!identity || !identity->regular) return not_a_regular_file;
    return (attributes & FILE_ATTRIBUTE_READONLY) != 0 ? EACCES : 0;
}

// A new file takes its folder's access rules, as the old one did; there
// are no permission bits to carry over.
void copy_permissions(const char*, std::FILE*) {}

int replace_file(const char* from, const char* to) {
    if (MoveFileExW(wide(from).c_str(), wide(to).c_str(), MOVEFILE_REPLACE_EXISTING)) return 0;
    return errno_of(GetLastError());
}

} // namespace tarnwel
