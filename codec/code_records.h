// The expander's record of one code: twelve bytes that say both where its
// string can be found and how to spell it from its prefix. Both halves sit
// in one cache line (but for the odd record that straddles two), so a step
// along a chain of prefixes waits for one cache miss, not two.
//
// The first eight bytes, the occurrence word, take one of two forms; the
// lowest bit tells them apart:
//   inline:     bytes (7 x 8) << 8 | length (3) << 1 | 1
//   positional: last byte's low bit << 63 | position (37) << 26 | length (25) << 1 | 0
// A string of up to seven bytes is kept whole (most codes of random and
// binary data are that short). A longer one records the output position
// where it last appeared, over its 25-bit length (the longest string,
// 2^25 - 256 bytes, fits); output past 128 GiB is recorded as unknown, and
// such strings are spelled from their prefixes instead of copied.
//
// The last four bytes, the link word, hold the prefix's code (25 bits) under
// the rest of the last byte. An inline string's last byte is read from the
// string itself.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "codec/widths.h"

namespace tarnwel {

constexpr std::size_t record_size = 12;
constexpr std::uint32_t inline_length = 7;

constexpr int length_bits = 25;
constexpr std::uint64_t length_mask = (std::uint64_t{1} << length_bits) - 1;
constexpr int position_shift = length_bits + 1;
constexpr int position_bits = 37;
constexpr std::uint64_t unknown_position = (std::uint64_t{1} << position_bits) - 1;
constexpr std::uint64_t last_bit = std::uint64_t{1} << 63;
constexpr std::uint32_t prefix_mask = (std::uint32_t{1} << length_bits) - 1;

// The packing, checked: every field fits its bits, and the fields fill the
// words exactly, so no field's top spills into the next.
static_assert(record_size == sizeof(std::uint64_t) + sizeof(std::uint32_t),
              "a record is an occurrence word and a link word");
static_assert(max_width <= length_bits, "every code fits the link's prefix field");
static_assert((std::uint64_t{1} << max_width) - 256 <= length_mask,
              "the longest string a stream can carry fits the length field");
static_assert(1 + length_bits + position_bits + 1 == 64,
              "form bit, length, position and the last byte's low bit fill the positional word");
static_assert(length_bits + 7 == 32,
              "the prefix and the last byte's upper seven bits fill the link");
static_assert(8 * inline_length + 8 == 64,
              "seven bytes over a low byte for the length and the form bit fill the inline word");
static_assert(inline_length < 8, "an inline length fits its three bits");
static_assert(unknown_position == (std::uint64_t{128} << 30) - 1,
              "positions are known for the first 128 GiB of output");

inline std::uint64_t load_occurrence(const std::uint8_t* record) {
    std::uint64_t word;
    std::memcpy(&word, record, sizeof word);
    return word;
}

inline void store_occurrence(std::uint8_t* record, std::uint64_t word) {
    std::memcpy(record, &word, sizeof word);
}

inline std::uint32_t load_link(const std::uint8_t* record) {
    std::uint32_t word;
    std::memcpy(&word, record + 8, sizeof word);
    return word;
}

inline void store_link(std::uint8_t* record, std::uint32_t word) {
    std::memcpy(record + 8, &word, sizeof word);
}

inline bool is_inline(std::uint64_t occurrence) {
    return (occurrence & 1) != 0;
}

inline std::uint32_t record_length(std::uint64_t occurrence) {
    return static_cast<std::uint32_t>(occurrence >> 1 & (is_inline(occurrence) ? 7 : length_mask));
}

inline std::uint64_t record_position(std::uint64_t occurrence) {
    return occurrence >> position_shift & unknown_position;
}

// A positional word for a string seen at position, keeping the last-byte
// bit of the word it replaces.
inline std::uint64_t pack_occurrence(std::uint64_t replaced, std::uint64_t position,
                                     std::uint32_t length) {
    if (position > unknown_position) position = unknown_position;
    return (replaced & last_bit) | position << position_shift | std::uint64_t{length} << 1;
}

// Reads eight bytes, and keeps the string's first length: the bytes past a
// string's end in its inline word are zero, so that the next entry's word
// is this one's with a byte added (extend_inline).
inline std::uint64_t pack_string(const std::uint8_t* string, std::uint32_t length) {
    std::uint64_t bytes;
    std::memcpy(&bytes, string, sizeof bytes);
    bytes &= ~std::uint64_t{0} >> (64 - 8 * length);
    return bytes << 8 | length << 1 | 1;
}

// The inline word of the string of `word` (up to six bytes) followed by
// byte: the byte goes just past the string, and the length grows by one.
inline std::uint64_t extend_inline(std::uint64_t word, std::uint32_t length, std::uint8_t byte) {
    return word + (std::uint64_t{byte} << (8 * (length + 1))) + (1 << 1);
}

// A byte's record: the string of that one byte.
inline std::uint64_t byte_occurrence(std::uint8_t byte) {
    return std::uint64_t{byte} << 8 | 1 << 1 | 1;
}

inline std::uint32_t record_prefix(const std::uint8_t* record) {
    return load_link(record) & prefix_mask;
}

// The last byte of a longer string, from its record's two words.
inline std::uint8_t positional_last_byte(std::uint64_t occurrence, std::uint32_t link) {
    return static_cast<std::uint8_t>(link >> length_bits << 1 | occurrence >> 63);
}

inline std::uint8_t record_last_byte(const std::uint8_t* record) {
    std::uint64_t occurrence = load_occurrence(record);
    if (is_inline(occurrence))
        return static_cast<std::uint8_t>(occurrence >> 8 * record_length(occurrence));
    return positional_last_byte(occurrence, load_link(record));
}

inline void set_record_prefix(std::uint8_t* record, std::uint32_t prefix) {
    store_link(record, (load_link(record) & ~prefix_mask) | prefix);
}

// A positional word for a new string, its last byte known.
inline std::uint64_t new_occurrence(std::uint64_t position, std::uint32_t length,
                                    std::uint8_t last) {
    return pack_occurrence(std::uint64_t{last} << 63, position, length);
}

// The upper seven bits of a positional record's last byte, in its link.
inline void set_link_last_byte(std::uint8_t* record, std::uint8_t byte) {
    store_link(record, (load_link(record) & prefix_mask) | std::uint32_t{byte} >> 1 << length_bits);
}

// For a positional record; an inline one keeps its last byte in its string.
inline void set_record_last_byte(std::uint8_t* record, std::uint8_t byte) {
    set_link_last_byte(record, byte);
    store_occurrence(record, (load_occurrence(record) & ~last_bit) | std::uint64_t{byte} << 63);
}

} // namespace tarnwel
