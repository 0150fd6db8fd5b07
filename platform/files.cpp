// What the platform's file functions build on the system's own.
#include <cerrno>

#include "platform/files.h"

namespace tarnwel {

int create_unique_file(const char* prefix, std::string& path) {
    for (unsigned attempt = 0;; ++attempt) {
        path = std::string(prefix) + "." + std::to_string(process_id()) + "." +
               std::to_string(attempt) + ".tmp";
        int error = create_new_file(path.c_str());
        if (error == 0) return 0;
        if (error != EEXIST || attempt == 1000) {
            path.clear();
            return error;
        }
    }
}

} // namespace tarnwel
