// The expander rebuilds the compressor's dictionary by code number, in the
// order the compressor assigned the codes, and writes each code's string.
//
// Every string in the dictionary has already been written out once: code k
// is the string of the code before it followed by one byte, and that string
// sits in the output where the two codes were expanded. So rather than
// spelling a string backwards link by link, the expander keeps short
// strings whole in their code's record, remembers where each longer one
// last appeared and copies it from there, as long as that spot is still in
// the window of recent output it keeps. Older spots fall back to following
// the prefix links, which are kept as well. Each link waits for a cache miss,
// so such strings get their place in the window reserved and are spelled a
// batch at a time, many chains side by side; a new entry that needs such a
// string's first byte waits with it.
//
// Entries are only ever added in code order, each one's prefix below its own
// code, so any code below free_code has a fully defined chain that ends in a
// byte. A stream that names a code above free_code, or starts with anything
// but a byte or the end code, cannot come from the compressor and is refused
// before any table entry is read.
#pragma once

#include <cstdint>

#include "codec/byte_io.h"
#include "codec/code_records.h"
#include "codec/codec_result.h"
#include "codec/mapped_array.h"
#include "codec/prefetch.h"

namespace tarnwel {

struct ExpanderTables {
    int width = 0;
    // Per code (see code_records.h): its occurrence word, where its string
    // last appeared or the string itself, and its link to its prefix. Set
    // before they are read.
    MappedArray<std::uint8_t> records;
    MappedArray<std::uint8_t> links;
    // The window of recent output, filled in laps (see window.h): four and
    // a half times the longest string a stream of this width can carry
    // (2^width - 256 bytes), so the previous string and the next always fit.
    MappedArray<std::uint8_t> window;
};

inline std::uint8_t* record_of(ExpanderTables& tables, std::uint32_t code) {
    return occurrence_in(tables.records.data(), code);
}

inline const std::uint8_t* record_of(const ExpanderTables& tables, std::uint32_t code) {
    return occurrence_in(tables.records.data(), code);
}

inline std::uint8_t* link_of(ExpanderTables& tables, std::uint32_t code) {
    return link_in(tables.links.data(), code);
}

inline const std::uint8_t* link_of(const ExpanderTables& tables, std::uint32_t code) {
    return link_in(tables.links.data(), code);
}

TARNWEL_PREFETCH_HELPER void prefetch_record(const ExpanderTables& tables, std::uint32_t code) {
    __builtin_prefetch(record_of(tables, code));
}

// Both words, for a step along a chain of prefixes.
TARNWEL_PREFETCH_HELPER void prefetch_record_and_link(const ExpanderTables& tables,
                                                      std::uint32_t code) {
    __builtin_prefetch(record_of(tables, code));
    __builtin_prefetch(link_of(tables, code));
}

inline std::uint64_t occurrence_of(const ExpanderTables& tables, std::uint32_t code) {
    return load_occurrence(record_of(tables, code));
}

inline void set_occurrence(ExpanderTables& tables, std::uint32_t code, std::uint64_t word) {
    store_occurrence(record_of(tables, code), word);
}

inline std::uint32_t link_word(const ExpanderTables& tables, std::uint32_t code) {
    return load_link(link_of(tables, code));
}

inline void set_link_word(ExpanderTables& tables, std::uint32_t code, std::uint32_t word) {
    store_link(link_of(tables, code), word);
}

inline std::uint8_t last_byte(const ExpanderTables& tables, std::uint32_t code) {
    std::uint64_t occurrence = occurrence_of(tables, code);
    if (is_inline(occurrence)) return inline_last_byte(occurrence);
    return positional_last_byte(occurrence, link_word(tables, code));
}

inline std::uint32_t prefix_of(const ExpanderTables& tables, std::uint32_t code) {
    return link_prefix(link_word(tables, code));
}

// For a positional record; an inline one keeps its last byte in its string.
inline void set_last_byte(ExpanderTables& tables, std::uint32_t code, std::uint8_t byte) {
    set_link_word(tables, code, link_with_last_byte(link_word(tables, code), byte));
    set_occurrence(tables, code, occurrence_with_last_byte(occurrence_of(tables, code), byte));
}

inline void set_prefix(ExpanderTables& tables, std::uint32_t code, std::uint32_t prefix) {
    set_link_word(tables, code, link_with_prefix(link_word(tables, code), prefix));
}

// Sizes the tables for a width from 11 to 25. False when memory runs out.
bool allocate_expander(ExpanderTables& tables, int width);

// Spells the string of code backwards so that its last byte lands at
// string_end, following the prefix links. False for a chain that does not
// end in a byte after length - 1 links, which no compressor makes.
bool unwind_code(const ExpanderTables& tables, std::uint8_t* string_end, std::uint32_t code,
                 std::uint32_t length);

// Expands the code stream from input into output until the end code,
// writing output from front to back. Running out of memory throws
// std::bad_alloc here, whether on this thread or on the writer's (an
// output in memory grows as it is written).
CodecResult expand_stream(ExpanderTables& tables, ByteSource& input, ByteSink& output);

} // namespace tarnwel
