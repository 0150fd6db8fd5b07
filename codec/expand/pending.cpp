#include "pending.h"

#include <algorithm>

namespace tarnwel {

namespace {

// Chains followed side by side: each one's next link waits for a cache miss,
// and this many misses are in flight at once.
constexpr std::size_t unwind_lanes = 16;

// One chain being followed: the string's bytes are written from its end
// back, `left` of them still to go, the last at `last`.
struct Lane {
    std::uint8_t* last;
    std::uint32_t code;
    std::uint32_t left;
    std::size_t offset; // the string's place in the window
};

struct Spelling {
    Pending& pending;
    Window& window;
    ExpanderTables& tables;
    std::size_t next = 0;     // the next string to give a lane
    std::size_t settled = 0;  // the window's bytes below it are settled
    std::size_t reserved = 0; // this lap's bytes written or reserved
    std::size_t failed = no_spot;
};

void take_next(Spelling& spelling, Lane& lane) {
    const PendingString& string = spelling.pending.strings[spelling.next++];
    lane = {spelling.window.bytes + string.offset + string.length - 1, string.code, string.length,
            string.offset};
}

// A prefix that has appeared again since, in the settled part of the window
// or intact in the lap before, gives the rest of the string in one copy.
bool copy_rest_from_window(const Spelling& spelling, Lane& lane, std::uint64_t occurrence) {
    if (is_inline(occurrence) || record_length(occurrence) != lane.left) return false;
    const Window& window = spelling.window;
    std::uint64_t seen_at = record_position(occurrence);
    std::size_t spot = spot_in_previous_lap(window, seen_at, spelling.reserved);
    if (spot == no_spot) {
        spot = spot_in_this_lap(window, seen_at);
        if (spot == no_spot || spot + lane.left > spelling.settled) return false;
    }
    std::memcpy(lane.last + 1 - lane.left, window.bytes + spot, lane.left);
    return true;
}

// One step along a lane's chain. True when its string is complete.
inline bool step(Spelling& spelling, Lane& lane) {
    ExpanderTables& tables = spelling.tables;
    if (lane.left <= inline_length || lane.code < 256) {
        // The rest is one record read, or a broken chain.
        if (!unwind_code(tables, lane.last, lane.code, lane.left))
            spelling.failed = std::min(spelling.failed, lane.offset);
        return true;
    }
    // Both words were asked for at the step before.
    std::uint8_t* record = record_of(tables, lane.code);
    const std::uint64_t occurrence = load_occurrence(record);
    if (copy_rest_from_window(spelling, lane, occurrence)) return true;
    // The prefix passed is recorded at this new spot: strings of the same
    // text share prefixes, and the next chain through it can stop there.
    const std::uint32_t link = link_word(tables, lane.code);
    store_occurrence(record,
                     pack_occurrence(occurrence, spelling.window.base + lane.offset, lane.left));
    *lane.last-- = positional_last_byte(occurrence, link);
    lane.code = link_prefix(link);
    --lane.left;
    prefetch_record_and_link(tables, lane.code);
    return false;
}

// The entries that waited for the strings just spelled get their last byte,
// and a short one its string.
void complete_entries(Pending& pending, const Window& window, ExpanderTables& tables) {
    for (const PendingEntry& entry : pending.entries) {
        const std::uint8_t* string = window.bytes + entry.offset;
        if (entry.length <= inline_length)
            set_occurrence(tables, entry.code, pack_string(string, entry.length));
        else
            set_last_byte(tables, entry.code, string[entry.length - 1]);
    }
    pending.entries.clear();
    pending.first_waiting_code = no_code;
}

} // namespace

Pending make_pending() {
    Pending pending;
    pending.strings.reserve(pending_limit);
    pending.entries.reserve(pending_limit);
    return pending;
}

bool spell_pending(Pending& pending, Window& window, ExpanderTables& tables) {
    const std::vector<PendingString>& strings = pending.strings;
    TARNWEL_INVARIANT(!strings.empty() && strings.front().offset >= window.flushed);
    Spelling spelling{pending, window, tables};
    spelling.settled = strings.front().offset;
    spelling.reserved =
        std::max(window.used, strings.back().offset + std::size_t{strings.back().length});
    Lane lanes[unwind_lanes];
    std::size_t active = 0;
    while (active < unwind_lanes && spelling.next < strings.size())
        take_next(spelling, lanes[active++]);
    while (active > 0) {
        for (std::size_t j = 0; j < active;) {
            Lane& lane = lanes[j];
            if (!step(spelling, lane)) {
                ++j;
            } else if (spelling.next < strings.size()) {
                take_next(spelling, lane); // the lane takes the next string
                ++j;
            } else {
                lane = lanes[--active];
            }
        }
    }
    pending.strings.clear();
    complete_entries(pending, window, tables);
    if (spelling.failed == no_spot) return true;
    window.used = spelling.failed;
    return false;
}

} // namespace tarnwel
