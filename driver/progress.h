// A one-line progress display for terminals: phase, share of the input
// done, speed and time left (its texts are in messages.h), redrawn in place with a carriage return.
// It appears only once a phase has run for half a second, is redrawn at most ten times a second,
// and is erased before the next message, so the messages read exactly as they do without it. When
// standard output is not a terminal it writes nothing at all.
//
// The line never wraps: a carriage return goes back to the start of the
// last row only, and the rows above would stay on screen. It is shortened
// to the terminal's width, asked on every draw, less the last column, which
// some terminals wrap as soon as it is written.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace tarnwel {

struct ProgressLine {
    using Clock = std::chrono::steady_clock;
    bool enabled = false;    // standard output is a terminal
    std::uint64_t total = 0; // bytes the phase reads at most; 0 when unknown
    std::string phase;
    Clock::time_point phase_start;
    Clock::time_point last_draw;
    std::size_t shown = 0; // characters of the line now on screen
};

ProgressLine make_progress_line(std::uint64_t total);

// Starts timing a new phase; whatever line is shown stays until redrawn or erased.
void start_phase(ProgressLine& line, std::string phase);

// Redraws the line, when it is due, for bytes_done of the input read.
void report_progress(ProgressLine& line, std::uint64_t bytes_done);

// Clears the line, so that the next message starts at the left margin.
void erase_progress(ProgressLine& line);

} // namespace tarnwel
