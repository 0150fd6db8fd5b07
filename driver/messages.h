// The messages the driver shows a person, all on standard output, byte for
// byte as users and scripts know them: the screen clearing, the progress of
// a compressing or expanding run (the progress line's texts too), its
// report, and its failures. (The
// platform's console.h only says whether standard output is a terminal.)
#pragma once

#include <cstdint>
#include <string>

namespace tarnwel {

// Clears the screen with the terminal's own escape sequence, and only when
// standard output is a terminal: redirected output holds nothing but the
// messages.
void clear_console();

// A compressing run: each trial as it begins; when the last trial fit, the
// four lines that say so; the width chosen; and the report with both sizes,
// the seconds since the run began, and the ratio.
void announce_trial(int width);
void announce_last_trial_fit(int last_trial_width);
void announce_compressing(int width);
void print_run_report(const char* input_path, std::uint64_t bytes_in, const char* output_path,
                      std::uint64_t bytes_out, double seconds);

// An expanding run begins.
void announce_expanding();

// The tables for a width could not be allocated.
void report_out_of_memory(int width);
// A stream that no compressor makes.
void report_corrupt_stream();

// The usage text, for a command line without exactly three arguments.
void print_usage();

// Runs refused before any file is written: the output is the input, the
// input or the output is the width file, the width file holds no width.
void report_same_file(const char* input_path, const char* output_path);
void report_input_is_width_file(const char* input_path, const char* width_path);
void report_output_is_width_file(const char* output_path, const char* width_path);
void report_no_width(const char* width_path);

// After a failure to expand (no usable width file, or a corrupt stream):
// the one width at which the input reads whole, as a hint, on a line of
// its own after the failure's message.
void suggest_width(const char* width_path, int width);

// A regular input that was cut while the run read it.
void report_input_changed(const char* input_path);

// What a run was doing with a file when the system failed it: the <what>
// of report_file_error.
inline constexpr const char* cannot_open_input = "cannot open input";
inline constexpr const char* cannot_read_input = "cannot read input";
inline constexpr const char* cannot_create_output = "cannot create output";
inline constexpr const char* cannot_write_output = "cannot write output";
inline constexpr const char* cannot_read_width_file = "cannot read width file";
inline constexpr const char* cannot_write_width_file = "cannot write width file";

// "tarnwel: <what> <path>: <reason>" for a failure of the system's making.
void report_file_error(const char* what, const char* path, int error_number);

// "tarnwel: cannot write staging file <staging> for output <output>: <reason>",
// for an output that cannot seek, whose stream is staged in a file.
void report_staging_error(const char* staging_path, const char* output_path, int error_number);

// The progress line's phases: a trial, and expanding.
std::string trial_phase(int width);
std::string expanding_phase();

// The text shown for a phase that has read done bytes in elapsed seconds.
std::string progress_text(const std::string& phase, std::uint64_t done, std::uint64_t total,
                          double elapsed);

// text shortened to at most width characters: whole parts go first, from
// the end (the time left, then the speed; parts are separated by ", ",
// which no phase name holds), then what is still too long is cut.
std::string fit_progress_text(std::string text, std::size_t width);

} // namespace tarnwel
