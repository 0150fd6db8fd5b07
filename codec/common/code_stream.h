// The compressed file: a bare sequence of codes of one width, packed most
// significant bit first across byte boundaries, with no header. The last code
// is the end code (all ones). Only whole bytes are written, so the 0 to 7 bits
// of the end code that would start a new byte are dropped; the reader puts
// them back by treating every byte past the end of the file as 0xFF. Any
// other code that reaches past the end of the file is a stream cut short,
// which the expanders refuse (stream_ends.h).
//
// Both sides keep their pending bits at the top of a 32-bit accumulator. The
// writer holds at most 7 bits between codes and the reader tops up to more
// than 24, which is why codes are limited to 25 bits.
#pragma once

#include <cstdint>
#include <cstring>

#include "byte_io.h"
#include "invariant.h"
#include "widths.h"

namespace tarnwel {

// The writer keeps up to 7 bits and adds a code; the reader tops up to more
// than 24 bits and takes a code: both need width + 7 <= 32.
static_assert(max_width + 7 <= 32, "codes must fit the 32-bit accumulators");
// get_codes loads eight bytes from the last byte a code touches.
static_assert(reader_slack >= 7, "a reader's slack takes a code's eight-byte load");

struct CodeWriter {
    int width = 12;
    std::uint32_t write_buffer = 0;
    int write_count = 0; // pending bits at the top of write_buffer, 0..7 between calls
    ByteWriter bytes;
};

struct CodeReader {
    int width = 12;
    std::uint32_t read_buffer = 0;
    int read_count = 0; // unread bits at the top of read_buffer
    ByteReader bytes;
};

CodeWriter make_code_writer(ByteSink& sink, int width);

// Appends count codes, the same bytes as put_code for each: for a list of
// codes packed at once (the shared codes in front of the frozen stream).
// The pending bits stay in a register and go to the buffer four bytes at a
// time, with one wide store: put_code, code by code, keeps its state in the
// writer through its byte stores, which a list of codes need not.
void put_codes(CodeWriter& writer, const std::uint32_t* codes, std::size_t count);
CodeReader make_code_reader(ByteSource& source, int width);

// Appends one code, no wider than the width. (How a stream ends, and the
// empty input's stream, are in stream_ends.h.)
//
// The whole bytes, one to four of them, go to the buffer with one store of
// all four where it has room (the ones past them are written over by the
// next code), rather than byte by byte, each with its own test of the
// buffer, in the frozen parse's loop.
inline void put_code(CodeWriter& writer, std::uint32_t code) {
    TARNWEL_INVARIANT(code <= end_code(writer.width));
    std::uint32_t pending = writer.write_buffer | code << (32 - writer.width - writer.write_count);
    int count = writer.write_count + writer.width;
    ByteWriter& bytes = writer.bytes;
    if (bytes.buffer.size() - bytes.used >= 4) {
        std::uint8_t* at = bytes.buffer.data() + bytes.used;
        at[0] = static_cast<std::uint8_t>(pending >> 24);
        at[1] = static_cast<std::uint8_t>(pending >> 16);
        at[2] = static_cast<std::uint8_t>(pending >> 8);
        at[3] = static_cast<std::uint8_t>(pending);
        // count is 11 to 32: its whole bytes and the bits left, as shifts.
        auto whole = static_cast<unsigned>(count) >> 3;
        bytes.used += whole;
        bytes.written += whole;
        writer.write_buffer = static_cast<std::uint32_t>(std::uint64_t{pending} << (8 * whole));
        writer.write_count = count & 7;
        return;
    }
    writer.write_buffer = pending;
    writer.write_count = count;
    while (writer.write_count >= 8) {
        write_byte(writer.bytes, static_cast<std::uint8_t>(writer.write_buffer >> 24));
        writer.write_buffer <<= 8;
        writer.write_count -= 8;
    }
}

// Fills the accumulator with whole bytes, with one load when four bytes are
// at hand in the buffer.
inline void top_up(CodeReader& reader) {
    ByteReader& bytes = reader.bytes;
    if (bytes.end - bytes.position >= 4) {
        const std::uint8_t* at = bytes.buffer.data() + bytes.position;
        std::uint32_t word = std::uint32_t{at[0]} << 24 | std::uint32_t{at[1]} << 16 |
                             std::uint32_t{at[2]} << 8 | at[3];
        int take = (32 - reader.read_count) / 8; // 1 to 4 bytes; 0 to 7 bits stay free
        reader.read_buffer |= word >> (32 - 8 * take) << (32 - reader.read_count - 8 * take);
        reader.read_count += 8 * take;
        bytes.position += static_cast<std::size_t>(take);
        bytes.consumed += static_cast<std::uint64_t>(take);
        return;
    }
    while (reader.read_count <= 24) {
        int byte = read_byte(bytes);
        std::uint32_t value = byte < 0 ? 0xFFu : static_cast<std::uint32_t>(byte);
        reader.read_buffer |= value << (24 - reader.read_count);
        reader.read_count += 8;
    }
}

inline std::uint32_t get_code(CodeReader& reader) {
    if (reader.read_count <= 24) top_up(reader);
    std::uint32_t code = reader.read_buffer >> (32 - reader.width);
    reader.read_buffer <<= reader.width;
    reader.read_count -= reader.width;
    return code;
}

// Of the first `codes` codes read, the bits that lie past the bytes the
// source gave, which the reader took as ones: none before the input ends
// (or fails), and then those of the last code, the earlier ones being
// whole (stream_ends.h says which codes may lack bits).
inline std::uint64_t bits_past_input(const CodeReader& reader, std::uint64_t codes) {
    const std::uint64_t read = codes * static_cast<unsigned>(reader.width);
    const std::uint64_t given = reader.bytes.consumed * 8;
    return read > given ? read - given : 0;
}

// Takes up to count codes into codes, the same ones get_code would give,
// stopping after end_code; returns how many it took. It takes only codes
// whose bits all lie in the buffer, and only while the accumulator's bits
// are still there too (which they are but right after a refill): each code
// is then one eight-byte load at its bit position, with no accumulator to
// keep between codes. The loads may reach into the buffer's slack; the
// bits past a code are shifted out. Zero when it cannot start, and the
// caller goes on with get_code, as it does for what is left of a batch.
inline std::size_t get_codes(CodeReader& reader, std::uint32_t* codes, std::size_t count,
                             std::uint32_t end_code) {
    ByteReader& bytes = reader.bytes;
    const auto held = static_cast<std::size_t>(reader.read_count);
    if (bytes.position * 8 < held) return 0;
    const std::size_t first_bit = bytes.position * 8 - held;
    const auto width = static_cast<unsigned>(reader.width);
    const std::size_t whole = (bytes.end * 8 - first_bit) / width;
    if (whole < count) count = whole;
    const std::uint8_t* const data = bytes.buffer.data();
    std::size_t bit = first_bit;
    std::size_t taken = 0;
    // Two codes a load: 7 bits of offset and two codes fit its 64 bits.
    static_assert(7 + 2 * max_width <= 64, "two codes fit one load");
    while (taken + 2 <= count) {
        std::uint64_t word;
        std::memcpy(&word, data + (bit >> 3), sizeof word);
        word = __builtin_bswap64(word) << (bit & 7);
        const auto code = static_cast<std::uint32_t>(word >> (64 - width));
        const auto next = static_cast<std::uint32_t>(word << width >> (64 - width));
        codes[taken] = code;
        codes[taken + 1] = next;
        if (code == end_code) {
            ++taken;
            bit += width;
            break;
        }
        taken += 2;
        bit += 2 * width;
        if (next == end_code) break;
    }
    if (taken < count && (taken == 0 || codes[taken - 1] != end_code)) {
        std::uint64_t word;
        std::memcpy(&word, data + (bit >> 3), sizeof word);
        word = __builtin_bswap64(word) << (bit & 7);
        codes[taken++] = static_cast<std::uint32_t>(word >> (64 - width));
        bit += width;
    }
    // Back to get_code's terms: the bits of a partly taken byte, at the top.
    const std::size_t position = (bit + 7) / 8;
    const auto left = static_cast<int>(position * 8 - bit);
    reader.read_buffer =
        left == 0 ? 0
                  : static_cast<std::uint32_t>(std::uint32_t{data[position - 1]} << (32 - left));
    reader.read_count = left;
    bytes.consumed += position - bytes.position;
    bytes.position = position;
    return taken;
}

} // namespace tarnwel
