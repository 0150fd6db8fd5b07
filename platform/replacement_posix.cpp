#include "replacement.h"

#include <cerrno>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

#include "attributes_posix.h"
#include "files.h"
#include "last_error.h"
#include "paths_posix.h"

namespace tarnwel {

namespace {

void (*commit_hook)() = nullptr;
void (*carry_over_hook)() = nullptr;

// Follows the links from path to the file they lead to, existing or not.
// Empty where the chain has no end or goes through a link the system
// resolves by magic (/dev/fd/N), whose target cannot be named.
std::string follow_links(const char* path, const struct stat* named) {
    std::string target = path;
    for (int hops = 0;; ++hops) {
        struct stat info {};
        if (lstat(target.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) break;
        std::optional<std::string> next = link_target(target);
        if (!next || hops == 40) return {};
        target = (*next)[0] == '/' ? *next : folder_of(target) + *next;
    }
    struct stat found {};
    bool found_exists = stat(target.c_str(), &found) == 0;
    if (found_exists != (named != nullptr) ||
        (named && (found.st_dev != named->st_dev || found.st_ino != named->st_ino)))
        return {};
    return target;
}

int open_folder(const std::string& folder) {
#ifdef O_PATH
    // A folder that may be searched but not listed can still be worked in.
    constexpr int flags = O_PATH | O_DIRECTORY | O_CLOEXEC;
#else
    constexpr int flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
#endif
    return open(folder.empty() ? "." : folder.c_str(), flags);
}

// Whether name in folder (the folder itself for "") is marked append-only
// or immutable. An append-only folder takes new files but lets none of its
// names go: the new file could neither be renamed over the old one nor
// removed, by anyone but root.
bool marked_fixed(int folder, const char* name) {
#ifdef STATX_ATTR_APPEND
    struct statx flags {};
    if (statx(folder, name, *name == '\0' ? AT_EMPTY_PATH : 0, STATX_BASIC_STATS, &flags) != 0)
        return false;
    constexpr auto fixed = STATX_ATTR_APPEND | STATX_ATTR_IMMUTABLE;
    return (flags.stx_attributes & flags.stx_attributes_mask & fixed) != 0;
#else
    (void)folder;
    (void)name;
    return false;
#endif
}

// Whether a new file renamed over target (or, where target does not exist,
// to its name) would be refused although the folder may be written: an
// append-only folder, another user's file in a folder with the sticky bit,
// or a file marked append-only or immutable. Found before anything is
// made, so that nothing is left behind that cannot be removed.
bool rename_refused(const Replacement& replacement, const struct stat& target) {
    if (marked_fixed(replacement.folder, "")) return true;
    if (!replacement.exists) return false;
    struct stat folder {};
    if (fstat(replacement.folder, &folder) != 0) return false;
    uid_t me = geteuid();
    if ((folder.st_mode & S_ISVTX) != 0 && me != 0 && target.st_uid != me && folder.st_uid != me)
        return true;
    return marked_fixed(replacement.folder, replacement.target_name.c_str());
}

// Creates the new file beside the target under a name of bounded length.
int create_temporary(Replacement& replacement, int& descriptor) {
    for (unsigned attempt = 0;; ++attempt) {
        std::string name =
            "tarnwel." + std::to_string(process_id()) + "." + std::to_string(attempt) + ".tmp";
        errno = 0;
        // Its maker's alone until complete: another user who opened it
        // meanwhile would keep a descriptor that reads the whole new content.
        descriptor =
            openat(replacement.folder, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (descriptor >= 0) {
            replacement.temporary = name;
            return 0;
        }
        int error = last_error_or();
        if (error != EEXIST || attempt == 1000) return error;
    }
}

// 0 when the open descriptor is the file the path led to (named), EAGAIN
// when the path has since been swapped for another file, or the errno.
int check_same_file(int descriptor, const struct stat& named) {
    struct stat opened {};
    if (fstat(descriptor, &opened) != 0) return last_error_or();
    return opened.st_dev == named.st_dev && opened.st_ino == named.st_ino ? 0 : EAGAIN;
}

// Truncates the target where it is; no O_CREAT, so that a folder that
// refuses new files (or another user's file in a sticky folder) is no bar.
// Only once it is checked to be the file the path led to (named): EAGAIN
// where it is not.
int open_in_place(Replacement& replacement, const struct stat& named, int& descriptor) {
    errno = 0;
    descriptor = openat(replacement.folder, replacement.target_name.c_str(),
                        O_WRONLY | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (descriptor < 0) return last_error_or();
    int error = check_same_file(descriptor, named);
    if (error == 0 && ftruncate(descriptor, 0) != 0) error = last_error_or();
    if (error != 0) {
        close(descriptor);
        descriptor = -1;
        return error;
    }
    replacement.in_place = true;
    return 0;
}

// Opens the old file at the start, to read what the new one gets from the
// file itself rather than from a path that may lead elsewhere by the end:
// for reading where this run may, else only to name it. 0, or EAGAIN where
// it is no longer the file the path led to (named), or the errno.
int read_old_file(Replacement& replacement, const struct stat& named) {
    const char* name = replacement.target_name.c_str();
    constexpr int flags = O_NOFOLLOW | O_NOCTTY | O_CLOEXEC;
    errno = 0;
    int descriptor = openat(replacement.folder, name, O_RDONLY | O_NONBLOCK | flags);
#ifdef O_PATH
    if (descriptor < 0) descriptor = openat(replacement.folder, name, O_PATH | flags);
#endif
    if (descriptor < 0) return last_error_or();
    const int error = check_same_file(descriptor, named);
    if (error == 0) read_old_attributes(descriptor, replacement);
    close(descriptor);
    return error;
}

// Looks at path and fills in where its new version goes. 0, or the error.
int look_at_target(const char* path, Replacement& replacement, struct stat& named) {
    if (*path == '\0') return ENOENT;
    errno = 0;
    replacement.exists = stat(path, &named) == 0;
    if (!replacement.exists && errno != ENOENT) return last_error_or();
    if (replacement.exists && !S_ISREG(named.st_mode))
        return S_ISDIR(named.st_mode) ? EISDIR : not_a_regular_file;
    replacement.target = follow_links(path, replacement.exists ? &named : nullptr);
    if (replacement.target.empty()) return not_a_regular_file;
    std::string folder = folder_of(replacement.target);
    replacement.target_name = replacement.target.substr(folder.size());
    errno = 0;
    replacement.folder = open_folder(folder);
    if (replacement.folder < 0) return last_error_or();
    if (replacement.exists) {
        if (faccessat(replacement.folder, replacement.target_name.c_str(), W_OK, AT_EACCESS) != 0)
            return last_error_or(EACCES);
        return read_old_file(replacement, named);
    }
    replacement.mode = mode_of_a_new_file(replacement.folder);
    return 0;
}

} // namespace

int open_new_version(const char* path, bool in_place_allowed, Replacement& replacement,
                     std::FILE*& file) {
    file = nullptr;
    struct stat named {};
    int error = look_at_target(path, replacement, named);
    if (error != 0) return error;
    int descriptor = -1;
    error = rename_refused(replacement, named) ? EPERM : create_temporary(replacement, descriptor);
    if (error != 0 && replacement.exists && in_place_allowed)
        error = open_in_place(replacement, named, descriptor);
    if (error != 0) return error;
    file = fdopen(descriptor, "wb");
    if (file == nullptr) {
        error = last_error_or();
        close(descriptor);
    }
    return error;
}

void carry_over_attributes(const Replacement& replacement, std::FILE* file) {
    if (file == nullptr) return;
    if (carry_over_hook != nullptr) carry_over_hook();
    // A file written in place keeps what it has, but for the set-user-ID
    // and set-group-ID bits a write clears.
    if (replacement.in_place)
        fchmod(fileno(file), replacement.mode);
    else
        give_attributes(replacement, fileno(file));
}

int commit_new_version(Replacement& replacement) {
    if (replacement.in_place || replacement.temporary.empty()) return 0;
    if (commit_hook != nullptr) commit_hook();
    errno = 0;
    if (renameat(replacement.folder, replacement.temporary.c_str(), replacement.folder,
                 replacement.target_name.c_str()) != 0)
        return last_error_or();
    replacement.temporary.clear();
    return 0;
}

void discard_new_version(Replacement& replacement) {
    if (!replacement.temporary.empty())
        unlinkat(replacement.folder, replacement.temporary.c_str(), 0);
    replacement.temporary.clear();
    if (replacement.folder >= 0) close(replacement.folder);
    replacement.folder = -1;
}

void set_commit_hook(void (*hook)()) {
    commit_hook = hook;
}

void set_carry_over_hook(void (*hook)()) {
    carry_over_hook = hook;
}

} // namespace tarnwel
