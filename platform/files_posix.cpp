#include "files.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "last_error.h"
#include "paths_posix.h"

namespace tarnwel {

std::string folder_of(const std::string& path) {
    std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::optional<std::string> link_target(const std::string& path) {
    std::string target(4096, '\0');
    ssize_t length = readlink(path.c_str(), target.data(), target.size());
    if (length <= 0 || static_cast<std::size_t>(length) == target.size()) return std::nullopt;
    target.resize(static_cast<std::size_t>(length));
    return target;
}

namespace {

struct Place {
    bool exists = false; // dev and ino are the file's; else its folder's
    dev_t dev = 0;
    ino_t ino = 0;
    std::string name; // where the file does not exist: the name it would get
};

int kind_error(const struct stat& info, bool regular_only) {
    if (S_ISDIR(info.st_mode)) return EISDIR;
    return S_ISREG(info.st_mode) || !regular_only ? 0 : not_a_regular_file;
}

// Opens path for binary reading and checks on the open descriptor what it
// is: a folder is refused (stdio would open it and fail only on the first
// read), and so is anything but a regular file where only one will do.
std::FILE* open_checked(const char* path, int flags, bool regular_only, int& error) {
    errno = 0;
    int descriptor = open(path, flags | O_CLOEXEC);
    if (descriptor < 0) {
        error = last_error_or(ENOENT);
        return nullptr;
    }
    struct stat info {};
    error = fstat(descriptor, &info) != 0 ? last_error_or() : kind_error(info, regular_only);
    std::FILE* file = error == 0 ? fdopen(descriptor, "rb") : nullptr;
    if (file == nullptr) {
        if (error == 0) error = last_error_or();
        close(descriptor);
    }
    return file;
}

std::optional<Place> place_of(std::string path) {
    // As many links as the kernel follows before it gives up.
    for (int hops = 0; hops < 40; ++hops) {
        struct stat info {};
        if (stat(path.c_str(), &info) == 0) return Place{true, info.st_dev, info.st_ino, {}};
        if (lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode)) {
            // A dangling link: creating the path creates the link's target.
            std::optional<std::string> target = link_target(path);
            if (!target) return std::nullopt;
            path = (*target)[0] == '/' ? *target : folder_of(path) + *target;
            continue;
        }
        std::string folder = folder_of(path);
        std::string name = path.substr(folder.size());
        if (name.empty() || name == "." || name == "..") return std::nullopt;
        if (stat(folder.empty() ? "." : folder.c_str(), &info) != 0) return std::nullopt;
        return Place{false, info.st_dev, info.st_ino, name};
    }
    return std::nullopt;
}

} // namespace

std::FILE* create_output_file(const char* path) {
    return std::fopen(path, "wb");
}

std::FILE* open_staging_file(std::string& path, int& error) {
    const char* folder = std::getenv("TMPDIR");
    if (folder == nullptr || *folder == '\0') folder = "/tmp";
    path = std::string(folder) + (folder[std::strlen(folder) - 1] == '/' ? "" : "/") +
           "tarnwel-XXXXXX";
    std::string name = path; // mkostemp may leave its guesses in a name it fails with
    errno = 0;
    int descriptor = mkostemp(name.data(), O_CLOEXEC);
    if (descriptor < 0) {
        error = last_error_or();
        return nullptr;
    }
    path = name;
    unlink(path.c_str());
    std::FILE* file = fdopen(descriptor, "w+b");
    if (file == nullptr) {
        error = last_error_or();
        close(descriptor);
    }
    return file;
}

// An offset past 2 GiB must reach the system.
static_assert(sizeof(off_t) >= sizeof(std::int64_t), "off_t holds 64-bit file positions");

int seek_file(std::FILE* file, std::uint64_t position) {
    errno = 0;
    return fseeko(file, static_cast<off_t>(position), SEEK_SET) == 0 ? 0 : last_error_or();
}

std::FILE* open_input_file(const char* path) {
    int error = 0;
    std::FILE* file = open_checked(path, O_RDONLY, false, error);
    if (file == nullptr) errno = error;
    return file;
}

bool is_same_file(std::FILE* file, const char* path) {
    struct stat open_info {};
    struct stat path_info {};
    if (fstat(fileno(file), &open_info) != 0 || stat(path, &path_info) != 0) return false;
    return open_info.st_dev == path_info.st_dev && open_info.st_ino == path_info.st_ino;
}

bool is_same_place(const char* first, const char* second) {
    std::optional<Place> a = place_of(first);
    std::optional<Place> b = place_of(second);
    return a && b && a->exists == b->exists && a->dev == b->dev && a->ino == b->ino &&
           a->name == b->name;
}

std::optional<std::uint64_t> regular_file_size(std::FILE* file) {
    struct stat info {};
    if (fstat(fileno(file), &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
    return static_cast<std::uint64_t>(info.st_size);
}

std::FILE* open_regular_file(const char* path, int& error) {
    // Not waiting on the open: a FIFO with no writer would block it. Reads of
    // a regular file never wait, so the flag changes nothing from there on.
    return open_checked(path, O_RDONLY | O_NONBLOCK, true, error);
}

void start_writeback(std::FILE* file, std::uint64_t offset, std::uint64_t length) {
#ifdef __linux__
    sync_file_range(fileno(file), static_cast<off_t>(offset), static_cast<off_t>(length),
                    SYNC_FILE_RANGE_WRITE);
#else
    (void)file;
    (void)offset;
    (void)length;
#endif
}

int truncate_file(std::FILE* file, std::uint64_t size) {
    errno = 0;
    if (std::fflush(file) != 0 || ftruncate(fileno(file), static_cast<off_t>(size)) != 0)
        return last_error_or();
    return 0;
}

unsigned long process_id() {
    return static_cast<unsigned long>(getpid());
}

} // namespace tarnwel
