#include "window.h"

#include <algorithm>

namespace tarnwel {

namespace {

void note_background_error(Window& window) {
    int error_number = wait_for_writer(*window.background);
    if (window.file.error_number == 0) window.file.error_number = error_number;
}

} // namespace

// Four and a half times the longest string (2^width - 256 bytes; two must
// fit). With the records that makes 16.5 bytes a code, just within one and a
// half times the tables of the straightforward implementation in tests/reference (9 bytes a
// slot, 1.25 slots a code): history reaches as far back as the memory allows.
std::size_t window_size(int width) {
    return std::size_t{9} << (width - 1);
}

Window make_window(std::uint8_t* bytes, int width, ByteSink& output) {
    Window window;
    window.bytes = bytes;
    window.capacity = window_size(width);
    window.file = make_writer(output, 0);
    return window;
}

void use_background_writer(Window& window, BackgroundWriter& writer) {
    // A stretch of about a megabyte keeps the handoffs rare; a small window
    // hands over more often, so that the writer is never far behind a lap.
    constexpr std::size_t handoff_size = std::size_t{1} << 20;
    window.background = &writer;
    window.handoff = std::min(handoff_size, window.capacity / 8);
}

void hand_out(Window& window, std::size_t settled) {
    if (window.background == nullptr) return;
    TARNWEL_INVARIANT(window.flushed <= settled && settled <= window.used);
    if (settled < window.flushed + window.handoff || !writer_idle(*window.background)) return;
    note_background_error(window);
    if (window.file.error_number != 0) return;
    std::size_t count = settled - window.flushed;
    hand_to_writer(*window.background, window.file.start + window.file.written,
                   window.bytes + window.flushed, count);
    window.file.written += count;
    window.flushed = settled;
}

bool write_out(Window& window) {
    if (window.background != nullptr) note_background_error(window);
    write_span(window.file, window.bytes + window.flushed, window.used - window.flushed);
    window.flushed = window.used;
    return window.file.error_number == 0;
}

bool start_lap(Window& window, std::uint64_t previous_at, std::uint32_t previous_length) {
    TARNWEL_INVARIANT(previous_at >= window.base &&
                      previous_at - window.base + previous_length <= window.used);
    if (!write_out(window)) return false;
    std::memmove(window.bytes, window.bytes + (previous_at - window.base), previous_length);
    window.previous_base = window.base;
    window.base = previous_at;
    window.used = window.flushed = previous_length;
    return true;
}

} // namespace tarnwel
