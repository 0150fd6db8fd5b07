#include "last_error.h"

#include <cstring>

namespace tarnwel {

const char* error_text(int error_number) {
    if (error_number == not_a_regular_file) return "not a regular file";
    return std::strerror(error_number);
}

} // namespace tarnwel
