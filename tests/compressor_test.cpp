// The compressor's stream, byte for byte.
#include <gtest/gtest.h>

#include "codec/compressor.h"
#include "test_support.h"

namespace tarnwel::test {
namespace {

TEST(Compressor, EmptyInputIsTwoAllOnesCodes) {
    EXPECT_EQ(compress_bytes({}, 11), (Bytes{0xFF, 0xFF}));
}

TEST(Compressor, OneByteIsItsValueThenTheEndCode) {
    EXPECT_EQ(compress_bytes({0x61}, 11), (Bytes{0x0C, 0x3F}));
}

TEST(Compressor, FourEqualBytesStoreTwoStrings) {
    std::FILE* in = std::tmpfile();
    std::fputs("aaaa", in);
    std::rewind(in);
    std::FILE* out = std::tmpfile();
    Dictionary dictionary;
    ASSERT_TRUE(allocate_tables(dictionary, 11));
    CodecResult result = compress_stream(dictionary, in, out);
    EXPECT_EQ(result.status, CodecStatus::ok);
    EXPECT_EQ(result.bytes_in, 4u);
    EXPECT_EQ(result.bytes_out, 5u);
    EXPECT_EQ(dictionary.free_code, 258u);
    std::int32_t first = probe_slot(dictionary, 97, 97);
    std::int32_t second = probe_slot(dictionary, 256, 97);
    EXPECT_EQ(dictionary.code_table[static_cast<std::size_t>(first)], 256);
    EXPECT_EQ(dictionary.code_table[static_cast<std::size_t>(second)], 257);
    std::fclose(in);
    std::fclose(out);
    EXPECT_EQ(compress_bytes(bytes_of("aaaa"), 11), (Bytes{0x0C, 0x24, 0x00, 0x30, 0xFF}));
}

TEST(Compressor, FrozenDictionaryNoLongerChangesButKeepsWritingKnownPrefixes) {
    Bytes input = random_bytes(20000, 7); // far more new strings than BITS 11 holds
    std::FILE* in = std::tmpfile();
    std::fwrite(input.data(), 1, input.size(), in);
    std::rewind(in);
    std::FILE* out = std::tmpfile();
    Dictionary dictionary;
    ASSERT_TRUE(allocate_tables(dictionary, 11));
    ASSERT_EQ(compress_stream(dictionary, in, out).status, CodecStatus::ok);
    EXPECT_EQ(dictionary.free_code, last_code(11) + 1);
    long stored = std::count_if(dictionary.code_table.begin(), dictionary.code_table.end(),
                                [](std::int32_t code) { return code != empty_slot; });
    EXPECT_EQ(stored, static_cast<long>(last_code(11) + 1 - 256));
    std::fclose(in);
    std::fclose(out);
    EXPECT_EQ(compress_bytes(input, 11), reference_pack(reference_codes(input, 11), 11));
}

TEST(Compressor, StreamMatchesReferenceCoderAtEveryWidth) {
    // Sizes chosen to freeze the dictionary at the narrow widths, cross the
    // reader's block boundary, and end with a partial byte at some widths.
    const Bytes inputs[] = {text_like(70001, 1), random_bytes(140003, 2), Bytes(100000, 0),
                            bytes_of("abababababababababab")};
    for (int bits = min_bits; bits <= max_bits; ++bits) {
        for (const Bytes& input : inputs) {
            ASSERT_EQ(compress_bytes(input, bits),
                      reference_pack(reference_codes(input, bits), bits))
                << "BITS " << bits << ", input of " << input.size() << " bytes";
        }
    }
}

} // namespace
} // namespace tarnwel::test
