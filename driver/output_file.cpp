#include "output_file.h"

#include <cerrno>
#include <vector>

#include "files.h"
#include "last_error.h"
#include "run_guard.h"

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
    if (output.replacing) {
        carry_over_attributes(output.replacement, output.file);
        // A file written in place stays open, so that its guard can still empty it.
        if (output.replacement.in_place) return 0;
    }
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

bool open_stream_output(StreamOutput& stream, std::FILE* output) {
    stream.output = output;
    if (regular_file_size(output)) {
        stream.sink.emplace(output);
        return true;
    }
    stream.staged = true;
    stream.staging = open_staging_file(stream.staging_path, stream.staging_error);
    if (stream.staging == nullptr) return false;
    stream.sink.emplace(stream.staging);
    return true;
}

namespace {

// Copies the staging file, from its start, to the output.
int copy_staged(StreamOutput& stream) {
    stream.staging_error = seek_file(stream.staging, 0);
    std::vector<std::uint8_t> block(1 << 16);
    while (stream.staging_error == 0) {
        errno = 0;
        std::size_t got = std::fread(block.data(), 1, block.size(), stream.staging);
        if (got == 0) {
            if (std::ferror(stream.staging)) stream.staging_error = last_error_or();
            break;
        }
        errno = 0;
        if (std::fwrite(block.data(), 1, got, stream.output) != got) return last_error_or();
    }
    if (stream.staging_error != 0) return 0;
    errno = 0;
    return std::fflush(stream.output) == 0 ? 0 : last_error_or();
}

} // namespace

int finish_stream_output(StreamOutput& stream) {
    if (stream.staging == nullptr) return 0;
    int error_number = copy_staged(stream);
    close_stream_output(stream);
    return error_number;
}

void close_stream_output(StreamOutput& stream) {
    if (stream.staging != nullptr) std::fclose(stream.staging);
    stream.staging = nullptr;
}

} // namespace tarnwel
