// The run sequence: check the command line, open the files, then compress
// (the pass that searches the width and compresses, the width file, the
// report) or expand.
//
// What a run that does not finish leaves behind: nothing (output_file.h
// says how the output is written; a corrupt stream counts as complete:
// what was expanded before the fault is kept). The width file is replaced
// only once the stream is complete and in place, so a failed run leaves
// the previous one. Until both are in place a signal ends the run (the
// hint's scan of a corrupt stream comes before); once they are, the run is
// done: a signal that arrives while they are put there no longer ends it.
#include "run.h"

#include <bit>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "command_line.h"
#include "file_io.h"
#include "files.h"
#include "last_error.h"
#include "messages.h"
#include "output_file.h"
#include "progress.h"
#include "run_guard.h"
#include "tarnwel.h"
#include "width_file.h"

namespace tarnwel {

namespace {

constexpr int exit_ok = 0;
constexpr int exit_usage = 1;
constexpr int exit_failure = 2;
constexpr int exit_corrupt_stream = -3;

// The hint's scan reads the whole input once more: past this size it is
// skipped, since the hint is a courtesy and the wait would not be.
constexpr std::uint64_t largest_input_scanned = std::uint64_t{256} << 20;

void (*hint_scan_hook)() = nullptr;

using Clock = std::chrono::steady_clock;

// What a pass over a stream came to, in the terms the messages need.
struct PassOutcome {
    tarnwel_status status = TARNWEL_OK;
    int error_number = 0; // of a failed read or write, as the file gave it
    std::uint64_t bytes_in = 0;
    std::uint64_t bytes_out = 0;
};

struct RunState {
    const char* input_path;
    const char* output_path;
    Clock::time_point start;
    std::FILE* input = nullptr;
    OutputFile output;
    std::optional<std::uint64_t> input_size; // a regular input's size at the start
    ProgressLine progress;
    StagedWidth width_file;
    int width_guard = -1;
    int width_file_error = 0;
    int width = 12; // the width read from the width file (12 without a number), or the trial
                    // in progress
    tarnwel_expander* expander = nullptr; // made before an expanding run opens its output
};

// Finishes the output, where a full disk may show itself only now.
bool finish_output(RunState& state) {
    int error = finish_output_file(state.output);
    if (error != 0) report_file_error(cannot_write_output, state.output_path, error);
    return error == 0;
}

int report_codec_failure(const RunState& state, const PassOutcome& result, int width) {
    switch (result.status) {
    case TARNWEL_READ_FAILED:
        report_file_error(cannot_read_input, state.input_path, result.error_number);
        break;
    case TARNWEL_WRITE_FAILED:
        report_file_error(cannot_write_output, state.output_path, result.error_number);
        break;
    case TARNWEL_OUT_OF_MEMORY:
        report_out_of_memory(width);
        break;
    case TARNWEL_CORRUPT_STREAM:
        report_corrupt_stream();
        return exit_corrupt_stream;
    case TARNWEL_OK:
        return exit_ok;
    default: // the driver's calls are well formed: none of the others comes back
        break;
    }
    return exit_failure;
}

PassOutcome outcome_of(tarnwel_status status, const FileSource& input, const FileSink& output,
                       std::uint64_t bytes_in, std::uint64_t bytes_out) {
    PassOutcome outcome{status, 0, bytes_in, bytes_out};
    if (status == TARNWEL_READ_FAILED) outcome.error_number = input.error();
    if (status == TARNWEL_WRITE_FAILED) outcome.error_number = output.error();
    return outcome;
}

void trial_started(RunState& state, int width) {
    state.width = width;
    auto& progress = state.progress;
    erase_progress(progress);
    announce_trial(width);
    start_phase(progress, trial_phase(width));
}

std::function<void(std::uint64_t)> progress_hook(RunState& state) {
    return [&state](std::uint64_t bytes_done) { report_progress(state.progress, bytes_done); };
}

void print_report(const RunState& state, const PassOutcome& result) {
    double seconds = std::chrono::duration<double>(Clock::now() - state.start).count();
    print_run_report(state.input_path, result.bytes_in, state.output_path, result.bytes_out,
                     seconds);
}

// Once the width is known: its messages and the width file. False when the
// width file cannot be staged.
bool width_chosen(RunState& state, const tarnwel_compress_report& choice) {
    if (choice.last_trial_fit) announce_last_trial_fit(choice.last_trial_width);
    // Without the width file the stream cannot be expanded: failing to write
    // it fails the run.
    state.width_file_error = write_staged_width(state.width_file, choice.width);
    if (state.width_file_error != 0) {
        report_file_error(cannot_write_width_file, width_file_name, state.width_file_error);
        return false;
    }
    announce_compressing(choice.width);
    return true;
}

// A failure to write the staging file, when the output is staged, or the codec's.
int report_compress_failure(const RunState& state, const StreamOutput& stream,
                            const PassOutcome& result, int width) {
    if (stream.staged && result.status == TARNWEL_WRITE_FAILED) {
        report_staging_error(stream.staging_path.c_str(), state.output_path, result.error_number);
        return exit_failure;
    }
    return report_codec_failure(state, result, width);
}

// A regular input that is now shorter than at the start, or that ended
// before that size (bytes_read, where the pass reads to the end), was cut
// while being read: what was made of it holds only part of it. One that
// grew was read to its new end.
bool input_shrank(const RunState& state, std::optional<std::uint64_t> bytes_read) {
    if (!state.input_size) return false;
    std::optional<std::uint64_t> size_now = regular_file_size(state.input);
    bool cut = (bytes_read && *bytes_read < *state.input_size) ||
               (size_now && *size_now < *state.input_size);
    if (!cut) return false;
    report_input_changed(state.input_path);
    return true;
}

// Puts the finished output in its place (or keeps it where it was written)
// and, when compressing, the new width file in the old one's; from then on
// the run is done, and a signal no longer ends it. The two go together
// under held signals (no helper thread is alive to take one meanwhile).
// False, with the message printed, when either cannot take its place.
bool put_files_in_place(RunState& state, bool with_width) {
    SignalsHeld held;
    int error = keep_output_file(state.output);
    if (error != 0) {
        report_file_error(cannot_write_output, state.output_path, error);
        return false;
    }
    if (with_width) {
        error = commit_width_file(state.width_file);
        if (error != 0) {
            report_file_error(cannot_write_width_file, width_file_name, error);
            return false;
        }
        release_guard(state.width_guard);
    }
    stop_ending_on_signals();
    return true;
}

// Copies a staged stream out to the output. False, with the message printed,
// when that fails.
bool deliver_stream(const RunState& state, StreamOutput& stream) {
    int error = finish_stream_output(stream);
    if (stream.staging_error != 0)
        report_staging_error(stream.staging_path.c_str(), state.output_path, stream.staging_error);
    else if (error != 0)
        report_file_error(cannot_write_output, state.output_path, error);
    return stream.staging_error == 0 && error == 0;
}

// Compresses into the output, or into a staging file copied to it at the end.
int compress_mode(RunState& state) {
    StreamOutput stream;
    if (!open_stream_output(stream, state.output.file)) {
        report_staging_error(stream.staging_path.c_str(), state.output_path, stream.staging_error);
        return exit_failure;
    }
    if (!stream.staged && replaces_existing_file(state.output)) stream.sink->write_back_early();
    FileSource input(state.input, progress_hook(state));
    const tarnwel_source source = source_of(input);
    const tarnwel_sink sink = sink_of(*stream.sink);
    tarnwel_compress_report choice;
    tarnwel_status status = tarnwel_compress_stream(
        &source, &sink, TARNWEL_MAX_WIDTH,
        [](void* context, int width) { trial_started(*static_cast<RunState*>(context), width); },
        &state, &choice);
    PassOutcome result = outcome_of(status, input, *stream.sink, choice.bytes_in, choice.bytes_out);
    erase_progress(state.progress);
    bool go_on = !choice.width_known || width_chosen(state, choice);
    if (go_on && result.status != TARNWEL_OK) {
        close_stream_output(stream);
        return report_compress_failure(state, stream, result, state.width);
    }
    if (!go_on || input_shrank(state, result.bytes_in) || !deliver_stream(state, stream)) {
        close_stream_output(stream);
        return exit_failure;
    }
    if (!finish_output(state) || !put_files_in_place(state, true)) return exit_failure;
    print_report(state, result);
    return exit_ok;
}

// The one width at which the input reads whole, or 0: when it reads at
// none or at several, or is not a regular file, which cannot be read a
// second time, or is larger than largest_input_scanned. The input is read
// from its start and left there. The run's signals still end it meanwhile.
int only_fitting_width(const RunState& state) {
    if (!state.input_size || *state.input_size > largest_input_scanned) return 0;
    if (hint_scan_hook != nullptr) hint_scan_hook();
    unsigned widths = 0;
    {
        FileSource input(state.input);
        const tarnwel_source source = source_of(input);
        if (tarnwel_scan_widths_stream(&source, &widths) != TARNWEL_OK) widths = 0;
    }
    if (seek_file(state.input, 0) != 0 || widths == 0 || (widths & (widths - 1)) != 0) return 0;
    return std::countr_zero(widths);
}

// After an expanding run's failure: a hint at the width to use, when it is
// not the one this run used (0: none), found by other_width. Only a hint:
// the run's status and messages stay as they are.
int other_width(const RunState& state, int used) {
    int width = only_fitting_width(state);
    return width != used ? width : 0;
}

void suggest_other_width(int width) {
    if (width != 0) suggest_width(width_file_name, width);
}

// Everything an expanding run needs before its output is opened: a run that
// fails here leaves every file as it was.
bool prepare_expanding(RunState& state) {
    WidthFileResult width = read_width_file(width_file_name, state.width);
    if (width.status == WidthFileStatus::unreadable) {
        report_file_error(cannot_read_width_file, width_file_name, width.error_number);
        suggest_other_width(other_width(state, 0));
        return false;
    }
    if (width.status == WidthFileStatus::out_of_range) {
        report_no_width(width_file_name);
        suggest_other_width(other_width(state, 0));
        return false;
    }
    tarnwel_status made = tarnwel_expander_create(state.width, &state.expander);
    if (made != TARNWEL_OK) {
        report_codec_failure(state, PassOutcome{made}, state.width);
        return false;
    }
    return true;
}

int decompress_mode(RunState& state) {
    announce_expanding();
    start_phase(state.progress, expanding_phase());
    FileSource input(state.input, progress_hook(state));
    FileSink output(state.output.file);
    if (replaces_existing_file(state.output)) output.write_back_early();
    const tarnwel_source source = source_of(input);
    const tarnwel_sink sink = sink_of(output);
    unsigned long long bytes_in = 0, bytes_out = 0;
    tarnwel_status status =
        tarnwel_expander_expand_stream(state.expander, &source, &sink, &bytes_in, &bytes_out);
    PassOutcome result = outcome_of(status, input, output, bytes_in, bytes_out);
    erase_progress(state.progress);
    // A file that shrank while it was read says so, rather than leaving the
    // expander's verdict on a stream cut wherever the file ended.
    if (input_shrank(state, std::nullopt)) return exit_failure;
    // The output keeps what was expanded before a corrupt code, so it is
    // finished (and checked) before the verdict.
    if (!finish_output(state)) return exit_failure;
    // Scanned while a signal still ends the run, and said after the verdict.
    int hint = result.status == TARNWEL_CORRUPT_STREAM ? other_width(state, state.width) : 0;
    if ((result.status == TARNWEL_OK || result.status == TARNWEL_CORRUPT_STREAM) &&
        !put_files_in_place(state, false))
        return exit_failure;
    int exit_status = report_codec_failure(state, result, state.width);
    suggest_other_width(hint);
    return exit_status;
}

// Refuses runs that would destroy a file they still need: the output
// truncating the input, or the width file written over either data file.
bool files_are_distinct(RunState& state, bool compressing) {
    if (is_same_file(state.input, state.output_path)) {
        report_same_file(state.input_path, state.output_path);
        return false;
    }
    if (compressing && is_same_file(state.input, width_file_name)) {
        report_input_is_width_file(state.input_path, width_file_name);
        return false;
    }
    return true;
}

bool open_output(RunState& state) {
    state.output.path = state.output_path;
    int error = open_output_file(state.output);
    if (error != 0) {
        report_file_error(cannot_create_output, state.output_path, error);
        return false;
    }
    return true;
}

// Creates the file that will take the width file's place, so that a width
// file that cannot be replaced (a folder of that name, a folder that cannot
// be written) fails the run before the input is read or the output touched.
bool reserve_width(RunState& state) {
    SignalsHeld held; // the reserved file is removed by whatever ends the run
    int error = reserve_width_file(width_file_name, state.width_file);
    if (error != 0) {
        report_file_error(cannot_write_width_file, width_file_name, error);
        return false;
    }
    state.width_guard = guard_new_version(state.width_file.replacement, state.width_file.file);
    return true;
}

// The steps up to the mode's own work; false when the run must stop, with
// the message printed.
bool prepare_run(RunState& state, bool compressing) {
    state.input = open_input_file(state.input_path);
    if (state.input == nullptr) {
        report_file_error(cannot_open_input, state.input_path, errno);
        return false;
    }
    state.input_size = regular_file_size(state.input);
    state.progress = make_progress_line(state.input_size.value_or(0));
    if (!files_are_distinct(state, compressing)) return false;
    // By place, not only by file: the width file may not exist yet.
    if (is_same_place(state.output_path, width_file_name)) {
        report_output_is_width_file(state.output_path, width_file_name);
        return false;
    }
    if (compressing ? !reserve_width(state) : !prepare_expanding(state)) return false;
    return open_output(state);
}

// Whether the heap has room for a run to get under way. Where it has not,
// the C++ runtime could not even make the exception that says so (its
// reserve for that comes from the same heap), and would abort.
bool room_to_start() {
    constexpr std::size_t start_bytes = std::size_t{1} << 20;
    // Called through a pointer the compiler cannot see through: clang
    // removes a malloc whose block is only freed, and the probe with it.
    static void* (*volatile const allocate)(std::size_t) = std::malloc;
    void* room = allocate(start_bytes);
    std::free(room);
    return room != nullptr;
}

} // namespace

void set_hint_scan_hook(void (*hook)()) {
    hint_scan_hook = hook;
}

int run(int argc, char** argv) {
    // Before any file is opened, so that none takes the place of a closed
    // standard descriptor and receives the messages.
    if (!open_standard_descriptors()) return exit_failure;
    install_interrupt_handlers();
    clear_console();
    RunState state{};
    state.start = Clock::now();
    if (argc != 4) {
        print_usage();
        return exit_usage;
    }
    if (!room_to_start()) {
        report_codec_failure(state, PassOutcome{TARNWEL_OUT_OF_MEMORY}, state.width);
        return exit_failure;
    }
    int status = exit_failure;
    std::vector<std::string> arguments; // the paths in state point into it
    // Every allocation on the way is the codec's or the driver's own: running
    // out anywhere ends the run like running out for the tables.
    try {
        arguments = command_line(argc, argv);
        const bool compressing = arguments[1][0] == 'c';
        state.input_path = arguments[2].c_str();
        state.output_path = arguments[3].c_str();
        if (prepare_run(state, compressing))
            status = compressing ? compress_mode(state) : decompress_mode(state);
    } catch (const std::bad_alloc&) {
        erase_progress(state.progress);
        report_codec_failure(state, PassOutcome{TARNWEL_OUT_OF_MEMORY}, state.width);
        status = exit_failure;
    }
    tarnwel_expander_free(state.expander);
    // A run that succeeded or met a corrupt stream has released its guards;
    // any other leaves nothing half-written. An output written in place is
    // emptied through its descriptor, so this comes before it is closed.
    remove_guarded_files();
    if (state.input != nullptr) std::fclose(state.input);
    release_output_file(state.output);
    discard_width_file(state.width_file);
    std::fflush(stdout);
    return status;
}

} // namespace tarnwel
