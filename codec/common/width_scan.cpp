// The scan reads each chunk at one width after another, while the chunk is
// in cache: one pass over the stream for all fifteen widths, and each
// width's loop keeps its state in registers. A width that has failed costs
// nothing more, so past the first few codes only the stream's own width
// (and the rare other that still fits) reads on.
#include "width_scan.h"

#include "byte_io.h"
#include "stream_ends.h"

namespace tarnwel {

namespace {

// The low count bits of bits, all ones?
bool all_ones(std::uint64_t bits, int count) {
    std::uint64_t mask = (std::uint64_t{1} << count) - 1;
    return (bits & mask) == mask;
}

// A code above the highest the lane allows: the end code, or an impossible
// code. left is the number of bits read after it.
LaneState past_highest(const WidthLane& lane, std::uint32_t code, std::uint64_t bits, int left) {
    if (code != end_code(lane.width)) return LaneState::failed;
    // The end code first: the empty input's stream, all ones.
    if (lane.codes == 0) return all_ones(bits, left) ? LaneState::empty : LaneState::failed;
    // The end code whole in the bytes read: the file ends right after it,
    // since floor(codes × width / 8) bytes end where it does.
    return left == 0 ? LaneState::ended : LaneState::failed;
}

// The lane's state after the bytes that follow its first code past the
// highest: an ended stream takes none, the empty input's only ones.
LaneState after_the_end(LaneState state, const std::uint8_t* data, std::size_t size) {
    if (state == LaneState::ended && size != 0) return LaneState::failed;
    if (state != LaneState::empty) return state;
    for (std::size_t i = 0; i < size; ++i)
        if (data[i] != 0xFF) return LaneState::failed;
    return state;
}

void read_lane(WidthLane& lane, const std::uint8_t* data, std::size_t size) {
    if (lane.state != LaneState::reading) {
        lane.state = after_the_end(lane.state, data, size);
        return;
    }
    const int width = lane.width;
    const std::uint32_t end = end_code(width);
    std::uint64_t bits = lane.bits;
    int count = lane.count;
    std::uint32_t highest = lane.highest;
    std::uint64_t codes = lane.codes;
    std::size_t i = 0;
    while (i < size) {
        // Take whole bytes: up to 7 at once where 8 are at hand, else one.
        if (size - i >= 8) {
            std::uint64_t word = 0;
            for (int b = 0; b < 8; ++b)
                word = word << 8 | data[i + static_cast<std::size_t>(b)];
            int take = (63 - count) / 8;
            bits = bits << (8 * take) | word >> (64 - 8 * take);
            count += 8 * take;
            i += static_cast<std::size_t>(take);
        } else {
            bits = bits << 8 | data[i++];
            count += 8;
        }
        // Check each whole code against the next free code.
        while (count >= width) {
            count -= width;
            std::uint32_t code = static_cast<std::uint32_t>(bits >> count) & end;
            if (code > highest) {
                lane.codes = codes;
                lane.state =
                    after_the_end(past_highest(lane, code, bits, count), data + i, size - i);
                return;
            }
            ++codes;
            highest += highest < end - 1 ? 1 : 0; // until the dictionary is full
        }
    }
    lane.bits = bits;
    lane.count = count;
    lane.highest = highest;
    lane.codes = codes;
}

// Whether a lane still reading ends well where the file ends: its unread
// bits begin the end code, which lacks no more bits than the writer leaves
// out (the expanders' rule, stream_ends.h).
bool ends_at_the_file_end(const WidthLane& lane) {
    const auto missing = static_cast<std::uint64_t>(lane.width - lane.count);
    return lane.codes != 0 && all_ones(lane.bits, lane.count) &&
           whole_as_written(end_code(lane.width), lane.width, missing);
}

bool lane_fits(const WidthLane& lane, std::uint64_t size) {
    switch (lane.state) {
    case LaneState::reading:
        return ends_at_the_file_end(lane);
    case LaneState::empty:
        return size == static_cast<std::uint64_t>(2 * lane.width / 8);
    case LaneState::ended:
        return true;
    case LaneState::failed:
        break;
    }
    return false;
}

} // namespace

WidthScan make_width_scan() {
    WidthScan scan;
    for (int i = 0; i < scanned_widths; ++i)
        scan.lanes[i].width = min_width + i;
    return scan;
}

void scan_bytes(WidthScan& scan, const std::uint8_t* data, std::size_t size) {
    scan.size += size;
    int open = 0;
    for (WidthLane& lane : scan.lanes) {
        if (lane.state == LaneState::failed) continue;
        read_lane(lane, data, size);
        if (lane.state != LaneState::failed) ++open;
    }
    scan.open = open;
}

std::uint32_t finish_width_scan(WidthScan& scan) {
    std::uint32_t widths = 0;
    for (const WidthLane& lane : scan.lanes)
        if (lane_fits(lane, scan.size)) widths |= std::uint32_t{1} << lane.width;
    return widths;
}

std::uint32_t scan_widths(const std::uint8_t* data, std::size_t size) {
    WidthScan scan = make_width_scan();
    scan_bytes(scan, data, size);
    return finish_width_scan(scan);
}

CodecResult scan_widths(ByteSource& input, std::uint32_t& widths) {
    WidthScan scan = make_width_scan();
    ByteReader reader = make_reader(input);
    const std::uint8_t* begin = nullptr;
    const std::uint8_t* end = nullptr;
    while (scan.open != 0 && take_block(reader, begin, end))
        scan_bytes(scan, begin, static_cast<std::size_t>(end - begin));
    CodecResult result;
    result.bytes_in = reader.consumed;
    widths = 0;
    if (reader.error_number != 0) {
        result.status = CodecStatus::read_failed;
        result.error_number = reader.error_number;
        return result;
    }
    widths = finish_width_scan(scan);
    return result;
}

} // namespace tarnwel
