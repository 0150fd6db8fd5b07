// Which widths a stream reads at, whole: the width the stream does not
// record, found again from the stream alone.
//
// At every width from 11 to 25 at once, the scan reads the codes as the
// expander would and checks only what the expander checks about a code's
// number, never spelling a string: so it keeps no dictionary, only the
// count of codes made. A width fits when
//   - the first code is a byte (below 256), and each later code is at most
//     the next free code: 256 + k - 1 for the k-th code (counting from 0),
//     until the dictionary is full at 2^width - 2, after which any code
//     below the end code may follow;
//   - the end code comes last and nowhere before, and the file is
//     floor(codes × width / 8) bytes: the end code lacks at most 7 bits,
//     which a reader takes as ones;
//   - or the stream is the empty input's: floor(2 × width / 8) bytes, all
//     ones (two end codes).
// A width stops at its first impossible code. At a wrong width the codes
// soon name strings not yet made, so most widths stop within a few codes
// and the stream's bytes are in effect read at its own width alone.
#pragma once

#include <cstddef>
#include <cstdint>

#include "byte_streams.h"
#include "codec_result.h"
#include "widths.h"

namespace tarnwel {

inline constexpr int scanned_widths = max_width - min_width + 1;

enum class LaneState : std::uint8_t {
    reading, // every code so far is possible; the end code not yet met
    empty,   // the first code was the end code: only the empty input's stream fits
    ended,   // the end code came last, at the end of a byte; no byte may follow
    failed,  // an impossible code, or bytes where the stream has ended
};

// One width's reading. The rule each field keeps:
struct WidthLane {
    int width = 0;
    LaneState state = LaneState::reading;
    std::uint64_t bits = 0;      // the unread bits are the low `count` of these
    int count = 0;               // unread bits, below width between chunks
    std::uint32_t highest = 255; // the highest code the next one may be (not the end code)
    std::uint64_t codes = 0;     // codes read and found possible, the end code not counted
};

struct WidthScan {
    WidthLane lanes[scanned_widths];
    std::uint64_t size = 0;    // bytes scanned
    int open = scanned_widths; // lanes not failed
};

WidthScan make_width_scan();

// Reads the next size bytes of the stream at every width still open.
void scan_bytes(WidthScan& scan, const std::uint8_t* data, std::size_t size);

// Ends the stream: bit w (11 to 25) of the result is set when the stream
// reads whole at width w.
std::uint32_t finish_width_scan(WidthScan& scan);

// The whole stream in memory.
std::uint32_t scan_widths(const std::uint8_t* data, std::size_t size);

// The stream from a source, read once; it stops reading early once every
// width has failed. On a failed read the result says so and widths is 0.
CodecResult scan_widths(ByteSource& input, std::uint32_t& widths);

} // namespace tarnwel
