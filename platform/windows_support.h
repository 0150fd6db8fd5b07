// Shared by the Windows parts of the platform layer: text between UTF-8
// (the program's) and UTF-16 (the system's), error numbers, and file
// identity by volume serial number and file index.
#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <windows.h>

namespace tarnwel {

std::wstring wide(const char* utf8);
std::string utf8(const wchar_t* text);

// A path in UTF-8 as the system's file functions take it: a path too long
// for the classic limit is made absolute and given the prefix that lifts it.
std::wstring system_path(const char* utf8);

// The errno that stands closest to a system error code.
int errno_of(DWORD error);

struct FileIdentity {
    DWORD volume = 0;
    DWORD index_high = 0;
    DWORD index_low = 0;
    bool regular = false; // a file on disk, not a folder or a device
    bool operator==(const FileIdentity& other) const {
        return volume == other.volume && index_high == other.index_high &&
               index_low == other.index_low;
    }
};

std::optional<FileIdentity> identity_of(HANDLE handle);
std::optional<FileIdentity> identity_of(const char* path);
std::optional<FileIdentity> identity_of(const std::wstring& path);
HANDLE handle_of(std::FILE* file);

// Opens path for binary writing as disposition says (CREATE_ALWAYS,
// CREATE_NEW, TRUNCATE_EXISTING), shared for deletion so that an
// interrupted run can remove it while it is still open. nullptr on
// failure, with errno set.
std::FILE* open_for_writing(const std::wstring& path, DWORD disposition);

} // namespace tarnwel
