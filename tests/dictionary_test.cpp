// The fast dictionary's storage, and the straightforward one it is checked against.
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <vector>

#include "dictionary.h"
#include "reference_dictionary.h"

namespace tarnwel::reference {
namespace {

// Filled to its last code with pairs in a random order, the table finds
// every pair with the code it was given, and ends the probe for a pair it
// never stored at an empty slot: the probe reaches every slot, whatever the
// table's size at the width.
TEST(ReferenceDictionary, FindsEveryPairStoredUpToTheLastCodeAndNoOther) {
    std::mt19937 random(41);
    std::uniform_int_distribution<std::int32_t> any_byte(0, 255);
    for (int width = 9; width <= 16; ++width) {
        Dictionary dictionary;
        ASSERT_TRUE(allocate_tables(dictionary, width));
        clear_dictionary(dictionary);
        std::map<std::pair<std::int32_t, std::int32_t>, std::int32_t> stored;
        while (dictionary.free_code <= last_code(width)) {
            auto prefix = static_cast<std::int32_t>(random() % dictionary.free_code);
            std::int32_t byte = any_byte(random);
            std::int32_t slot = probe_slot(dictionary, prefix, byte);
            if (dictionary.code_table[static_cast<std::size_t>(slot)] != empty_slot) continue;
            stored[{prefix, byte}] = static_cast<std::int32_t>(dictionary.free_code);
            ASSERT_TRUE(add_string(dictionary, slot, prefix, byte));
        }
        for (const auto& [pair, code] : stored) {
            std::int32_t slot = probe_slot(dictionary, pair.first, pair.second);
            ASSERT_EQ(dictionary.code_table[static_cast<std::size_t>(slot)], code) << width;
        }
        for (int tries = 0; tries < 1000; ++tries) {
            auto prefix = static_cast<std::int32_t>(random() % dictionary.free_code);
            std::int32_t byte = any_byte(random);
            if (stored.count({prefix, byte}) != 0) continue;
            std::int32_t slot = probe_slot(dictionary, prefix, byte);
            ASSERT_EQ(dictionary.code_table[static_cast<std::size_t>(slot)], empty_slot) << width;
        }
    }
}

TEST(ReferenceDictionary, FullDictionaryStoresNothingMore) {
    Dictionary dictionary;
    ASSERT_TRUE(allocate_tables(dictionary, 11));
    clear_dictionary(dictionary);
    dictionary.free_code = last_code(11);
    std::int32_t slot = probe_slot(dictionary, 65, 66);
    EXPECT_TRUE(add_string(dictionary, slot, 65, 66));
    std::int32_t next = probe_slot(dictionary, 66, 67);
    EXPECT_FALSE(add_string(dictionary, next, 66, 67));
    EXPECT_EQ(dictionary.code_table[static_cast<std::size_t>(next)], empty_slot);
}

} // namespace
} // namespace tarnwel::reference

namespace tarnwel {
namespace {

// The table only needs each string's hash to be the same every time it is
// asked for; a stand-in derived from the pair does for these tests.
std::uint64_t hash_of(std::uint32_t prefix, std::uint32_t byte) {
    return extend_hash(std::uint64_t{prefix} * 0x100000001B3ull, byte);
}

StringPlace place_of(Dictionary& dictionary, std::uint32_t prefix, std::uint32_t byte) {
    return find_string(dictionary, prefix, byte, hash_of(prefix, byte));
}

bool add(Dictionary& dictionary, std::uint32_t prefix, std::uint32_t byte, std::uint32_t code) {
    return add_string(dictionary, place_of(dictionary, prefix, byte), prefix, byte,
                      hash_of(prefix, byte), code);
}

TEST(Dictionary, TwoByteStringsLiveInThePairTable) {
    Dictionary dictionary;
    ASSERT_TRUE(init_dictionary(dictionary));
    StringPlace place = place_of(dictionary, 'a', 'b');
    ASSERT_NE(place.pair, nullptr);
    EXPECT_EQ(code_at(place), absent);
    ASSERT_TRUE(add(dictionary, 'a', 'b', 256));
    EXPECT_EQ(code_at(place_of(dictionary, 'a', 'b')), 256u);
    EXPECT_EQ(code_at(place_of(dictionary, 'b', 'a')), absent);
    EXPECT_EQ(dictionary.stored, 0u); // the slot table is untouched
}

// Adds random strings of three bytes and more, recording each growth's slot
// count, and checks that every one is still found afterwards.
void fill_and_check(Dictionary& dictionary, std::vector<std::size_t>& sizes) {
    std::mt19937 generator(5);
    std::map<std::pair<std::uint32_t, std::uint32_t>, std::uint32_t> stored;
    sizes.assign(1, dictionary.mask + 1);
    for (std::uint32_t code = 256; code < 256 + 300000; ++code) {
        std::uint32_t prefix = 256 + generator() % (code - 255);
        std::uint32_t byte = generator() % 256;
        if (code_at(place_of(dictionary, prefix, byte)) != absent) continue;
        ASSERT_TRUE(add(dictionary, prefix, byte, code));
        if (dictionary.mask + 1 != sizes.back()) sizes.push_back(dictionary.mask + 1);
        stored[{prefix, byte}] = code;
    }
    EXPECT_EQ(dictionary.stored, stored.size());
    // Never more than three quarters full, so every probe ends.
    EXPECT_LE(dictionary.stored * 4, (dictionary.mask + 1) * 3);
    for (const auto& [key, code] : stored)
        ASSERT_EQ(code_at(place_of(dictionary, key.first, key.second)), code);
    for (int i = 0; i < 1000; ++i) {
        std::uint32_t prefix = (1u << 24) + static_cast<std::uint32_t>(i);
        EXPECT_EQ(code_at(place_of(dictionary, prefix, 7)), absent);
    }
}

TEST(Dictionary, LongerStringsSurviveEveryGrowth) {
    Dictionary dictionary;
    ASSERT_TRUE(init_dictionary(dictionary));
    std::vector<std::size_t> sizes;
    fill_and_check(dictionary, sizes);
    ASSERT_GE(sizes.size(), 4u);
    for (std::size_t i = 1; i < sizes.size(); ++i)
        EXPECT_EQ(sizes[i], 2 * sizes[i - 1]);
}

TEST(Dictionary, GrowingGoesStraightToThePlannedSizeButAtMostThirtyTwoTimes) {
    Dictionary dictionary;
    ASSERT_TRUE(init_dictionary(dictionary));
    dictionary.planned = 3000000; // wants 2^22 slots, further than one step goes
    std::vector<std::size_t> sizes;
    fill_and_check(dictionary, sizes);
    ASSERT_EQ(sizes.size(), 2u);
    EXPECT_EQ(sizes[1], 32 * sizes[0]);

    ASSERT_TRUE(init_dictionary(dictionary));
    dictionary.planned = 150000; // wants 2^18; the 300000 entries then double it
    fill_and_check(dictionary, sizes);
    ASSERT_EQ(sizes.size(), 3u);
    EXPECT_EQ(sizes[1], 16 * sizes[0]);
    EXPECT_EQ(sizes[2], 2 * sizes[1]);
}

// A table prepared ahead, its pages faulted in on another thread, is the
// one the growth takes when the plan still wants its size, and is let go
// when the plan has changed; either way every string is found after it.
TEST(Prefault, GrowthTakesTheTablePreparedAheadWhileThePlanStillWantsIt) {
    struct PlanCase {
        std::size_t planned_at_growth;
        bool taken;
    };
    // 2^19 slots grow at 393216 entries; 3000000 planned wants 2^22 there,
    // 600000 wants 2^20.
    for (PlanCase plan : {PlanCase{3000000, true}, PlanCase{600000, false}}) {
        Dictionary dictionary;
        ASSERT_TRUE(init_dictionary(dictionary));
        dictionary.planned = 3000000;
        dictionary.prepare_ahead = true;
        std::mt19937 generator(7);
        std::map<std::pair<std::uint32_t, std::uint32_t>, std::uint32_t> stored;
        const std::uint64_t* prepared = nullptr;
        std::size_t grown_at = 0;
        for (std::uint32_t code = 256; code < 256 + 450000; ++code) {
            std::uint32_t prefix = 256 + generator() % (code - 255);
            std::uint32_t byte = generator() % 256;
            if (code_at(place_of(dictionary, prefix, byte)) != absent) continue;
            std::size_t slots_before = dictionary.mask + 1;
            ASSERT_TRUE(add(dictionary, prefix, byte, code));
            stored[{prefix, byte}] = code;
            if (dictionary.mask + 1 != slots_before && slots_before == std::size_t{1} << 19) {
                grown_at = slots_before;
                // (Let go, its address may come back for the growth's own.)
                if (plan.taken) {
                    EXPECT_EQ(dictionary.slots.data(), prepared);
                }
                EXPECT_TRUE(dictionary.prepared_slots.empty());
            }
            prepare_growth(dictionary);
            if (prepared == nullptr && !dictionary.prepared_slots.empty()) {
                // Half way to the growth, and no sooner.
                EXPECT_EQ(dictionary.mask + 1, std::size_t{1} << 19);
                EXPECT_GE(dictionary.stored * 8, (dictionary.mask + 1) * 3);
                EXPECT_EQ(dictionary.prepared_slots.size, std::size_t{1} << 22);
                prepared = dictionary.prepared_slots.data();
                dictionary.planned = plan.planned_at_growth;
            }
        }
        ASSERT_NE(prepared, nullptr);
        ASSERT_EQ(grown_at, std::size_t{1} << 19);
        EXPECT_EQ(dictionary.mask + 1, std::size_t{plan.taken ? 1u << 22 : 1u << 20});
        for (const auto& [key, code] : stored)
            ASSERT_EQ(code_at(place_of(dictionary, key.first, key.second)), code);
    }
}

TEST(Dictionary, StringsSharingAHashAreToldApartByTheirPair) {
    Dictionary dictionary;
    ASSERT_TRUE(init_dictionary(dictionary));
    const std::uint64_t same = 12345;
    ASSERT_TRUE(add_string(dictionary, find_string(dictionary, 300, 1, same), 300, 1, same, 400));
    ASSERT_TRUE(add_string(dictionary, find_string(dictionary, 301, 1, same), 301, 1, same, 401));
    EXPECT_EQ(code_at(find_string(dictionary, 300, 1, same)), 400u);
    EXPECT_EQ(code_at(find_string(dictionary, 301, 1, same)), 401u);
    EXPECT_EQ(code_at(find_string(dictionary, 302, 1, same)), absent);
}

TEST(Dictionary, WidestCodesAndPrefixesPackIntoOneEntry) {
    Dictionary dictionary;
    ASSERT_TRUE(init_dictionary(dictionary));
    const std::uint32_t widest = (1u << max_width) - 2;
    ASSERT_TRUE(add(dictionary, widest, 0xFF, widest));
    EXPECT_EQ(code_at(place_of(dictionary, widest, 0xFF)), widest);
    EXPECT_EQ(code_at(place_of(dictionary, widest, 0xFE)), absent);
    EXPECT_EQ(code_at(place_of(dictionary, widest - 1, 0xFF)), absent);
}

} // namespace
} // namespace tarnwel
