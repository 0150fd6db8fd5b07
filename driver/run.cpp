// The run sequence: check the command line, open the files, then compress
// (the pass that searches the width and compresses, the width file, the
// report) or expand.
//
// What a run that does not finish leaves behind: an output it created or
// truncated is removed when it fails after opening it or is ended by a
// signal (a corrupt stream is the exception: what was expanded before the
// fault stays). The width file is replaced only once the stream is complete
// and the output closed, so a failed run leaves the previous one.
#include "driver/run.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "codec/compressor.h"
#include "codec/expander.h"
#include "driver/file_io.h"
#include "driver/messages.h"
#include "driver/progress.h"
#include "platform/command_line.h"
#include "platform/files.h"
#include "platform/last_error.h"
#include "platform/run_guard.h"
#include "width/width_file.h"

namespace tarnwel {

namespace {

constexpr int exit_ok = 0;
constexpr int exit_usage = 1;
constexpr int exit_failure = 2;
constexpr int exit_corrupt_stream = -3;

using Clock = std::chrono::steady_clock;

struct RunState {
    const char* input_path;
    const char* output_path;
    Clock::time_point start;
    std::FILE* input = nullptr;
    std::FILE* output = nullptr;
    int output_guard = -1;
    ProgressLine progress;
    StagedWidth width;
    int width_guard = -1;
    int width_file_error = 0;
    int bits = default_bits; // when expanding, the width read from the width file
    ExpanderTables tables;
};

void close_files(RunState& state) {
    if (state.input != nullptr) std::fclose(state.input);
    if (state.output != nullptr) std::fclose(state.output);
    state.input = state.output = nullptr;
}

// Closes the output, where a full disk may show itself only now.
bool close_output(RunState& state) {
    errno = 0;
    bool closed = std::fclose(state.output) == 0;
    state.output = nullptr;
    if (!closed) report_file_error("cannot write output", state.output_path, last_error_or());
    return closed;
}

int report_codec_failure(const RunState& state, const CodecResult& result, int bits) {
    switch (result.status) {
    case CodecStatus::read_failed:
        report_file_error("cannot read input", state.input_path, result.error_number);
        break;
    case CodecStatus::write_failed:
        report_file_error("cannot write output", state.output_path, result.error_number);
        break;
    case CodecStatus::out_of_memory:
        report_out_of_memory(bits);
        break;
    case CodecStatus::corrupt_stream:
        report_corrupt_stream();
        return exit_corrupt_stream;
    case CodecStatus::ok:
        return exit_ok;
    }
    return exit_failure;
}

void trial_started(RunState& state, int bits) {
    auto& progress = state.progress;
    erase_progress(progress);
    announce_trial(bits);
    start_phase(progress, "Testing BITS = " + std::to_string(bits));
}

std::function<void(std::uint64_t)> progress_hook(RunState& state) {
    return [&state](std::uint64_t bytes_done) { report_progress(bytes_done, &state.progress); };
}

void print_report(const RunState& state, const CodecResult& result) {
    double seconds = std::chrono::duration<double>(Clock::now() - state.start).count();
    print_run_report(state.input_path, result.bytes_in, state.output_path, result.bytes_out,
                     seconds);
}

// Once the width is known: its messages and the width file. False when the
// width file cannot be staged.
bool width_chosen(RunState& state, const WidthChoice& choice) {
    if (choice.last_trial_fit) announce_last_trial_fit(choice.last_trial_bits);
    // Without the width file the stream cannot be expanded: failing to write
    // it fails the run.
    {
        // The staged file is removed by whatever ends the run. SignalsHeld
        // holds the signals off for this thread only, which is enough because
        // no helper thread is alive here: compress() has joined its own.
        SignalsHeld held;
        state.width_file_error = stage_width_file(width_file_name, choice.bits, state.width);
        if (state.width_file_error == 0)
            state.width_guard = guard_path(state.width.temporary.c_str());
    }
    if (state.width_file_error != 0) {
        report_file_error("cannot write width file", width_file_name, state.width_file_error);
        return false;
    }
    announce_compressing(choice.bits);
    return true;
}

// A failure to write the staging file, when the output is staged, or the codec's.
int report_compress_failure(const RunState& state, const StreamOutput& stream,
                            const CodecResult& result, int bits) {
    if (stream.staged && result.status == CodecStatus::write_failed) {
        report_staging_error(stream.staging_path.c_str(), state.output_path, result.error_number);
        return exit_failure;
    }
    return report_codec_failure(state, result, bits);
}

// Copies a staged stream out to the output. False, with the message printed,
// when that fails.
bool deliver_stream(const RunState& state, StreamOutput& stream) {
    int error = finish_stream_output(stream);
    if (stream.staging_error != 0)
        report_staging_error(stream.staging_path.c_str(), state.output_path, stream.staging_error);
    else if (error != 0)
        report_file_error("cannot write output", state.output_path, error);
    return stream.staging_error == 0 && error == 0;
}

// Compresses into the output, or into a staging file copied to it at the end.
int compress_mode(RunState& state) {
    StreamOutput stream;
    if (!open_stream_output(stream, state.output)) {
        report_staging_error(stream.staging_path.c_str(), state.output_path, stream.staging_error);
        return exit_failure;
    }
    FileSource input(state.input, progress_hook(state));
    CompressOptions options;
    options.trial_started = [&state](int bits) { trial_started(state, bits); };
    WidthChoice choice = compress(input, *stream.sink, options);
    erase_progress(state.progress);
    bool go_on = !choice.width_known || width_chosen(state, choice);
    if (go_on && choice.result.status != CodecStatus::ok) {
        close_stream_output(stream);
        return report_compress_failure(state, stream, choice.result, choice.last_trial_bits);
    }
    if (!go_on || !deliver_stream(state, stream)) {
        close_stream_output(stream);
        return exit_failure;
    }
    if (!close_output(state)) return exit_failure;
    {
        // Keeping the output and replacing the width file go together (no
        // helper thread is alive to take a signal meanwhile).
        SignalsHeld held;
        int error = commit_width_file(state.width, width_file_name);
        if (error != 0) {
            report_file_error("cannot write width file", width_file_name, error);
            return exit_failure;
        }
        release_guard(state.output_guard);
        release_guard(state.width_guard);
    }
    print_report(state, choice.result);
    return exit_ok;
}

// Everything an expanding run needs before its output is opened: a run that
// fails here leaves every file as it was.
bool prepare_expanding(RunState& state) {
    WidthFileResult width = read_width_file(width_file_name, state.bits);
    if (width.status == WidthFileStatus::unreadable) {
        report_file_error("cannot read width file", width_file_name, width.error_number);
        return false;
    }
    if (width.status == WidthFileStatus::out_of_range) {
        std::printf("tarnwel: width file %s holds no width from %d to %d\n", width_file_name,
                    min_bits, max_bits);
        return false;
    }
    if (!allocate_expander(state.tables, state.bits)) {
        CodecResult failure{CodecStatus::out_of_memory};
        report_codec_failure(state, failure, state.bits);
        return false;
    }
    return true;
}

int decompress_mode(RunState& state) {
    announce_expanding();
    start_phase(state.progress, "Expanding");
    FileSource input(state.input, progress_hook(state));
    FileSink output(state.output);
    CodecResult result = expand_stream(state.tables, input, output);
    erase_progress(state.progress);
    // The output keeps what was expanded before a corrupt code, so it is
    // closed (and checked) before the verdict.
    if (!close_output(state)) return exit_failure;
    if (result.status == CodecStatus::ok || result.status == CodecStatus::corrupt_stream)
        release_guard(state.output_guard);
    return report_codec_failure(state, result, state.bits);
}

// Refuses runs that would destroy a file they still need: the output
// truncating the input, or the width file written over either data file.
bool files_are_distinct(RunState& state, bool compressing) {
    if (is_same_file(state.input, state.output_path)) {
        std::printf("tarnwel: input %s and output %s are the same file\n", state.input_path,
                    state.output_path);
        return false;
    }
    if (compressing && is_same_file(state.input, width_file_name)) {
        std::printf("tarnwel: input %s is the width file %s, which this run rewrites\n",
                    state.input_path, width_file_name);
        return false;
    }
    return true;
}

// Creates or truncates the output, guarded from the moment it exists.
bool open_output(RunState& state) {
    SignalsHeld held;
    errno = 0;
    state.output = create_output_file(state.output_path);
    if (state.output == nullptr) {
        report_file_error("cannot create output", state.output_path, last_error_or());
        return false;
    }
    state.output_guard = guard_file(state.output_path, state.output);
    return true;
}

// The steps up to the mode's own work; false when the run must stop, with
// the message printed.
bool prepare_run(RunState& state, bool compressing) {
    state.input = open_input_file(state.input_path);
    if (state.input == nullptr) {
        report_file_error("cannot open input", state.input_path, errno);
        return false;
    }
    state.progress = make_progress_line(regular_file_size(state.input).value_or(0));
    if (!files_are_distinct(state, compressing)) return false;
    // By place, not only by file: the width file may not exist yet.
    if (is_same_place(state.output_path, width_file_name)) {
        std::printf("tarnwel: output %s is the width file %s\n", state.output_path,
                    width_file_name);
        return false;
    }
    if (!compressing && !prepare_expanding(state)) return false;
    return open_output(state);
}

} // namespace

int run(int argc, char** argv) {
    // Before any file is opened, so that none takes the place of a closed
    // standard descriptor and receives the messages.
    if (!open_standard_descriptors()) return exit_failure;
    install_interrupt_handlers();
    clear_console();
    RunState state{};
    state.start = Clock::now();
    if (argc != 4) {
        std::printf("\nUSAGE : Tarnwel c/d input output\t\t(c:compress, d:decompress)\n");
        return exit_usage;
    }
    const std::vector<std::string> arguments = command_line(argc, argv);
    const bool compressing = arguments[1][0] == 'c';
    state.input_path = arguments[2].c_str();
    state.output_path = arguments[3].c_str();

    int status = exit_failure;
    if (prepare_run(state, compressing))
        status = compressing ? compress_mode(state) : decompress_mode(state);
    close_files(state);
    // A run that succeeded or met a corrupt stream has released its guards;
    // any other leaves nothing half-written.
    remove_guarded_files();
    discard_width_file(state.width);
    std::fflush(stdout);
    return status;
}

} // namespace tarnwel
