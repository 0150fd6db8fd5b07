#include "replacement.h"

#include <cerrno>

#include "files.h"
#include "last_error.h"
#include "windows_support.h"

namespace tarnwel {

namespace {

void (*commit_hook)() = nullptr;

std::string folder_of(const std::string& path) {
    std::size_t slash = path.find_last_of("/\\");
    if (slash != std::string::npos) return path.substr(0, slash + 1);
    // A drive's working folder ("C:name").
    return path.size() >= 2 && path[1] == ':' ? path.substr(0, 2) : std::string();
}

int create_temporary(Replacement& replacement, std::FILE*& file) {
    std::string folder = folder_of(replacement.target);
    for (unsigned attempt = 0;; ++attempt) {
        std::string name = folder + "tarnwel." + std::to_string(process_id()) + "." +
                           std::to_string(attempt) + ".tmp";
        errno = 0;
        file = open_for_writing(system_path(name.c_str()), CREATE_NEW);
        if (file != nullptr) {
            replacement.temporary = name;
            return 0;
        }
        int error = last_error_or();
        if (error != EEXIST || attempt == 1000) return error;
    }
}

int open_in_place(Replacement& replacement, std::FILE*& file) {
    errno = 0;
    file = open_for_writing(system_path(replacement.target.c_str()), TRUNCATE_EXISTING);
    if (file == nullptr) return last_error_or();
    replacement.in_place = true;
    return 0;
}

} // namespace

int open_new_version(const char* path, bool in_place_allowed, Replacement& replacement,
                     std::FILE*& file) {
    file = nullptr;
    if (*path == '\0') return ENOENT;
    replacement.target = path;
    DWORD attributes = GetFileAttributesW(system_path(path).c_str());
    replacement.exists = attributes != INVALID_FILE_ATTRIBUTES;
    if (!replacement.exists) {
        DWORD error = GetLastError();
        if (error != ERROR_FILE_NOT_FOUND) return errno_of(error);
    } else {
        if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return EISDIR;
        std::optional<FileIdentity> identity = identity_of(path);
        if (!identity || !identity->regular) return not_a_regular_file;
        if ((attributes & FILE_ATTRIBUTE_READONLY) != 0) return EACCES;
    }
    int error = create_temporary(replacement, file);
    if (error != 0 && replacement.exists && in_place_allowed)
        error = open_in_place(replacement, file);
    return error;
}

// A new file takes its folder's inherited access rules, as the old one
// did; there are no permission bits to carry over.
void carry_over_attributes(const Replacement&, std::FILE*) {}

int commit_new_version(Replacement& replacement) {
    if (replacement.in_place || replacement.temporary.empty()) return 0;
    if (commit_hook != nullptr) commit_hook();
    if (!MoveFileExW(system_path(replacement.temporary.c_str()).c_str(),
                     system_path(replacement.target.c_str()).c_str(), MOVEFILE_REPLACE_EXISTING))
        return errno_of(GetLastError());
    replacement.temporary.clear();
    return 0;
}

void discard_new_version(Replacement& replacement) {
    if (!replacement.temporary.empty())
        DeleteFileW(system_path(replacement.temporary.c_str()).c_str());
    replacement.temporary.clear();
}

void set_commit_hook(void (*hook)()) {
    commit_hook = hook;
}

// Nothing is carried over here, so there is no moment to mark.
void set_carry_over_hook(void (*)()) {}

} // namespace tarnwel
