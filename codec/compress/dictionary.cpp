#include "dictionary.h"

#include <algorithm>
#include <memory>
#include <new>

#include "prefault.h"

namespace tarnwel {

namespace {

constexpr int initial_slot_bits = 14;
constexpr int populated_slot_bits = 20;

// Codes run ahead of the slot table by at most the 256 bytes and the 64 Ki
// pairs, which are not in it, so the placements fit in this many.
std::size_t placement_count(int slot_bits) {
    return (std::size_t{1} << slot_bits) + 256 + (1 << 16);
}

// Moves the placements to an array of count entries.
bool resize_placements(Dictionary& dictionary, std::size_t count) {
    MappedArray<std::uint32_t> placements;
    if (!allocate_zeroed(placements, count, PageSize::small)) return false;
    std::uint32_t* old = dictionary.placements.data();
    for (std::size_t code = 0; code < dictionary.placements.size && code < count; ++code)
        placements[code] = old[code];
    dictionary.placements = std::move(placements);
    return true;
}

// The table made ahead by prepare_growth, if it has slot_bits: its pages
// faulted in, those the helper had not reached by now on both cores. Let go
// otherwise, before the growth makes its own.
bool take_prepared(Dictionary& dictionary, int slot_bits) {
    if (dictionary.prepared_slots.empty()) return false;
    Prefaulter& preparing = *dictionary.preparing;
    stop_prefault(preparing);
    std::size_t populated = preparing.tracks[0].populated;
    dictionary.preparing.reset();
    MappedArray<std::uint64_t> prepared = std::move(dictionary.prepared_slots);
    if (prepared.size != std::size_t{1} << slot_bits) return false;
    std::size_t bytes = prepared.size * sizeof(std::uint64_t);
    if (populated < bytes)
        populate_now(reinterpret_cast<std::uint8_t*>(prepared.data()) + populated,
                     bytes - populated);
    dictionary.slots = std::move(prepared);
    return true;
}

bool allocate_slots(Dictionary& dictionary, int slot_bits) {
    // The placements grow alongside the table, so that a small input
    // reserves little address space.
    if (dictionary.placements.size < placement_count(slot_bits) &&
        !resize_placements(dictionary, placement_count(slot_bits)))
        return false;
    if (!take_prepared(dictionary, slot_bits)) {
        if (!allocate_zeroed(dictionary.slots, std::size_t{1} << slot_bits)) return false;
        // A large table is filled all over at once by the move that follows.
        if (slot_bits >= populated_slot_bits)
            populate_now(dictionary.slots.data(), dictionary.slots.size * sizeof(std::uint64_t));
    }
    ++dictionary.generation;
    dictionary.mask = (std::size_t{1} << slot_bits) - 1;
    dictionary.shift = 64 - slot_bits;
    dictionary.stored = 0;
    return true;
}

} // namespace

bool init_dictionary(Dictionary& dictionary) {
    dictionary = Dictionary{};
    dictionary.generation = -1;
    return allocate_zeroed(dictionary.pair_codes, std::size_t{1} << 16) &&
           allocate_slots(dictionary, initial_slot_bits);
}

bool make_room_for_code(Dictionary& dictionary, std::uint32_t code) {
    return resize_placements(
        dictionary, std::max<std::size_t>(std::size_t{code} + 1, 2 * dictionary.placements.size));
}

namespace {

// The slot bits of the table the next growth makes: straight to a size for
// the planned entries, but by at most 32 times at once, since early plans,
// made before the dictionary knows the input, run high.
int growth_bits(const Dictionary& dictionary) {
    int slot_bits = 64 - dictionary.shift + 1;
    const int most_width = slot_bits + 4;
    while (slot_bits < most_width && dictionary.planned * 4 > (std::size_t{3} << slot_bits))
        ++slot_bits;
    return slot_bits;
}

} // namespace

bool grow_dictionary(Dictionary& dictionary) {
    MappedArray<std::uint64_t> old = std::move(dictionary.slots);
    std::size_t old_count = dictionary.mask + 1;
    if (!allocate_slots(dictionary, growth_bits(dictionary))) {
        // The run fails, but a frozen parse on another thread may still be
        // probing this table until it is told.
        dictionary.slots = std::move(old);
        return false;
    }
    // Every move reads a placement and writes a slot at random: asking for
    // both well ahead keeps many of them in flight at once.
    constexpr std::size_t placement_ahead = 32;
    constexpr std::size_t slot_ahead = 16;
    const std::uint32_t* placements = dictionary.placements.data();
    for (std::size_t i = 0; i < old_count; ++i) {
        if (i + placement_ahead < old_count && old[i + placement_ahead] != 0)
            __builtin_prefetch(&placements[old[i + placement_ahead] & code_mask]);
        if (i + slot_ahead < old_count && old[i + slot_ahead] != 0)
            __builtin_prefetch(
                &dictionary
                     .slots[home_slot(dictionary, placements[old[i + slot_ahead] & code_mask])]);
        std::uint64_t entry = old[i];
        if (entry == 0) continue;
        std::size_t home = home_slot(dictionary, placements[entry & code_mask]);
        dictionary.slots[probe_from(dictionary, entry >> code_bits, home)] = entry;
        ++dictionary.stored;
    }
    if (dictionary.keep_old_tables)
        dictionary.old_tables.push_back({std::move(old), dictionary.generation});
    return true;
}

void release_old_tables(Dictionary& dictionary, int oldest_in_use) {
    auto& old = dictionary.old_tables;
    std::erase_if(
        old, [&](const Dictionary::OldTable& table) { return table.replaced_by <= oldest_in_use; });
}

void prepare_growth(Dictionary& dictionary) {
    if (!dictionary.prepare_ahead || !dictionary.prepared_slots.empty()) return;
    std::size_t slot_count = dictionary.mask + 1;
    // Once the entries are half way to the growth: a plan made earlier may
    // still change its size.
    if (dictionary.stored * 8 < slot_count * 3 || dictionary.planned * 4 <= slot_count * 3) return;
    int slot_bits = growth_bits(dictionary);
    if (slot_bits < populated_slot_bits) return;
    try {
        auto preparing = std::make_unique<Prefaulter>();
        if (!allocate_zeroed(dictionary.prepared_slots, std::size_t{1} << slot_bits)) return;
        std::size_t bytes = dictionary.prepared_slots.size * sizeof(std::uint64_t);
        add_prefault_track(*preparing, dictionary.prepared_slots.data(), bytes);
        start_prefault(*preparing, bytes);
        dictionary.preparing = std::move(preparing);
    } catch (const std::bad_alloc&) {
        // Made at growth instead.
    }
}

} // namespace tarnwel
