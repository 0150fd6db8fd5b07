// The messages the driver shows a person, all on standard output: the
// screen clearing and the failures of the system's making. (The platform's
// console.h only says whether standard output is a terminal.)
#pragma once

namespace tarnwel {

// Clears the screen with the terminal's own escape sequence, and only when
// standard output is a terminal: redirected output holds nothing but the
// messages.
void clear_console();

// "tarnwel: <what> <path>: <reason>" for a failure of the system's making.
void report_file_error(const char* what, const char* path, int error_number);

// "tarnwel: cannot write staging file <staging> for output <output>: <reason>",
// for an output that cannot seek, whose stream is staged in a file.
void report_staging_error(const char* staging_path, const char* output_path, int error_number);

} // namespace tarnwel
