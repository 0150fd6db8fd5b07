#include "unbounded_strings.h"

#include <gtest/gtest.h>

#include <string>

#include "test_support.h"

namespace tarnwel::test {
namespace {

// The codes of an unbounded parse of input, without the last string's and
// the end code, and each string's length, from a plain dictionary of the
// strings themselves.
struct Parsed {
    Codes codes;
    std::vector<std::uint32_t> lengths;
};

Parsed parse_unbounded(const Bytes& input) {
    Parsed parsed;
    parsed.codes = reference_codes(input, max_width);
    parsed.codes.resize(parsed.codes.size() - 2);
    std::vector<std::string> strings;
    for (int byte = 0; byte < 256; ++byte)
        strings.emplace_back(1, static_cast<char>(byte));
    std::size_t at = 0;
    for (std::uint32_t code : parsed.codes) {
        std::string string = strings[code];
        parsed.lengths.push_back(static_cast<std::uint32_t>(string.size()));
        at += string.size();
        strings.push_back(string + static_cast<char>(input[at]));
    }
    return parsed;
}

TEST(UnboundedStrings, LengthsWorkedOutFromTheCodesAreTheStringsLengths) {
    // Random bytes, then a run of zeros whose strings pass 255 bytes, then
    // text that meets those long strings' prefixes again.
    Bytes input = random_bytes(3000, 1);
    input.resize(input.size() + 60000, 0);
    Bytes text = text_like(40000, 2);
    input.insert(input.end(), text.begin(), text.end());
    Parsed parsed = parse_unbounded(input);
    std::size_t count = parsed.codes.size();
    std::size_t half = count / 2;

    // The lengths are worked out a block at a time, the list's room growing
    // between (a file that grew while it was read).
    UnboundedStrings strings;
    note_unbounded_codes(strings, parsed.codes.data(), half, half);
    work_out_lengths(strings);
    note_unbounded_codes(strings, parsed.codes.data(), count, count);
    work_out_lengths(strings);
    ASSERT_FALSE(strings.off);
    std::size_t long_ones = 0;
    std::int64_t start = 0;
    for (std::size_t k = 0; k < count; ++k) {
        ASSERT_EQ(string_length(strings, k), parsed.lengths[k]) << "string " << k;
        long_ones += parsed.lengths[k] >= long_length;
        // Following finds every string's start, and no place within one.
        ASSERT_TRUE(follow_to(strings, start)) << "string " << k;
        EXPECT_EQ(strings.next, k);
        if (parsed.lengths[k] > 1) {
            EXPECT_FALSE(follow_to(strings, start + 1));
        }
        start += parsed.lengths[k];
    }
    EXPECT_GT(long_ones, 10u);

    // A restart past the strings there is room for (the list outgrew its
    // room within a block) turns following off for the rest of the run.
    UnboundedStrings outgrown;
    note_unbounded_codes(outgrown, parsed.codes.data(), half, half);
    restart_following(outgrown, parsed.codes.data(), half + 10, 0);
    note_unbounded_codes(outgrown, parsed.codes.data(), count, count);
    work_out_lengths(outgrown);
    EXPECT_FALSE(follow_to(outgrown, 0));
}

} // namespace
} // namespace tarnwel::test
