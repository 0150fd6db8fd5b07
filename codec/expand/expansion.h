// One code's expansion, shared by the two loops that drive it: the pull
// loop of expand_stream (expander.cpp), which reads a source and writes a
// sink, and the resumable loop of the step calls (expander_steps.cpp),
// which the caller feeds and drains a buffer at a time.
//
// Plan: read codes a batch ahead and ask for the records later codes need
// while earlier ones are placed; place each code's string in the window in
// one of three ways (a string kept whole in its record, bytes included, a
// copy from where it last appeared, or the code being defined: the
// previous string and its own first byte); a string gone from the window
// waits to be spelled with others (pending.h). Then the next code is
// defined from the previous string. Most codes take expand_common, a loop
// that does only the first two; it stops at any other code, which
// expand_code takes whatever it needs.
//
// In steps the window is also the caller's output buffer: its bytes are
// handed out from window.flushed on, and a lap may start only once all of
// the lap before has been handed out (the new lap writes over it). That one
// check is the difference between the two loops' codes; it is a template
// parameter, so the pull loop does not carry it.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "expander_tables.h"
#include "pending.h"
#include "widths.h"
#include "window.h"

namespace tarnwel {

// Tuning. Codes decoded ahead of the one being expanded, and how far ahead
// the records and then the window are asked for.
inline constexpr std::size_t code_batch = 512;
inline constexpr std::size_t record_ahead = 64;
inline constexpr std::size_t window_ahead = 12;
// A batch is followed by this many byte codes, so that looking ahead needs
// no test of where the batch ends.
inline constexpr std::size_t batch_padding = record_ahead;
static_assert(window_ahead <= record_ahead, "the padding covers both looks ahead");

// What the loops' per-code work shares with the out-of-line parts
// (spelling, laps).
struct Expansion {
    ExpanderTables& tables;
    Window window;
    Pending pending;
};

// The decode loop's own state. It is kept apart from Expansion and never
// handed to an out-of-line function, so the compiler knows that the bytes
// written to the window cannot change it and can keep it in registers.
struct Decoder {
    std::uint32_t end;             // the end code
    std::uint32_t last_assignable; // the highest code an entry may get
    std::uint32_t free_code = first_free_code;
    // The string placed last: its code, its output position and length.
    std::uint32_t previous = 0;
    std::uint64_t previous_at = 0;
    std::uint32_t previous_length = 1;
};

// How one code's expansion ended.
enum class Placement {
    placed,
    corrupt,      // the code cannot come from the compressor here
    write_failed, // writing out the lap that ended failed
    lap_full,     // steps only: the code needs a new lap, and the old one is not all handed out
};

// Readies a batch of count codes read (in an array of code_batch +
// batch_padding) for the loop: pads it, and asks for its first records.
inline void ready_batch(const ExpanderTables& tables, std::uint32_t* batch, std::size_t count) {
    for (std::size_t i = 0; i < batch_padding; ++i)
        batch[count + i] = 0;
    for (std::size_t i = 0; i < record_ahead; ++i)
        prefetch_record(tables, batch[i]);
}

// The stream's first code: the end code (an empty input), or a byte, placed
// as the previous string. Anything else cannot come from the compressor.
enum class FirstCode { ended, placed, corrupt };
inline FirstCode place_first_code(Expansion& e, Decoder& d, std::uint32_t code) {
    if (code == d.end) return FirstCode::ended;
    if (code > 255) return FirstCode::corrupt;
    e.window.bytes[e.window.used++] = static_cast<std::uint8_t>(code);
    d.previous = code;
    return FirstCode::placed;
}

// Asks for what the codes record_ahead and window_ahead places later need,
// in a padded batch. Any code of the width has a record to read: a byte's,
// one not yet defined, or a waiting entry's may say anything, but here it
// only steers a request, and prefetch_spot asks only within the window.
TARNWEL_PREFETCH_HELPER void prefetch_later(const Expansion& e, const std::uint32_t* batch,
                                            std::size_t i) {
    prefetch_record(e.tables, batch[i + record_ahead]);
    std::uint64_t occurrence = occurrence_of(e.tables, batch[i + window_ahead]);
    if (!is_inline(occurrence)) prefetch_spot(e.window, record_position(occurrence));
}

// A string last seen at an output position: copied from the window where it
// still is there, else left to be spelled from its links.
inline bool place_seen_string(Expansion& e, std::uint8_t* target, std::uint32_t code,
                              std::uint64_t occurrence, std::uint32_t length) {
    Window& window = e.window;
    std::uint64_t seen_at = record_position(occurrence);
    std::size_t spot = spot_in_previous_lap(window, seen_at, window.used + length);
    if (spot == no_spot) {
        spot = spot_in_this_lap(window, seen_at);
        if (spot == no_spot) {
            return !defer_string(e.pending, window.used, code, length) ||
                   spell_pending(e.pending, window, e.tables);
        }
        // A copy from bytes still waiting to be spelled waits for them.
        if (!e.pending.strings.empty() && spot + length > settled_end(e.pending, window) &&
            !spell_pending(e.pending, window, e.tables))
            return false;
    }
    copy_string(target, window.bytes + spot, length);
    return true;
}

// The code being defined, the one code a stream may use before it is in
// the dictionary: the previous string and its own first byte. The window
// always holds the previous string.
inline void place_code_being_defined(const Expansion& e, const Decoder& d, std::uint8_t* target) {
    const std::uint8_t* source = e.window.bytes + (d.previous_at - e.window.base);
    copy_string(target, source, d.previous_length);
    target[d.previous_length] = *source;
}

// Defines the next code: the previous string, which lies in the window
// where it began, and the first byte of the string just placed at target.
inline void define_next_code(Expansion& e, Decoder& d, const std::uint8_t* target) {
    ExpanderTables& tables = e.tables;
    const std::uint32_t code = d.free_code++;
    const std::uint32_t length = d.previous_length + 1;
    const std::size_t offset = d.previous_at - e.window.base;
    if (waits_at(e.pending, offset + d.previous_length)) {
        // Its last byte is the first of a string still waiting: so it waits too.
        if (length > inline_length) {
            set_link_word(tables, code, d.previous);
            set_occurrence(tables, code, pack_occurrence(0, d.previous_at, length));
        }
        defer_entry(e.pending, code, length, offset);
        return;
    }
    // A short string's last byte is read from the string itself; a longer
    // one's goes to its two words as they are written.
    if (length <= inline_length) {
        set_occurrence(tables, code, pack_string(e.window.bytes + offset, length));
    } else {
        const std::uint8_t last = *target;
        set_occurrence(tables, code, new_occurrence(d.previous_at, length, last));
        set_link_word(tables, code, new_link(d.previous, last));
    }
}

// The common path, for as long as the codes take it: a code already in the
// dictionary and complete, whose string fits this lap and is kept whole in
// its record or lies in the window (in this lap's settled bytes, or in the
// lap before, past what this lap will have written). It stops at the
// first code that needs more (the code being defined, a waiting entry, a
// corrupt code, a new lap, a string to spell or one that would be copied
// from bytes still waiting), which expand_code then takes, and returns
// that code's index in the batch (count when there is none).
// The window's and the decoder's fields are held in locals, which the bytes
// written cannot change, and a short entry's record is built from its
// prefix's record in a register rather than read back from the output just
// written. A short entry needs no link: its record always holds its string.
inline std::size_t expand_common(Expansion& e, Decoder& d, const std::uint32_t* batch,
                                 std::size_t i, std::size_t count) {
    Window& window = e.window;
    // Strings waiting to be spelled stay as they are: no code from the first
    // waiting entry on is read, and no string is copied from unsettled bytes.
    const std::uint32_t first_waiting = e.pending.first_waiting_code;
    const std::size_t settled =
        e.pending.strings.empty() ? no_spot : e.pending.strings.front().offset;
    if (d.previous >= first_waiting && d.previous_length < inline_length) return i;
    std::uint8_t* const bytes = window.bytes;
    std::uint8_t* const records = e.tables.records.data();
    std::uint8_t* const links = e.tables.links.data();
    const std::uint64_t base = window.base;
    const std::uint64_t previous_base = window.previous_base;
    const std::size_t capacity = window.capacity;
    const std::uint32_t last_assignable = d.last_assignable;
    std::size_t used = window.used;
    std::uint32_t free_code = d.free_code;
    std::uint32_t previous = d.previous;
    std::uint64_t previous_at = d.previous_at;
    std::uint32_t previous_length = d.previous_length;
    std::uint64_t previous_word = load_occurrence(occurrence_in(records, previous));
    // Codes below it may be read: free_code, or the first waiting entry,
    // which stays put while free_code moves on.
    std::uint32_t readable = std::min(free_code, first_waiting);
    const std::uint32_t readable_grows = first_waiting == no_code ? 1 : 0;
    TARNWEL_INVARIANT(previous_at + previous_length == base + used);
    for (; i < count; ++i) {
        // Ask for a later code's record. Asking for its string's line in
        // the window as well (prefetch_later) costs this loop more than it
        // saves: the load of the record it needs waits for a miss.
        __builtin_prefetch(occurrence_in(records, batch[i + record_ahead]));
        // Place the string.
        const std::uint32_t code = batch[i];
        if (code >= readable) break;
        std::uint8_t* const record = occurrence_in(records, code);
        const std::uint64_t word = load_occurrence(record);
        const std::uint32_t length = record_length(word);
        if (used + length > capacity) break;
        std::uint8_t* const target = bytes + used;
        const std::uint64_t at = base + used;
        std::uint8_t first;
        if (is_inline(word)) {
            const std::uint64_t string = word >> 8;
            std::memcpy(target, &string, sizeof string);
            first = static_cast<std::uint8_t>(string);
        } else {
            // Where place_seen_string would copy it from without waiting:
            // spot_in_this_lap's and spot_in_previous_lap's rules, written
            // out on the fields in locals with the lap's tests shared
            // (through those helpers the loop ran longer: performance.md).
            const std::uint64_t seen_at = record_position(word);
            if (seen_at == unknown_position) break;
            std::size_t spot;
            if (seen_at >= base) {
                spot = seen_at - base;
                if (spot + length > settled) break;
            } else if (seen_at >= previous_base &&
                       seen_at - previous_base >= used + length + copy_slack) {
                spot = seen_at - previous_base;
            } else {
                break;
            }
            first = bytes[spot];
            copy_string(target, bytes + spot, length);
            store_occurrence(record, pack_occurrence(word, at, length));
        }
        used += length;
        // Define the next code: the previous string and this one's first byte.
        if (free_code <= last_assignable) {
            std::uint8_t* const entry = occurrence_in(records, free_code);
            if (previous_length < inline_length) {
                store_occurrence(entry, extend_inline(previous_word, previous_length, first));
            } else {
                store_occurrence(entry, new_occurrence(previous_at, previous_length + 1, first));
                store_link(link_in(links, free_code), new_link(previous, first));
            }
            ++free_code;
            readable += readable_grows;
        }
        previous = code;
        previous_at = at;
        previous_length = length;
        previous_word = word;
    }
    window.used = used;
    d.free_code = free_code;
    d.previous = previous;
    d.previous_at = previous_at;
    d.previous_length = previous_length;
    return i;
}

// Expands one code that is not the end code. A code that ends with
// lap_full has changed nothing the next try depends on: it is expanded
// again once the lap has been handed out.
template <bool steps> inline Placement expand_code(Expansion& e, Decoder& d, std::uint32_t code) {
    ExpanderTables& tables = e.tables;
    Window& window = e.window;
    // Check the code and find its length.
    if (code > d.free_code) return Placement::corrupt;
    if (code >= e.pending.first_waiting_code && !spell_pending(e.pending, window, tables))
        return Placement::corrupt;
    TARNWEL_INVARIANT(code < 256 || code < e.pending.first_waiting_code);
    std::uint32_t length = 1;
    std::uint64_t occurrence = 0;
    if (code >= 256 && code < d.free_code) {
        occurrence = occurrence_of(tables, code);
        length = record_length(occurrence);
    } else if (code >= 256) {
        length = d.previous_length + 1;
    }
    // Make room. A new lap moves the window, so what waits in it is spelled
    // first; in steps, it also waits until this lap has all been handed out.
    if (window.used + length > window.capacity) {
        if (!settle_pending(e.pending, window, tables)) return Placement::corrupt;
        if constexpr (steps) {
            if (window.flushed < window.used) return Placement::lap_full;
        }
        if (!start_lap(window, d.previous_at, d.previous_length)) return Placement::write_failed;
    }
    // Place the string.
    std::uint8_t* target = window.bytes + window.used;
    const std::uint64_t at = window.base + window.used;
    if (code < 256) {
        *target = static_cast<std::uint8_t>(code);
    } else if (code == d.free_code) {
        place_code_being_defined(e, d, target);
    } else if (is_inline(occurrence)) {
        std::uint64_t bytes = occurrence >> 8;
        std::memcpy(target, &bytes, sizeof bytes);
    } else if (!place_seen_string(e, target, code, occurrence, length)) {
        return Placement::corrupt;
    }
    window.used += length;
    // Define the next code, and remember where this string was seen: the
    // latest spot is the likeliest to still be in the window next time.
    if (d.free_code <= d.last_assignable) define_next_code(e, d, target);
    if (length > inline_length)
        set_occurrence(tables, code, pack_occurrence(occurrence_of(tables, code), at, length));
    d.previous = code;
    d.previous_at = at;
    d.previous_length = length;
    return Placement::placed;
}

// Expands the codes of a padded batch from index i up to count, each by the
// common path while it takes them, else by expand_code. Stops at the first
// code that does not end placed and gives its placement, with i left at
// it; gives placed, with i at count, once all are.
template <bool steps>
inline Placement expand_codes(Expansion& e, Decoder& d, const std::uint32_t* batch, std::size_t& i,
                              std::size_t count) {
    for (;; ++i) {
        i = expand_common(e, d, batch, i, count);
        if (i == count) return Placement::placed;
        prefetch_later(e, batch, i);
        const Placement placed = expand_code<steps>(e, d, batch[i]);
        if (placed != Placement::placed) return placed;
    }
}

} // namespace tarnwel
