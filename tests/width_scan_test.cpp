// Finding a stream's width from the stream: the compressor's streams at
// every width fit their own, the rules of the stream's end hold to the bit,
// and on streams cut or damaged the scan never claims a width the expander
// refuses.
#include <gtest/gtest.h>

#include <random>

#include "tarnwel.h"
#include "test_support.h"
#include "width_scan.h"

namespace tarnwel::test {
namespace {

unsigned only(int width) {
    return 1u << width;
}

// The library's calls: from memory, and from a source that hands out the
// stream a few bytes at a time (so that codes straddle the chunks), which
// must agree.
unsigned scan(const Bytes& stream) {
    unsigned whole = 0;
    EXPECT_EQ(tarnwel_scan_widths(stream.data(), stream.size(), &whole), TARNWEL_OK);
    struct Chunks {
        const Bytes& bytes;
        std::size_t at = 0;
    } chunks{stream};
    auto read = [](void* context, void* buffer, std::size_t capacity, std::size_t* got) {
        auto& c = *static_cast<Chunks*>(context);
        *got = std::min({capacity, c.bytes.size() - c.at, std::size_t{1} + c.at % 7});
        std::copy_n(c.bytes.data() + c.at, *got, static_cast<std::uint8_t*>(buffer));
        c.at += *got;
        return 1;
    };
    const tarnwel_source source{&chunks, read, -1};
    unsigned streamed = 0;
    EXPECT_EQ(tarnwel_scan_widths_stream(&source, &streamed), TARNWEL_OK);
    EXPECT_EQ(streamed, whole);
    return whole;
}

TEST(WidthScan, StreamsAtEveryWidthFitThemAndAboveAFewHundredBytesOnlyThem) {
    // Up to full dictionaries at the narrow widths, whose codes then stay
    // below the end code.
    const Bytes inputs[] = {{},
                            bytes_of("a"),
                            text_like(40, 71),
                            text_like(600, 72),
                            random_bytes(3000, 73),
                            mixed_input(40000, 74)};
    for (int width = min_width; width <= max_width; ++width) {
        for (const Bytes& input : inputs) {
            Bytes stream = compress_bytes(input, width);
            unsigned widths = scan(stream);
            EXPECT_TRUE(widths & only(width)) << width << " " << input.size();
            if (stream.size() >= 300) {
                EXPECT_EQ(widths, only(width)) << width << " " << input.size();
            }
        }
    }
}

TEST(WidthScan, TheEndOfTheStreamIsCheckedToTheBit) {
    struct Case {
        Bytes stream;
        unsigned widths;
    };
    const Case cases[] = {
        {reference_pack({97, 2047}, 11), only(11)},
        {reference_pack({97, 256, 97, 2047}, 11), only(11)},
        {reference_pack({97, 257, 97, 2047}, 11), 0},  // a code past the next free code
        {reference_pack({300, 2047}, 11), 0},          // a first code that is no byte
        {reference_pack({97, 2047, 97, 2047}, 11), 0}, // the end code before the last
        {reference_pack({97, 98, 99, 2047}, 11), only(11)},
        {reference_pack({97, 98, 99, 100}, 11), 0}, // no end code
        {reference_pack({97, 65535}, 16),
         only(11) | only(16) | only(17)}, // whole at 16; 3 127 end; 195 end
        {{0xFF, 0xFF}, only(11)},         // the empty input's
        {{0xFF, 0xFF, 0xFF}, only(12) | only(13) | only(14) | only(15)},
        {{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, only(24) | only(25)},
        {{0xFF, 0xFF, 0xFE}, 0},
        {{0x0C}, 0},
        {{}, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(scan(c.stream), c.widths) << ::testing::PrintToString(c.stream);
        // A byte more, of ones or zeros, leaves no width.
        for (std::uint8_t extra : {0x00, 0xFF}) {
            Bytes longer = c.stream;
            longer.push_back(extra);
            EXPECT_EQ(scan(longer) & c.widths, 0u) << ::testing::PrintToString(longer);
        }
    }
}

// Every width the scan finds expands without a fault.
void expect_expander_agrees(const Bytes& stream, unsigned widths, const std::string& what) {
    for (int width = min_width; width <= max_width; ++width)
        if (widths & only(width)) {
            EXPECT_EQ(expand_bytes(stream, width).status, CodecStatus::ok)
                << what << " at " << width;
        }
}

TEST(WidthScan, CutOrDamagedStreamsFitOnlyWhereTheExpanderAgrees) {
    std::mt19937 generator(75);
    for (int width : {11, 13, 16, 25}) {
        Bytes stream = compress_bytes(text_like(700, 76), width);
        // Cut short: the end code is gone, so the stream's width no longer fits.
        for (std::size_t length = 0; length < stream.size(); length += 1 + length / 8) {
            Bytes cut(stream.begin(), stream.begin() + static_cast<std::ptrdiff_t>(length));
            unsigned widths = scan(cut);
            EXPECT_FALSE(widths & only(width)) << width << " cut at " << length;
            expect_expander_agrees(cut, widths, "cut at " + std::to_string(length));
        }
        // A bit flipped: the width still fits exactly when the expander takes
        // the stream (these codes are far below the end code, so no flip makes one).
        for (int trial = 0; trial < 60; ++trial) {
            Bytes damaged = stream;
            std::size_t bit = generator() % ((damaged.size() - 4) * 8);
            damaged[bit / 8] ^= static_cast<std::uint8_t>(0x80u >> (bit % 8));
            unsigned widths = scan(damaged);
            bool expands = expand_bytes(damaged, width).status == CodecStatus::ok;
            EXPECT_EQ((widths & only(width)) != 0, expands) << width << " bit " << bit;
            expect_expander_agrees(damaged, widths, "bit " + std::to_string(bit));
        }
    }
}

TEST(WidthScan, BadArgumentsAndAFailedReadAreStatuses) {
    unsigned widths = 7;
    const std::uint8_t byte = 0;
    EXPECT_EQ(tarnwel_scan_widths(nullptr, 1, &widths), TARNWEL_BAD_ARGUMENT);
    EXPECT_EQ(tarnwel_scan_widths(&byte, 1, nullptr), TARNWEL_BAD_ARGUMENT);
    EXPECT_EQ(tarnwel_scan_widths_stream(nullptr, &widths), TARNWEL_BAD_ARGUMENT);
    const tarnwel_source no_read{nullptr, nullptr, -1};
    EXPECT_EQ(tarnwel_scan_widths_stream(&no_read, &widths), TARNWEL_BAD_ARGUMENT);
    // A source that fails after the whole of a good stream: the read's
    // failure, not the widths.
    Bytes stream = reference_pack({97, 2047}, 11);
    auto fails_second = [](void* context, void* buffer, std::size_t, std::size_t* got) {
        auto& calls = *static_cast<int*>(context);
        *got = 0;
        if (calls++ != 0) return 0;
        static const std::uint8_t good[] = {0x0C, 0x3F};
        std::copy_n(good, 2, static_cast<std::uint8_t*>(buffer));
        *got = 2;
        return 1;
    };
    int calls = 0;
    const tarnwel_source failing{&calls, fails_second, -1};
    widths = 7;
    EXPECT_EQ(tarnwel_scan_widths_stream(&failing, &widths), TARNWEL_READ_FAILED);
    EXPECT_EQ(widths, 0u);
    EXPECT_EQ(scan(stream), only(11));
}

} // namespace
} // namespace tarnwel::test
