// The expander's twelve-byte records: every field reads back what was put
// in, whatever its neighbours hold.
#include <gtest/gtest.h>

#include "codec/code_records.h"

namespace tarnwel::test {
namespace {

TEST(CodeRecords, PositionalFieldsKeepEachOtherAtTheirExtremes) {
    const std::uint32_t prefixes[] = {0, 255, 256, prefix_mask - 1};
    const std::uint64_t positions[] = {0, 1, (std::uint64_t{1} << 32) + 5, unknown_position - 1};
    const std::uint32_t lengths[] = {inline_length + 1, 4096, (1u << 25) - 256};
    for (int byte = 0; byte < 256; ++byte)
        for (std::uint32_t prefix : prefixes)
            for (std::uint64_t position : positions)
                for (std::uint32_t length : lengths) {
                    std::uint8_t record[record_size] = {};
                    set_record_prefix(record, prefix);
                    store_occurrence(record, pack_occurrence(0, position, length));
                    set_record_last_byte(record, static_cast<std::uint8_t>(byte));
                    // The string is seen again: the new spot keeps the last byte.
                    store_occurrence(
                        record, pack_occurrence(load_occurrence(record), position + 1, length));
                    std::uint64_t occurrence = load_occurrence(record);
                    ASSERT_FALSE(is_inline(occurrence));
                    ASSERT_EQ(record_position(occurrence), position + 1);
                    ASSERT_EQ(record_length(occurrence), length);
                    ASSERT_EQ(record_prefix(record), prefix);
                    ASSERT_EQ(record_last_byte(record), byte);
                }
}

TEST(CodeRecords, PositionsPastTheFieldAreUnknown) {
    std::uint64_t occurrence = pack_occurrence(last_bit, unknown_position + 12345, 9);
    EXPECT_EQ(record_position(occurrence), unknown_position);
    EXPECT_EQ(record_length(occurrence), 9u);
    EXPECT_NE(occurrence & last_bit, 0u);
}

TEST(CodeRecords, InlineStringsGiveTheirLastByteAndKeepThePrefix) {
    const std::uint8_t string[8] = {0x80, 0xFF, 0x01, 0x7F, 0xFE, 0x00, 0x81, 0xAA};
    for (std::uint32_t length = 2; length <= inline_length; ++length) {
        std::uint8_t record[record_size] = {};
        set_record_prefix(record, prefix_mask);
        store_occurrence(record, pack_string(string, length));
        std::uint64_t occurrence = load_occurrence(record);
        EXPECT_TRUE(is_inline(occurrence));
        EXPECT_EQ(record_length(occurrence), length);
        EXPECT_EQ(record_last_byte(record), string[length - 1]) << length;
        EXPECT_EQ(record_prefix(record), prefix_mask);
        std::uint64_t bytes = occurrence >> 8;
        EXPECT_EQ(std::memcmp(&bytes, string, length), 0);
    }
}

} // namespace
} // namespace tarnwel::test
