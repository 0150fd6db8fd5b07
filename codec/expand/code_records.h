// The expander's record of one code, in two words kept in two tables: the
// occurrence word says where its string can be found, and the link word how
// to spell it from its prefix. Expanding a code reads only the first; the
// second is read only to spell a string gone from the window, and written
// only for strings longer than an occurrence word holds, so a stream of
// short strings (random or binary data) never touches most of its table.
//
// The occurrence word takes one of two forms; the lowest bit tells them
// apart:
//   inline:     bytes (7 x 8) << 8 | length (3) << 1 | 1
//   positional: last byte's low bit << 63 | position (37) << 26 | length (25) << 1 | 0
// A string of up to seven bytes is kept whole (most codes of random and
// binary data are that short). A longer one records the output position
// where it last appeared, over its 25-bit length (the longest string,
// 2^25 - 256 bytes, fits); output past 128 GiB is recorded as unknown, and
// such strings are spelled from their prefixes instead of copied.
//
// The link word holds the prefix's code (25 bits) under the rest of the
// last byte. An inline string needs none: its last byte is read from the
// string itself, and it is never spelled from its prefix.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "widths.h"

namespace tarnwel {

constexpr std::size_t occurrence_size = 8;
constexpr std::size_t link_size = 4;
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
static_assert(occurrence_size == sizeof(std::uint64_t) && link_size == sizeof(std::uint32_t),
              "the two words' sizes");
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

// A code's word in its table.
template <class Byte> Byte* occurrence_in(Byte* records, std::uint32_t code) {
    return records + std::size_t{code} * occurrence_size;
}

template <class Byte> Byte* link_in(Byte* links, std::uint32_t code) {
    return links + std::size_t{code} * link_size;
}

inline std::uint64_t load_occurrence(const std::uint8_t* record) {
    std::uint64_t word;
    std::memcpy(&word, record, sizeof word);
    return word;
}

inline void store_occurrence(std::uint8_t* record, std::uint64_t word) {
    std::memcpy(record, &word, sizeof word);
}

inline std::uint32_t load_link(const std::uint8_t* link) {
    std::uint32_t word;
    std::memcpy(&word, link, sizeof word);
    return word;
}

inline void store_link(std::uint8_t* link, std::uint32_t word) {
    std::memcpy(link, &word, sizeof word);
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

inline std::uint32_t link_prefix(std::uint32_t link) {
    return link & prefix_mask;
}

// The last byte of a longer string, from its two words.
inline std::uint8_t positional_last_byte(std::uint64_t occurrence, std::uint32_t link) {
    return static_cast<std::uint8_t>(link >> length_bits << 1 | occurrence >> 63);
}

inline std::uint8_t inline_last_byte(std::uint64_t occurrence) {
    return static_cast<std::uint8_t>(occurrence >> 8 * record_length(occurrence));
}

inline std::uint32_t link_with_prefix(std::uint32_t link, std::uint32_t prefix) {
    return (link & ~prefix_mask) | prefix;
}

// The upper seven bits of a positional string's last byte go to its link,
// the lowest to its occurrence word.
inline std::uint32_t link_with_last_byte(std::uint32_t link, std::uint8_t byte) {
    return (link & prefix_mask) | std::uint32_t{byte} >> 1 << length_bits;
}

inline std::uint64_t occurrence_with_last_byte(std::uint64_t occurrence, std::uint8_t byte) {
    return (occurrence & ~last_bit) | std::uint64_t{byte} << 63;
}

// The link of a new string longer than an inline one.
inline std::uint32_t new_link(std::uint32_t prefix, std::uint8_t last) {
    return link_with_last_byte(prefix, last);
}

// A positional word for a new string, its last byte known.
inline std::uint64_t new_occurrence(std::uint64_t position, std::uint32_t length,
                                    std::uint8_t last) {
    return pack_occurrence(std::uint64_t{last} << 63, position, length);
}

} // namespace tarnwel
