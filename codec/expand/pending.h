// Strings waiting to be spelled. A string whose last spot has left the
// window can only be spelled from its prefix links, one cache miss a link,
// each waiting for the one before. Rather than wait for every link in turn,
// the expander reserves the string's place in the window and moves on; when
// enough strings wait, or the decode loop needs one of them, spell_pending
// follows many chains side by side, so that their misses overlap.
//
// The state, and the rule each field keeps:
//   strings             the reserved places, in output order. The window's
//                       bytes from the first of them on are not settled:
//                       they are not handed to the writer, and no string is
//                       copied from them, until the strings are spelled.
//   entries             new codes whose string ends with the first byte of a
//                       waiting string: their last byte (and, for a short
//                       string, the string itself) is recorded once spelled.
//   first_waiting_code  the lowest code among entries, or no_code. No code
//                       from it on is read until the strings are spelled, so
//                       no chain being spelled passes through an entry whose
//                       record is not complete.
#pragma once

#include <cstdint>
#include <vector>

#include "expander_tables.h"
#include "invariant.h"
#include "window.h"

namespace tarnwel {

inline constexpr std::uint32_t no_code = static_cast<std::uint32_t>(-1);

// Strings are spelled together once this many wait.
inline constexpr std::size_t pending_limit = 128;

struct PendingString {
    std::size_t offset; // in the window
    std::uint32_t code;
    std::uint32_t length;
};

struct PendingEntry {
    std::uint32_t code;
    std::uint32_t length;
    std::size_t offset; // of its string in the window, the waiting one's first byte at its end
};

struct Pending {
    std::vector<PendingString> strings;
    std::vector<PendingEntry> entries;
    std::uint32_t first_waiting_code = no_code;
};

Pending make_pending();

// The end of the window's settled bytes: the first place still waiting.
inline std::size_t settled_end(const Pending& pending, const Window& window) {
    return pending.strings.empty() ? window.used : pending.strings.front().offset;
}

// Reserves the window's bytes from offset for code's string. True when
// the queue is full and must be spelled before another string waits.
inline bool defer_string(Pending& pending, std::size_t offset, std::uint32_t code,
                         std::uint32_t length) {
    TARNWEL_INVARIANT(pending.strings.empty() ||
                      pending.strings.back().offset + pending.strings.back().length <= offset);
    pending.strings.push_back({offset, code, length});
    return pending.strings.size() == pending_limit;
}

// True when the string at offset in the window is the last one waiting.
inline bool waits_at(const Pending& pending, std::size_t offset) {
    return !pending.strings.empty() && pending.strings.back().offset == offset;
}

// A new code whose string, at offset, ends with the first byte of the last
// waiting string: its record is completed when that string is spelled.
inline void defer_entry(Pending& pending, std::uint32_t code, std::uint32_t length,
                        std::size_t offset) {
    pending.entries.push_back({code, length, offset});
    if (code < pending.first_waiting_code) pending.first_waiting_code = code;
}

// Spells every waiting string and completes the entries that waited for
// them. False for a chain that does not end in a byte at its recorded
// length, which no compressor makes: the window is then cut back to the
// first string that failed.
bool spell_pending(Pending& pending, Window& window, ExpanderTables& tables);

// Spells whatever waits; true at once when nothing does. False for a
// corrupt string, as spell_pending.
inline bool settle_pending(Pending& pending, Window& window, ExpanderTables& tables) {
    return pending.strings.empty() || spell_pending(pending, window, tables);
}

} // namespace tarnwel
