#include "driver/data_files.h"

#include <cerrno>
#include <sys/stat.h>

namespace tarnwel {

std::FILE* open_input(const char* path) {
    errno = 0;
    std::FILE* file = std::fopen(path, "rb");
    if (file == nullptr) return nullptr;
    struct stat info {};
    int error = 0;
    if (fstat(fileno(file), &info) != 0)
        error = errno;
    else if (S_ISDIR(info.st_mode))
        error = EISDIR;
    if (error != 0) {
        std::fclose(file);
        errno = error;
        return nullptr;
    }
    return file;
}

bool is_same_file(std::FILE* file, const char* path) {
    struct stat open_info;
    struct stat path_info;
    if (fstat(fileno(file), &open_info) != 0 || stat(path, &path_info) != 0) return false;
    return open_info.st_dev == path_info.st_dev && open_info.st_ino == path_info.st_ino;
}

} // namespace tarnwel
