// The compressor's stream, byte for byte.
#include <gtest/gtest.h>

#include "compressor.h"
#include "memory_streams.h"
#include "test_support.h"

namespace tarnwel::test {
namespace {

TEST(Compressor, EmptyInputIsTwoAllOnesCodes) {
    EXPECT_EQ(compress_bytes({}, 11), (Bytes{0xFF, 0xFF}));
}

TEST(Compressor, OneByteIsItsValueThenTheEndCode) {
    EXPECT_EQ(compress_bytes({0x61}, 11), (Bytes{0x0C, 0x3F}));
}

// Compresses input at bits with a fresh dictionary, which it hands back.
CodecResult compress_into(Dictionary& dictionary, const Bytes& input, int width) {
    SpanSource in(input.data(), input.size());
    VectorSink out;
    CompressOptions options;
    options.width = width;
    options.dictionary = &dictionary;
    return compress(in, out, options).result;
}

std::size_t strings_stored(const Dictionary& dictionary) {
    std::size_t pairs = 0;
    for (std::size_t i = 0; i < dictionary.pair_codes.size; ++i)
        pairs += dictionary.pair_codes[i] != absent;
    return pairs + dictionary.stored;
}

TEST(Compressor, FourEqualBytesStoreTwoStrings) {
    Dictionary dictionary;
    CodecResult result = compress_into(dictionary, bytes_of("aaaa"), 11);
    EXPECT_EQ(result.status, CodecStatus::ok);
    EXPECT_EQ(result.bytes_in, 4u);
    EXPECT_EQ(result.bytes_out, 5u);
    EXPECT_EQ(strings_stored(dictionary), 2u);
    // "aaa" is found by the hash of its bytes.
    std::uint64_t aaa = three_byte_hash('a', 'a', 'a');
    EXPECT_EQ(code_at(find_string(dictionary, 97, 97, 0)), 256u);
    EXPECT_EQ(code_at(find_string(dictionary, 256, 97, aaa)), 257u);
    EXPECT_EQ(compress_bytes(bytes_of("aaaa"), 11), (Bytes{0x0C, 0x24, 0x00, 0x30, 0xFF}));
}

TEST(Compressor, FrozenDictionaryNoLongerChangesButKeepsWritingKnownPrefixes) {
    Bytes input = random_bytes(20000, 7); // far more new strings than width 11 holds
    Dictionary dictionary;
    ASSERT_EQ(compress_into(dictionary, input, 11).status, CodecStatus::ok);
    EXPECT_EQ(strings_stored(dictionary), last_code(11) + 1 - 256);
    EXPECT_EQ(compress_bytes(input, 11), reference_pack(reference_codes(input, 11), 11));
}

TEST(Compressor, StreamMatchesReferenceCoderAtEveryWidth) {
    // Sizes chosen to freeze the dictionary at the narrow widths, cross the
    // reader's block boundary, and end with a partial byte at some widths.
    const Bytes inputs[] = {text_like(70001, 1), random_bytes(140003, 2), Bytes(100000, 0),
                            bytes_of("abababababababababab")};
    for (int width = min_width; width <= max_width; ++width) {
        for (const Bytes& input : inputs) {
            ASSERT_EQ(compress_bytes(input, width),
                      reference_pack(reference_codes(input, width), width))
                << "BITS " << width << ", input of " << input.size() << " bytes";
        }
    }
}

// A file that grows while it is read gives more bytes than its size said:
// the codes kept for the stream outgrow what was laid out for that size.
class GrowingSource : public SpanSource {
public:
    using SpanSource::SpanSource;
    std::optional<std::uint64_t> size() const override { return 1000; }
};

TEST(Compressor, InputLongerThanItsSizeSaidGivesTheSameStream) {
    Bytes input = text_like(200000, 5); // overflows widths up to 15
    for (bool second_thread : {false, true}) {
        GrowingSource in(input.data(), input.size());
        VectorSink out;
        CompressOptions options;
        options.second_thread = second_thread;
        CompressResult choice = compress(in, out, options);
        ASSERT_EQ(choice.result.status, CodecStatus::ok);
        EXPECT_EQ(out.bytes, reference_compress_bytes(input, choice.width))
            << (second_thread ? "two threads" : "one thread");
        EXPECT_EQ(choice.width, search_and_compress_bytes(input).choice.width);
    }
}

} // namespace
} // namespace tarnwel::test
