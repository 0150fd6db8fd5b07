// The expander's tables: per code its record (the occurrence word) and its
// link to its prefix, and the window of recent output, with the accessors
// that read and set a code's words. The pull and step loops and the pending
// strings all work on them.
#pragma once

#include <cstdint>

#include "code_records.h"
#include "mapped_array.h"
#include "prefetch.h"

namespace tarnwel {

struct ExpanderTables {
    int width = 0;
    // Per code (see code_records.h): its occurrence word, where its string
    // last appeared or the string itself, and its link to its prefix. Set
    // before they are read.
    MappedArray<std::uint8_t> records;
    MappedArray<std::uint8_t> links;
    // The window of recent output, filled in laps (see window.h): four and
    // a half times 2^width bytes (window_size), so that the previous string
    // and the next, each at most 2^width - 256 bytes long, always fit.
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

} // namespace tarnwel
