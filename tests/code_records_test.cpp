// The expander's occurrence and link words: every field reads back what was
// put in, whatever its neighbours hold.
#include <gtest/gtest.h>

#include "code_records.h"

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
                    const auto last = static_cast<std::uint8_t>(byte);
                    std::uint32_t link = link_with_prefix(0, prefix);
                    std::uint64_t occurrence = pack_occurrence(0, position, length);
                    link = link_with_last_byte(link, last);
                    occurrence = occurrence_with_last_byte(occurrence, last);
                    ASSERT_EQ(link, new_link(prefix, last));
                    // The string is seen again: the new spot keeps the last byte.
                    occurrence = pack_occurrence(occurrence, position + 1, length);
                    ASSERT_FALSE(is_inline(occurrence));
                    ASSERT_EQ(record_position(occurrence), position + 1);
                    ASSERT_EQ(record_length(occurrence), length);
                    ASSERT_EQ(link_prefix(link), prefix);
                    ASSERT_EQ(positional_last_byte(occurrence, link), byte);
                }
}

TEST(CodeRecords, PositionsPastTheFieldAreUnknown) {
    std::uint64_t occurrence = pack_occurrence(last_bit, unknown_position + 12345, 9);
    EXPECT_EQ(record_position(occurrence), unknown_position);
    EXPECT_EQ(record_length(occurrence), 9u);
    EXPECT_NE(occurrence & last_bit, 0u);
}

// An inline word keeps nothing past its string, so that the next entry's
// word is this one's extended by a byte.
TEST(CodeRecords, InlineStringsGiveTheirLastByteAndExtendByOne) {
    const std::uint8_t string[8] = {0x80, 0xFF, 0x01, 0x7F, 0xFE, 0x00, 0x81, 0xAA};
    EXPECT_EQ(byte_occurrence(string[0]), pack_string(string, 1));
    for (std::uint32_t length = 1; length <= inline_length; ++length) {
        std::uint64_t occurrence = pack_string(string, length);
        EXPECT_TRUE(is_inline(occurrence));
        EXPECT_EQ(record_length(occurrence), length);
        EXPECT_EQ(inline_last_byte(occurrence), string[length - 1]) << length;
        std::uint64_t bytes = occurrence >> 8;
        EXPECT_EQ(std::memcmp(&bytes, string, length), 0);
        EXPECT_EQ(bytes >> 8 * length, 0u) << length;
        if (length < inline_length) {
            EXPECT_EQ(extend_inline(occurrence, length, string[length]),
                      pack_string(string, length + 1))
                << length;
        }
    }
}

} // namespace
} // namespace tarnwel::test
