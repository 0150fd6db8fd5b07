#include "platform/replacement.h"

#include <cerrno>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <vector>

#include "platform/files.h"
#include "platform/last_error.h"
#include "platform/paths_posix.h"

namespace tarnwel {

namespace {

void (*commit_hook)() = nullptr;

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

// Whether a new file renamed over target would be refused although the
// folder may be written: another user's file in a folder with the sticky
// bit, or a file marked append-only or immutable.
bool rename_refused(const Replacement& replacement, const struct stat& target) {
    struct stat folder {};
    if (fstat(replacement.folder, &folder) != 0) return false;
    uid_t me = geteuid();
    if ((folder.st_mode & S_ISVTX) != 0 && me != 0 && target.st_uid != me && folder.st_uid != me)
        return true;
#ifdef STATX_ATTR_APPEND
    struct statx flags {};
    if (statx(replacement.folder, replacement.target_name.c_str(), 0, STATX_BASIC_STATS, &flags) ==
        0) {
        constexpr auto fixed = STATX_ATTR_APPEND | STATX_ATTR_IMMUTABLE;
        if ((flags.stx_attributes & flags.stx_attributes_mask & fixed) != 0) return true;
    }
#endif
    return false;
}

// Creates the new file beside the target under a name of bounded length.
int create_temporary(Replacement& replacement, int& descriptor) {
    for (unsigned attempt = 0;; ++attempt) {
        std::string name =
            "tarnwel." + std::to_string(process_id()) + "." + std::to_string(attempt) + ".tmp";
        errno = 0;
        // Mode 0666 less the umask: the file gets the permissions any new file would.
        descriptor =
            openat(replacement.folder, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (descriptor >= 0) {
            replacement.temporary = name;
            return 0;
        }
        int error = last_error_or();
        if (error != EEXIST || attempt == 1000) return error;
    }
}

// Truncates the target where it is; no O_CREAT, so that a folder that
// refuses new files (or another user's file in a sticky folder) is no bar.
int open_in_place(Replacement& replacement, int& descriptor) {
    errno = 0;
    descriptor =
        openat(replacement.folder, replacement.target_name.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (descriptor < 0) return last_error_or();
    replacement.in_place = true;
    return 0;
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
        replacement.mode = named.st_mode & 07777;
        replacement.owner = named.st_uid;
        replacement.group = named.st_gid;
    }
    return 0;
}

void give_old_owner(const Replacement& replacement, int descriptor) {
    if (fchown(descriptor, static_cast<uid_t>(replacement.owner),
               static_cast<gid_t>(replacement.group)) != 0) {
        // Only the superuser may give a file away; the group alone may do.
        [[maybe_unused]] int ignored =
            fchown(descriptor, static_cast<uid_t>(-1), static_cast<gid_t>(replacement.group));
    }
}

// Gives the new file the old one's owner and permission bits while it is
// written, so that it is never open to more readers than the old one was.
void protect_while_written(const Replacement& replacement, int descriptor) {
    if (!replacement.exists) return;
    give_old_owner(replacement, descriptor);
    fchmod(descriptor, replacement.mode & 0777);
}

void copy_extended_attributes(const Replacement& replacement, int descriptor) {
    std::vector<char> names(1 << 16);
    ssize_t length = listxattr(replacement.target.c_str(), names.data(), names.size());
    std::vector<char> value(1 << 16);
    for (ssize_t at = 0; at < length;) {
        const char* name = names.data() + at;
        at += static_cast<ssize_t>(std::char_traits<char>::length(name)) + 1;
        ssize_t size = getxattr(replacement.target.c_str(), name, value.data(), value.size());
        // One that this run may not set (another's security label, a trusted
        // attribute without privilege) is left behind.
        if (size >= 0) fsetxattr(descriptor, name, value.data(), static_cast<size_t>(size), 0);
    }
}

} // namespace

int open_new_version(const char* path, bool in_place_allowed, Replacement& replacement,
                     std::FILE*& file) {
    file = nullptr;
    struct stat named {};
    int error = look_at_target(path, replacement, named);
    if (error != 0) return error;
    int descriptor = -1;
    bool may_rename = !replacement.exists || !rename_refused(replacement, named);
    error = may_rename ? create_temporary(replacement, descriptor) : EPERM;
    if (error != 0 && replacement.exists && in_place_allowed)
        error = open_in_place(replacement, descriptor);
    if (error != 0) return error;
    if (!replacement.in_place) protect_while_written(replacement, descriptor);
    file = fdopen(descriptor, "wb");
    if (file == nullptr) {
        error = last_error_or();
        close(descriptor);
    }
    return error;
}

void carry_over_attributes(const Replacement& replacement, std::FILE* file) {
    if (!replacement.exists || file == nullptr) return;
    int descriptor = fileno(file);
    // The owner was given when the file was made, and writing keeps it.
    if (!replacement.in_place) copy_extended_attributes(replacement, descriptor);
    fchmod(descriptor, replacement.mode);
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

} // namespace tarnwel
