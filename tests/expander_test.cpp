// Expanding: known streams, every width, long strings, and streams no
// compressor writes.
#include <gtest/gtest.h>

#include <numeric>
#include <set>
#include <stdexcept>

#include "expander.h"
#include "tarnwel.h"
#include "test_support.h"

namespace tarnwel::test {
namespace {

void expect_round_trip(const Bytes& input, int width) {
    Expanded expanded = expand_bytes(compress_bytes(input, width), width);
    ASSERT_EQ(expanded.status, CodecStatus::ok) << "BITS " << width;
    ASSERT_TRUE(expanded.bytes == input) << "BITS " << width << ": " << input.size()
                                         << " bytes in, " << expanded.bytes.size() << " out";
}

TEST(Expander, KnownStreams) {
    EXPECT_EQ(expand_bytes({0xFF, 0xFF}, 11).bytes, Bytes{});
    EXPECT_EQ(expand_bytes({0x0C, 0x3F}, 11).bytes, Bytes{0x61});
    // The second code is the one being defined: "a" then "aa", then "a".
    Expanded four = expand_bytes({0x0C, 0x24, 0x00, 0x30, 0xFF}, 11);
    EXPECT_EQ(four.status, CodecStatus::ok);
    EXPECT_EQ(four.bytes, bytes_of("aaaa"));
}

TEST(Expander, EmptyAndOneByteInputsRoundTripAtEveryWidth) {
    for (int width = min_width; width <= max_width; ++width) {
        expect_round_trip({}, width);
        expect_round_trip({0x00}, width);
        expect_round_trip({0xFF}, width);
    }
}

TEST(Expander, MixedInputsRoundTripAtEveryWidth) {
    const Bytes inputs[] = {text_like(300000, 21), random_bytes(200000, 22),
                            bytes_of("abababababababababab")};
    for (int width = min_width; width <= max_width; ++width)
        for (const Bytes& input : inputs)
            expect_round_trip(input, width);
}

TEST(Expander, FrozenDictionaryKeepsExpanding) {
    // At 11 and 12 these inputs fill the dictionary early and go on with it frozen.
    Bytes input = random_bytes(50000, 23);
    Bytes text = text_like(50000, 24);
    input.insert(input.end(), text.begin(), text.end());
    for (int width : {11, 12, 13})
        expect_round_trip(input, width);
}

TEST(Expander, StringsLongerThanFourThousandBytes) {
    // A run of n equal bytes gives strings up to about sqrt(2n) bytes: 8.1 MB
    // reaches past 4000 at every width that does not fill before then.
    Bytes run(8100000, 0);
    for (int width : {13, 14, 16, 20, 25})
        expect_round_trip(run, width);
}

TEST(Expander, LongestStringAtThirteenBits) {
    // 32 MiB of one byte fills width 13, so the stream carries code 8190,
    // whose string is 2^13 - 256 = 7936 bytes, the longest possible.
    expect_round_trip(Bytes(32u << 20, 'x'), 13);
}

TEST(Expander, FirstCodeThatIsNotAByteIsCorrupt) {
    Bytes stream = reference_pack({256, 2047}, 11);
    Expanded expanded = expand_bytes(stream, 11);
    EXPECT_EQ(expanded.status, CodecStatus::corrupt_stream);
    EXPECT_TRUE(expanded.bytes.empty());
}

TEST(Expander, CodeAboveFreeCodeIsCorruptAndEarlierBytesStay) {
    // free_code is 256 when the second code is read; 257 names an unset entry.
    Expanded expanded = expand_bytes(reference_pack({'a', 'b', 258, 2047}, 11), 11);
    EXPECT_EQ(expanded.status, CodecStatus::corrupt_stream);
    EXPECT_EQ(expanded.bytes, bytes_of("ab"));
    // 256 is "ab"; 257, the code being defined, is "b" extended by its first byte.
    EXPECT_EQ(expand_bytes(reference_pack({'a', 'b', 256, 2047}, 11), 11).bytes, bytes_of("abab"));
    EXPECT_EQ(expand_bytes(reference_pack({'a', 'b', 257, 2047}, 11), 11).bytes, bytes_of("abbb"));
}

TEST(Expander, ChainsThatDoNotEndInAByteAtTheirLengthAreCorrupt) {
    // Compressed streams cannot make these, but unwind_code must not trust that.
    ExpanderTables tables;
    ASSERT_TRUE(allocate_expander(tables, 11));
    std::uint8_t spelled[4] = {0, 0, 0, 0};
    set_prefix(tables, 300, 301);
    set_prefix(tables, 301, 300);
    set_last_byte(tables, 300, 'x');
    set_last_byte(tables, 301, 'y');
    EXPECT_FALSE(unwind_code(tables, spelled + 3, 300, 4)); // a cycle
    set_prefix(tables, 301, 'q');
    EXPECT_FALSE(unwind_code(tables, spelled + 3, 300, 4)); // shorter than its length
    EXPECT_FALSE(unwind_code(tables, spelled + 1, 300, 2)); // longer than its length
    ASSERT_TRUE(unwind_code(tables, spelled + 2, 300, 3));
    EXPECT_EQ(spelled[0], 'q');
    EXPECT_EQ(spelled[1], 'y');
    EXPECT_EQ(spelled[2], 'x');
}

TEST(Expander, StringsOutsideTheWindowAreUnwound) {
    // At width 16 the window holds 288 KiB of history: strings first met in a
    // long-gone prefix of the output are spelled from the prefix links.
    Bytes input = text_like(20000, 27);
    Bytes noise = random_bytes(400000, 28);
    input.insert(input.end(), noise.begin(), noise.end());
    Bytes again = text_like(20000, 27);
    input.insert(input.end(), again.begin(), again.end());
    expect_round_trip(input, 16);
}

TEST(Expander, RepeatsLongerThanTheWindowComeBack) {
    // Text repeated with a period of 80 KB, longer than the window holds at
    // these widths: the long strings of each repeat are spelled from the
    // prefix links, many chains at a time, at 11 and 12 with the dictionary
    // full and at 13 and 14 while it still grows, with new entries waiting
    // for the strings that end them.
    Bytes period = text_like(80000, 31);
    Bytes input;
    for (int i = 0; i < 6; ++i)
        input.insert(input.end(), period.begin(), period.end());
    for (int width : {11, 12, 13, 14})
        expect_round_trip(input, width);
    // At 18 the window holds 1.1 MiB, and settled output goes to a writer
    // thread while places before it still wait to be spelled.
    Bytes long_period = text_like(1300000, 32);
    Bytes repeated;
    for (int i = 0; i < 3; ++i)
        repeated.insert(repeated.end(), long_period.begin(), long_period.end());
    expect_round_trip(repeated, 18);
}

TEST(Expander, AnEntryWaitingForAStringGoneFromTheWindowIsReadOnlyOnceSpelled) {
    // "w7" is followed by a long string last seen before the window (at
    // width 16, 288 KiB back), which waits to be spelled; the entry "w7A"
    // made from the two waits with it, and the stream names it three codes
    // later. Tables left from another stream hold a stale record for it.
    Bytes input = bytes_of("w7w7w7w7");
    for (int i = 0; i < 40; ++i) {
        Bytes unit = bytes_of("ABCDEFGHIJKLMNOPxyz");
        input.insert(input.end(), unit.begin(), unit.end());
    }
    input.insert(input.end(), std::size_t{300} << 10, 0);
    Bytes ending = bytes_of("w7ABCDEFGHIJKLMNOPw7A!");
    input.insert(input.end(), ending.begin(), ending.end());
    ExpanderTables tables;
    ASSERT_TRUE(allocate_expander(tables, 16));
    ASSERT_EQ(expand_bytes(compress_bytes(text_like(200000, 7), 16), tables).status,
              CodecStatus::ok);
    Expanded expanded = expand_bytes(compress_bytes(input, 16), tables);
    ASSERT_EQ(expanded.status, CodecStatus::ok);
    EXPECT_TRUE(expanded.bytes == input);
}

TEST(Expander, RepeatsAboutAsLongAsTheWindowAreCopiedFromTheLapBefore) {
    // The window (9 KiB at 11, 18 KiB at 12) is filled in laps: a period a
    // little shorter than it is copied from the lap before, right up to the
    // bytes the current lap has overwritten; a little longer, it is gone.
    for (int width : {11, 12}) {
        const std::size_t window = std::size_t{9} << (width - 1);
        for (std::size_t period = window - 600; period <= window + 100; period += 50) {
            Bytes unit = text_like(period, static_cast<std::uint32_t>(period));
            Bytes input;
            for (int i = 0; i < 7; ++i)
                input.insert(input.end(), unit.begin(), unit.end());
            expect_round_trip(input, width);
        }
    }
}

// The length of the input the first `count` codes spell: a code's string
// is a byte, or the string of the code the entry was made after, plus one.
std::size_t spelled_length(const Codes& codes, std::size_t count, int width) {
    std::vector<std::size_t> entry_length;
    std::size_t length = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint32_t code = codes[i];
        const std::size_t string = code < 256 ? 1 : entry_length.at(code - 256);
        if (i + 255 < last_code(width)) entry_length.push_back(string + 1);
        length += string;
    }
    return length;
}

// Steps through the stream in pieces of three bytes, into an output of five.
Expanded step_through(const Bytes& stream, int width) {
    tarnwel_expander* expander = nullptr;
    if (tarnwel_expander_create(width, &expander) != TARNWEL_OK)
        throw std::runtime_error("no memory");
    Expanded got;
    tarnwel_in_buffer in{stream.data(), 0, 0};
    tarnwel_status status = TARNWEL_OK;
    for (int done = 0, steps = 0; status == TARNWEL_OK && done == 0; ++steps) {
        if (steps > 100000) throw std::runtime_error("steps stalled");
        in.size = std::min(in.pos + 3, stream.size());
        std::uint8_t buffer[5];
        tarnwel_out_buffer out{buffer, sizeof buffer, 0};
        status = tarnwel_expander_step(expander, &in, &out, in.size == stream.size(), &done);
        got.bytes.insert(got.bytes.end(), buffer, buffer + out.pos);
    }
    tarnwel_expander_free(expander);
    got.status = status == TARNWEL_OK ? CodecStatus::ok : CodecStatus::corrupt_stream;
    return got;
}

// A writer's file holds every code but the end code whole, and all but at
// most 7 bits of the end code: so a stream cut at any byte is corrupt, and
// gives exactly what its whole codes spell. The pull loop, the steps and
// the straightforward expander all see the cut, at every width; the whole
// stream ends well, with every trailing partial byte the writer leaves.
TEST(Expander, AStreamCutAtAnyByteIsCorruptAndGivesWhatItsWholeCodesSpell) {
    const Bytes input = text_like(160, 25);
    for (int width = min_width; width <= max_width; ++width) {
        // Whole streams leaving every number of the end code's bits unwritten
        // the width allows (any of 0 to 7 at an odd width).
        std::set<std::size_t> unwritten;
        for (std::size_t taken = 0; taken <= 12; ++taken) {
            const Bytes front(input.begin(), input.begin() + static_cast<std::ptrdiff_t>(taken));
            const Bytes stream = compress_bytes(front, width);
            unwritten.insert(reference_codes(front, width).size() * static_cast<unsigned>(width) %
                             8);
            for (const Expanded& expanded :
                 {expand_bytes(stream, width), step_through(stream, width),
                  reference_expand_bytes(stream, width)}) {
                ASSERT_EQ(expanded.status, CodecStatus::ok) << "BITS " << width << ", " << taken;
                ASSERT_TRUE(expanded.bytes == front) << "BITS " << width << ", " << taken;
            }
        }
        ASSERT_EQ(unwritten.size(), 8u / static_cast<unsigned>(std::gcd(width, 8))) << width;
        const Codes codes = reference_codes(input, width);
        const Bytes stream = compress_bytes(input, width);
        ExpanderTables tables;
        ASSERT_TRUE(allocate_expander(tables, width));
        for (std::size_t length = 0; length <= stream.size(); ++length) {
            const Bytes cut(stream.begin(), stream.begin() + static_cast<std::ptrdiff_t>(length));
            const bool whole = length == stream.size();
            const std::size_t whole_codes =
                std::min(length * 8 / static_cast<unsigned>(width), codes.size() - 1);
            const Bytes front(input.begin(),
                              input.begin() + static_cast<std::ptrdiff_t>(
                                                  spelled_length(codes, whole_codes, width)));
            const Expanded got[] = {expand_bytes(cut, tables), step_through(cut, width),
                                    reference_expand_bytes(cut, width)};
            for (const Expanded& expanded : got) {
                const std::string what =
                    "BITS " + std::to_string(width) + " cut at " + std::to_string(length) + " of " +
                    std::to_string(stream.size()) + ", expander " + std::to_string(&expanded - got);
                ASSERT_EQ(expanded.status, whole ? CodecStatus::ok : CodecStatus::corrupt_stream)
                    << what;
                ASSERT_TRUE(expanded.bytes == front)
                    << what << ": " << expanded.bytes.size() << " bytes, not " << front.size();
            }
        }
    }
}

TEST(Expander, WrongWidthEndsCleanlyOrAsCorrupt) {
    Bytes input = text_like(20000, 26);
    for (int written = min_width; written <= max_width; written += 3) {
        Bytes stream = compress_bytes(input, written);
        for (int read = min_width; read <= max_width; ++read) {
            if (read == written) continue;
            CodecStatus status = expand_bytes(stream, read).status;
            EXPECT_TRUE(status == CodecStatus::ok || status == CodecStatus::corrupt_stream);
        }
    }
}

} // namespace
} // namespace tarnwel::test
