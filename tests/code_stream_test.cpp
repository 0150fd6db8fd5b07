// The code stream's packing: MSB first, whole bytes only, ones past the end.
#include <gtest/gtest.h>

#include "code_stream.h"
#include "memory_streams.h"
#include "stream_ends.h"
#include "test_support.h"

namespace tarnwel::test {
namespace {

Bytes pack(const Codes& codes, int width) {
    VectorSink sink;
    CodeWriter writer = make_code_writer(sink, width);
    for (std::uint32_t code : codes)
        put_code(writer, code);
    EXPECT_TRUE(flush(writer.bytes));
    return sink.bytes;
}

// Packs the codes in runs of put_codes of sizes that come round again,
// between single put_codes, into a buffer of buffer_size bytes (so that the
// runs meet its end at every point).
Bytes pack_in_runs(const Codes& codes, int width, std::size_t buffer_size) {
    VectorSink sink;
    CodeWriter writer;
    writer.width = width;
    writer.bytes = make_writer(sink, buffer_size);
    const std::size_t runs[] = {1, 0, 7, 1000, 33, 2, 8};
    std::size_t at = 0;
    for (std::size_t i = 0; at < codes.size(); ++i) {
        std::size_t run = std::min(runs[i % std::size(runs)], codes.size() - at);
        put_codes(writer, codes.data() + at, run);
        at += run;
        if (at < codes.size()) put_code(writer, codes[at++]);
    }
    EXPECT_TRUE(flush(writer.bytes));
    return sink.bytes;
}

Bytes pack_empty_stream(int width) {
    VectorSink sink;
    CodeWriter writer = make_code_writer(sink, width);
    put_empty_stream(writer);
    EXPECT_TRUE(flush(writer.bytes));
    return sink.bytes;
}

Codes unpack(const Bytes& bytes, int width, std::size_t count) {
    SpanSource source(bytes.data(), bytes.size());
    CodeReader reader = make_code_reader(source, width);
    Codes codes;
    for (std::size_t i = 0; i < count; ++i)
        codes.push_back(get_code(reader));
    return codes;
}

// Reads count codes in runs of get_codes of sizes that come round again,
// between single get_codes, so that the runs start at every bit offset,
// stop at the end code and meet the ends of the reader's blocks.
Codes unpack_in_runs(const Bytes& bytes, int width, std::size_t count) {
    SpanSource source(bytes.data(), bytes.size());
    CodeReader reader = make_code_reader(source, width);
    const std::uint32_t end = (1u << width) - 1;
    const std::size_t runs[] = {1, 0, 7, 1000, 33, 2, 512};
    Codes codes(count);
    std::size_t at = 0;
    for (std::size_t i = 0; at < count; ++i) {
        at += get_codes(reader, codes.data() + at, std::min(runs[i % std::size(runs)], count - at),
                        end);
        if (at < count) codes[at++] = get_code(reader);
    }
    return codes;
}

TEST(CodeStream, OneByteInputDropsSixBitsOfTheEndCode) {
    EXPECT_EQ(pack({97, 2047}, 11), (Bytes{0x0C, 0x3F}));
}

TEST(CodeStream, FourCodesLeaveFourBitsUnwritten) {
    EXPECT_EQ(pack({97, 256, 97, 2047}, 11), (Bytes{0x0C, 0x24, 0x00, 0x30, 0xFF}));
}

TEST(CodeStream, EmptyInputsStreamIsTwoAllOnesCodes) {
    EXPECT_EQ(pack_empty_stream(11), (Bytes{0xFF, 0xFF}));
}

TEST(CodeStream, EndCodeWrittenWholeWhenCodesFillWholeBytes) {
    // Eight 11-bit codes are exactly eleven bytes.
    Codes codes = {1, 2, 3, 4, 5, 6, 7, 2047};
    Bytes bytes = pack(codes, 11);
    EXPECT_EQ(bytes.size(), 11u);
    EXPECT_EQ(bytes, reference_pack(codes, 11));
    EXPECT_EQ(bytes.back(), 0xFF);
}

TEST(CodeStream, PackingMatchesBitByBitReferenceAtEveryWidth) {
    for (int width = 9; width <= 25; ++width) {
        Codes codes;
        std::uint32_t state = 12345;
        for (int i = 0; i < 30001; ++i) { // past one 64 KiB read block
            state = state * 1103515245u + 12345u;
            codes.push_back(state >> (32 - width));
        }
        codes.push_back((1u << width) - 1);
        Bytes bytes = pack(codes, width);
        ASSERT_EQ(bytes, reference_pack(codes, width)) << "BITS " << width;
        for (std::size_t buffer_size : {std::size_t{100}, io_block_size})
            ASSERT_EQ(pack_in_runs(codes, width, buffer_size), bytes)
                << "BITS " << width << ", runs into " << buffer_size << " bytes";
        // Reading back returns every code, the end code completed by the ones fill.
        EXPECT_EQ(unpack(bytes, width, codes.size()), codes) << "BITS " << width;
        EXPECT_EQ(unpack_in_runs(bytes, width, codes.size() + 3),
                  unpack(bytes, width, codes.size() + 3))
            << "BITS " << width;
    }
}

TEST(CodeStream, ReadingBackRestoresTheEndCodeFromTheFill) {
    EXPECT_EQ(unpack({0x0C, 0x3F}, 11, 2), (Codes{97, 2047}));
    EXPECT_EQ(unpack({0x0C, 0x24, 0x00, 0x30, 0xFF}, 11, 4), (Codes{97, 256, 97, 2047}));
    EXPECT_EQ(unpack({0xFF, 0xFF}, 11, 2), (Codes{2047, 2047}));
}

TEST(CodeStream, ReadingPastTheEndYieldsEndCodesForever) {
    EXPECT_EQ(unpack({0x0C, 0x3F}, 11, 6), (Codes{97, 2047, 2047, 2047, 2047, 2047}));
    EXPECT_EQ(unpack({}, 25, 3), (Codes{(1u << 25) - 1, (1u << 25) - 1, (1u << 25) - 1}));
}

} // namespace
} // namespace tarnwel::test
