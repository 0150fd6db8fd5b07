// The expander's window: the output as it is written, kept as the history
// that later strings are copied from, and handed to the file from there.
//
// Laps. The window is filled from the front in laps. When a string no
// longer fits, the next lap starts over at the front with a copy of the
// previous string (the next dictionary entry extends it). The bytes of the
// lap before, past those the current lap has written, are still history,
// so the window holds nearly all of its length of recent output at the
// cost of one short copy a lap. Every lap is the whole window: pages are
// touched only as the lap fills them, so an output shorter than the window
// takes only its own length, and a longer one always has the window's
// length of history (laps that started shorter and doubled left half of it
// behind in the second lap, and strings last seen there had to be spelled).
//
// The state, and the rule each field keeps:
//   bytes          capacity + copy_slack bytes: a short copy may write up to
//                  copy_slack bytes past the end of its string.
//   used           bytes of this lap written (or reserved for a string that
//                  waits to be spelled, see pending.h).
//   base           the output position of bytes[0].
//   previous_base  the output position of bytes[0] in the lap before, or
//                  unknown_position in the first lap. A spot of the lap
//                  before still holds its bytes only past everything this
//                  lap has written and is about to write, plus copy_slack
//                  (spot_in_previous_lap).
//   flushed        bytes below it belong to the file, or to the background
//                  writer while it is busy: nothing changes them until
//                  write_out has waited for the writer. Only settled bytes
//                  (below the first string still waiting) are handed over.
//   A new lap always keeps the previous string, at its front.
#pragma once

#include <cstdint>
#include <cstring>

#include "background_writer.h"
#include "byte_io.h"
#include "code_records.h"
#include "invariant.h"
#include "prefetch.h"

namespace tarnwel {

// Short strings are copied sixteen bytes at a time, reading and writing up
// to this many bytes past their end; the window has that much to spare.
inline constexpr std::size_t copy_slack = 16;

// No spot: the string is not (or no longer) in the window.
inline constexpr std::size_t no_spot = static_cast<std::size_t>(-1);

// The window's size at a width, without the slack.
std::size_t window_size(int width);

struct Window {
    std::uint8_t* bytes = nullptr;
    std::size_t capacity = 0;
    std::size_t used = 0;
    std::size_t flushed = 0;
    std::uint64_t base = 0;
    std::uint64_t previous_base = unknown_position;
    ByteWriter file;                        // unbuffered: the window is the buffer
    BackgroundWriter* background = nullptr; // when one runs
    std::size_t handoff = 0;                // least stretch handed to it
};

// A window over bytes (window_size(width) + copy_slack of them) writing to output.
Window make_window(std::uint8_t* bytes, int width, ByteSink& output);

// From here on the window hands its settled bytes to writer, a stretch at a time.
void use_background_writer(Window& window, BackgroundWriter& writer);

// Hands the bytes below settled to the background writer, when there are
// enough of them and the writer is free.
void hand_out(Window& window, std::size_t settled);

// Writes everything below used to the file. False once a write has failed.
bool write_out(Window& window);

// Starts a new lap with the previous string at its front. False when
// writing out the lap that ends fails.
bool start_lap(Window& window, std::uint64_t previous_at, std::uint32_t previous_length);

// Where a string seen at output position `at` still lies in the lap before,
// or no_spot. `written` counts the bytes of this lap written so far and about
// to be written.
inline std::size_t spot_in_previous_lap(const Window& window, std::uint64_t at,
                                        std::size_t written) {
    if (at >= window.base || at < window.previous_base || at == unknown_position) return no_spot;
    std::size_t spot = at - window.previous_base;
    return spot >= written + copy_slack ? spot : no_spot;
}

// Where a string seen at output position `at` lies in this lap, or no_spot.
inline std::size_t spot_in_this_lap(const Window& window, std::uint64_t at) {
    return at >= window.base && at != unknown_position ? at - window.base : no_spot;
}

// Asks for the window's line holding output position `at`, where the window
// still has it.
TARNWEL_PREFETCH_HELPER void prefetch_spot(const Window& window, std::uint64_t at) {
    if (at >= window.base && at < window.base + window.used)
        __builtin_prefetch(window.bytes + (at - window.base));
    else if (at >= window.previous_base && at < window.base)
        __builtin_prefetch(window.bytes + (at - window.previous_base));
}

// Copies a string from earlier in the window. All of a chunk is read before
// it is written, so a source that ends right where the target starts (the
// previous string) is copied correctly; bytes written past length are
// overwritten by the strings that follow.
inline void copy_string(std::uint8_t* target, const std::uint8_t* source, std::size_t length) {
    if (length <= copy_slack) {
        std::uint8_t chunk[copy_slack];
        std::memcpy(chunk, source, copy_slack);
        std::memcpy(target, chunk, copy_slack);
    } else {
        std::memcpy(target, source, length);
    }
}

} // namespace tarnwel
