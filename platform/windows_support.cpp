#include "windows_support.h"

#include <cerrno>
#include <fcntl.h>
#include <io.h>

namespace tarnwel {

std::wstring wide(const char* utf8) {
    int count = MultiByteToWideChar(CP_UTF8, 0, utf8, -1, nullptr, 0);
    if (count <= 0) return std::wstring();
    std::wstring text(static_cast<std::size_t>(count), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8, -1, text.data(), count);
    text.resize(static_cast<std::size_t>(count - 1));
    return text;
}

std::string utf8(const wchar_t* text) {
    int count = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (count <= 0) return std::string();
    std::string bytes(static_cast<std::size_t>(count), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, bytes.data(), count, nullptr, nullptr);
    bytes.resize(static_cast<std::size_t>(count - 1));
    return bytes;
}

std::wstring system_path(const char* utf8) {
    std::wstring path = wide(utf8);
    // Those that already skip the classic parsing, as they are.
    if (path.rfind(L"\\\\?\\", 0) == 0 || path.rfind(L"\\\\.\\", 0) == 0) return path;
    DWORD count = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (count == 0) return path;
    std::wstring full(count, L'\0');
    count = GetFullPathNameW(path.c_str(), count, full.data(), nullptr);
    full.resize(count);
    // A short one as it is, so that a device name (NUL, CON) keeps its meaning.
    if (full.size() < MAX_PATH - 12) return path;
    if (full.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + full.substr(2);
    return L"\\\\?\\" + full;
}

int errno_of(DWORD error) {
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
        return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
        return EACCES;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
        return EEXIST;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return ENOSPC;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
        return ENOMEM;
    case ERROR_DIRECTORY:
        return EISDIR;
    case ERROR_FILENAME_EXCED_RANGE:
        return ENAMETOOLONG;
    default:
        return EIO;
    }
}

std::optional<FileIdentity> identity_of(HANDLE handle) {
    BY_HANDLE_FILE_INFORMATION info;
    if (handle == INVALID_HANDLE_VALUE || !GetFileInformationByHandle(handle, &info))
        return std::nullopt;
    FileIdentity identity;
    identity.volume = info.dwVolumeSerialNumber;
    identity.index_high = info.nFileIndexHigh;
    identity.index_low = info.nFileIndexLow;
    identity.regular = GetFileType(handle) == FILE_TYPE_DISK &&
                       (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
    return identity;
}

std::optional<FileIdentity> identity_of(const char* path) {
    return identity_of(system_path(path));
}

std::optional<FileIdentity> identity_of(const std::wstring& path) {
    // No access asked for: a file open elsewhere, even for writing, can be looked at.
    HANDLE handle =
        CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return std::nullopt;
    std::optional<FileIdentity> identity = identity_of(handle);
    CloseHandle(handle);
    return identity;
}

HANDLE handle_of(std::FILE* file) {
    return reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
}

std::FILE* open_for_writing(const std::wstring& path, DWORD disposition) {
    HANDLE handle = CreateFileW(path.c_str(), GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
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

} // namespace tarnwel
