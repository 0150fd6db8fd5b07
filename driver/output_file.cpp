#include "driver/output_file.h"

#include <cerrno>

#include "platform/files.h"
#include "platform/last_error.h"
#include "platform/run_guard.h"

namespace tarnwel {

namespace {

// Opening a FIFO waits for its reader, so signals are not held: nothing has
// been created that an interrupted wait would leave behind.
int open_where_it_is(OutputFile& output) {
    output.replacing = false;
    errno = 0;
    output.file = create_output_file(output.path);
    return output.file != nullptr ? 0 : last_error_or();
}

} // namespace

int open_output_file(OutputFile& output) {
    int error = 0;
    {
        // Held from the moment a file exists until it is guarded.
        SignalsHeld held;
        output.replacing = true;
        error = open_new_version(output.path, true, output.replacement, output.file);
        if (error == 0) output.guard = guard_new_version(output.replacement, output.file);
    }
    if (error != not_a_regular_file) return error;
    discard_new_version(output.replacement);
    return open_where_it_is(output);
}

int finish_output_file(OutputFile& output) {
    errno = 0;
    if (std::fflush(output.file) != 0) return last_error_or();
    if (!output.replacing) return 0;
    carry_over_attributes(output.replacement, output.file);
    // A file written in place stays open, so that its guard can still empty it.
    if (output.replacement.in_place) return 0;
    errno = 0;
    int closed = std::fclose(output.file);
    output.file = nullptr;
    return closed == 0 ? 0 : last_error_or();
}

int keep_output_file(OutputFile& output) {
    if (output.replacing) {
        int error = commit_new_version(output.replacement);
        if (error != 0) return error;
    }
    release_guard(output.guard);
    output.guard = -1;
    return 0;
}

void release_output_file(OutputFile& output) {
    if (output.file != nullptr) std::fclose(output.file);
    output.file = nullptr;
    discard_new_version(output.replacement);
}

} // namespace tarnwel
