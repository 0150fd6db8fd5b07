#include "progress.h"

#include <algorithm>
#include <cstdio>

#include "console.h"
#include "messages.h"

namespace tarnwel {

namespace {

constexpr auto quiet_start = std::chrono::milliseconds(500);
constexpr auto redraw_interval = std::chrono::milliseconds(100);

// Characters the line may take on the terminal as it is now.
std::size_t room_for_line() {
    int columns = terminal_columns();
    return columns > 1 ? static_cast<std::size_t>(columns - 1) : 0;
}

} // namespace

ProgressLine make_progress_line(std::uint64_t total) {
    ProgressLine line;
    line.enabled = output_is_terminal();
    line.total = total;
    return line;
}

void start_phase(ProgressLine& line, std::string phase) {
    line.phase = std::move(phase);
    line.phase_start = ProgressLine::Clock::now();
    line.last_draw = line.phase_start;
}

void report_progress(ProgressLine& line, std::uint64_t bytes_done) {
    if (!line.enabled) return;
    auto now = ProgressLine::Clock::now();
    if (now - line.phase_start < quiet_start || now - line.last_draw < redraw_interval) return;
    line.last_draw = now;
    std::size_t room = room_for_line();
    std::string text = fit_progress_text(
        progress_text(line.phase, bytes_done, line.total,
                      std::chrono::duration<double>(now - line.phase_start).count()),
        room);
    // Pad over the end of a longer line drawn before, as far as the
    // terminal, perhaps narrowed since, still has room.
    std::size_t width = text.size();
    std::size_t covered = std::min(line.shown, room);
    if (width < covered) text.append(covered - width, ' ');
    std::printf("\r%s", text.c_str());
    std::fflush(stdout);
    line.shown = width;
}

void erase_progress(ProgressLine& line) {
    if (line.shown == 0) return;
    std::printf("\r%s\r", std::string(std::min(line.shown, room_for_line()), ' ').c_str());
    std::fflush(stdout);
    line.shown = 0;
}

} // namespace tarnwel
