#include "driver/messages.h"

#include <cstdio>

#include "platform/console.h"
#include "platform/last_error.h"

namespace tarnwel {

void clear_console() {
    if (output_is_terminal()) std::fputs("\033[H\033[2J", stdout);
}

void report_file_error(const char* what, const char* path, int error_number) {
    std::printf("tarnwel: %s %s: %s\n", what, path, error_text(error_number));
}

void report_staging_error(const char* staging_path, const char* output_path, int error_number) {
    std::printf("tarnwel: cannot write staging file %s for output %s: %s\n", staging_path,
                output_path, error_text(error_number));
}

} // namespace tarnwel
