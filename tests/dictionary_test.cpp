// The hash table's sizes and probing.
#include <gtest/gtest.h>

#include "codec/dictionary.h"

namespace tarnwel {
namespace {

bool is_prime(std::int64_t n) {
    if (n < 2) return false;
    for (std::int64_t d = 2; d * d <= n; ++d)
        if (n % d == 0) return false;
    return true;
}

TEST(Dictionary, TableSizesAreTheLargestPrimesUnderFiveQuartersOfTheCodeSpace) {
    for (int bits = 8; bits <= 25; ++bits) {
        std::int64_t limit = 5 * (std::int64_t{1} << bits) / 4;
        std::int64_t expected = limit;
        while (!is_prime(expected))
            --expected;
        EXPECT_EQ(TABLESIZE[static_cast<std::size_t>(bits)], expected) << "BITS " << bits;
        // The expander indexes by code, so every code must fit.
        EXPECT_GT(TABLESIZE[static_cast<std::size_t>(bits)],
                  static_cast<std::int64_t>(last_code(bits)));
    }
    for (int bits = 0; bits < 8; ++bits)
        EXPECT_EQ(TABLESIZE[static_cast<std::size_t>(bits)], 317);
}

TEST(Dictionary, PrefixZeroByteZeroStartsAtSlotZeroAndStepsByOne) {
    Dictionary dictionary;
    ASSERT_TRUE(allocate_tables(dictionary, 11));
    clear_dictionary(dictionary);
    EXPECT_EQ(probe_slot(dictionary, 0, 0), 0);
    // Occupy slot 0 with another pair: the probe moves down by one, wrapping.
    dictionary.code_table[0] = 300;
    dictionary.prefix_table[0] = 5;
    dictionary.byte_table[0] = 1;
    EXPECT_EQ(probe_slot(dictionary, 0, 0), dictionary.slot_count - 1);
    dictionary.code_table[static_cast<std::size_t>(dictionary.slot_count - 1)] = 301;
    dictionary.prefix_table[static_cast<std::size_t>(dictionary.slot_count - 1)] = 9;
    EXPECT_EQ(probe_slot(dictionary, 0, 0), dictionary.slot_count - 2);
}

TEST(Dictionary, ProbeFindsAStoredPairAndStartsFromByteShiftedXorPrefix) {
    Dictionary dictionary;
    ASSERT_TRUE(allocate_tables(dictionary, 12));
    clear_dictionary(dictionary);
    std::int32_t slot = probe_slot(dictionary, 300, 7);
    EXPECT_EQ(slot, (7 << 4) ^ 300);
    ASSERT_TRUE(add_string(dictionary, slot, 300, 7));
    EXPECT_EQ(probe_slot(dictionary, 300, 7), slot);
    EXPECT_EQ(dictionary.code_table[static_cast<std::size_t>(slot)], 256);
    // A colliding pair lands elsewhere, one step of (slot_count - start) on.
    std::int32_t other = probe_slot(dictionary, 300 ^ (1 << 4), 6);
    EXPECT_EQ(other, slot - (dictionary.slot_count - slot) + dictionary.slot_count);
}

TEST(Dictionary, FullDictionaryStoresNothingMore) {
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
} // namespace tarnwel
