// The fast paths held against the straightforward ones they replace: the
// same streams, widths, messages and expansions, byte for byte.
#include <gtest/gtest.h>

#include <random>

#include "dictionary.h"
#include "file_io.h"
#include "memory_streams.h"
#include "output_file.h"
#include "test_support.h"

namespace tarnwel::test {
namespace {

// Three-byte strings whose home is the first table's last slot, each four
// times over: the cluster they make wraps around to the table's first
// slots, and the parse's probes for them follow it there.
Bytes wrapping_input() {
    Dictionary dictionary;
    EXPECT_TRUE(init_dictionary(dictionary));
    Bytes input;
    for (std::uint32_t bytes = 0; bytes < (1u << 24) && input.size() < 64 * 12; ++bytes) {
        std::uint8_t string[3] = {static_cast<std::uint8_t>(bytes),
                                  static_cast<std::uint8_t>(bytes >> 8),
                                  static_cast<std::uint8_t>(bytes >> 16)};
        std::uint64_t hash = three_byte_hash(string[0], string[1], string[2]);
        if (home_slot_of_hash(dictionary, hash) != dictionary.mask) continue;
        for (int copy = 0; copy < 4; ++copy)
            input.insert(input.end(), string, string + 3);
    }
    return input;
}

std::vector<Bytes> generated_inputs() {
    std::vector<Bytes> inputs = {{}, {0x00}, bytes_of("ab"), bytes_of("aaaa"), wrapping_input()};
    for (std::uint32_t seed = 0; seed < 12; ++seed)
        inputs.push_back(mixed_input(std::size_t{1} << (6 + seed % 12), 100 + seed));
    inputs.push_back(random_bytes(150000, 7));
    inputs.push_back(Bytes(200000, 'q'));
    return inputs;
}

// Inputs whose parse meets exactly 2^w - 257 or 2^w - 256 new strings: the
// widest dictionary at w just full, or one string more.
std::vector<Bytes> boundary_inputs() {
    Bytes source = random_bytes(100000, 71);
    std::vector<Bytes> inputs;
    for (int width = 11; width <= 15; ++width) {
        std::uint64_t full = (std::uint64_t{1} << width) - 257;
        inputs.push_back(prefix_with_new_strings(source, full));
        inputs.push_back(prefix_with_new_strings(source, full + 1));
        // The same, followed by bytes that only extend known strings.
        Bytes extended = prefix_with_new_strings(source, full);
        extended.insert(extended.end(), extended.begin(), extended.begin() + 3);
        inputs.push_back(extended);
    }
    return inputs;
}

TEST(Differential, CompressorMatchesTheStraightforwardOneAtEveryWidth) {
    std::vector<Bytes> inputs = generated_inputs();
    for (int width = min_width; width <= max_width; ++width)
        for (const Bytes& input : inputs)
            ASSERT_EQ(compress_bytes(input, width), reference_compress_bytes(input, width))
                << "BITS " << width << ", " << input.size() << " bytes";
}

void expect_same_search(const Bytes& input, int cap) {
    Searched fast = search_and_compress_bytes(input, cap);
    Searched straight = reference_search_and_compress(input, cap);
    std::string what = std::to_string(input.size()) + " bytes, cap " + std::to_string(cap);
    ASSERT_EQ(fast.choice.result.status, CodecStatus::ok) << what;
    EXPECT_EQ(fast.trials, straight.trials) << what;
    EXPECT_EQ(fast.choice.width, straight.choice.width) << what;
    EXPECT_EQ(fast.choice.last_trial_width, straight.choice.last_trial_width) << what;
    EXPECT_EQ(fast.choice.last_trial_fit, straight.choice.last_trial_fit) << what;
    EXPECT_EQ(fast.choice.result.bytes_in, input.size()) << what;
    EXPECT_EQ(fast.choice.result.bytes_out, fast.stream.size()) << what;
    ASSERT_TRUE(fast.stream == straight.stream) << what;
    // Without a second thread the frozen parse follows each block instead.
    ASSERT_TRUE(search_and_compress_bytes(input, cap, false).stream == straight.stream) << what;
}

TEST(Differential, OnePassSearchAndCompressionMatchSeparateTrials) {
    for (const Bytes& input : generated_inputs())
        expect_same_search(input, max_width);
    for (std::uint32_t seed = 0; seed < 6; ++seed)
        expect_same_search(mixed_input(300000 + seed * 50000, 200 + seed), max_width);
}

TEST(Differential, OneCoreFrozenParseThatLagsAndSkipsDroppedWidthsGivesTheSameStream) {
    // Long enough that the one-core frozen parse runs a full ring of blocks
    // behind, with restarts both within a ring's length of each other and
    // further apart.
    for (const Bytes& input : {mixed_input(6 << 20, 17), random_bytes(5 << 20, 18)}) {
        Searched one_core = search_and_compress_bytes(input, max_width, false);
        ASSERT_EQ(one_core.choice.result.status, CodecStatus::ok);
        ASSERT_GE(one_core.trials.size(), 9u);
        ASSERT_TRUE(one_core.stream == search_and_compress_bytes(input).stream);
        ASSERT_TRUE(one_core.stream == reference_search_and_compress(input).stream);
    }
    // The width kept overflows with strings of random bytes, then meets a
    // run of zeros, whose strings grow past 255 bytes, and random bytes
    // again: the frozen parse follows the unbounded parse's strings, long
    // ones included, over all of them.
    Bytes runs = random_bytes(20000, 19);
    runs.resize(runs.size() + 34000, 0);
    Bytes tail = random_bytes(15000, 20);
    runs.insert(runs.end(), tail.begin(), tail.end());
    Searched one_core = search_and_compress_bytes(runs, max_width, false);
    EXPECT_EQ(one_core.choice.width, 14);
    EXPECT_TRUE(one_core.stream == reference_search_and_compress(runs).stream);
}

TEST(Differential, InputInTinyBlocksGivesTheSameStream) {
    // The random bytes overflow the narrowest width only: the one-core
    // frozen parse, expecting another width to overflow (the size is not
    // known), grows its ring over blocks whose parse it then keeps.
    for (const Bytes& input : {mixed_input(120000, 31), text_like(120000, 32), Bytes(5000, 'z'),
                               random_bytes(3500, 33)}) {
        for (bool second_thread : {true, false}) {
            TricklingSource in(input);
            VectorSink out;
            CompressOptions options;
            options.second_thread = second_thread;
            ASSERT_EQ(compress(in, out, options).result.status, CodecStatus::ok);
            ASSERT_TRUE(out.bytes == reference_search_and_compress(input).stream);
        }
    }
}

TEST(Differential, SearchBoundariesMatchSeparateTrials) {
    for (const Bytes& input : boundary_inputs())
        expect_same_search(input, max_width);
}

TEST(Differential, SearchStoppedAtACapMatchesSeparateTrials) {
    Bytes input = mixed_input(400000, 81);
    for (int cap = 12; cap <= 16; ++cap)
        expect_same_search(input, cap);
    for (const Bytes& boundary : boundary_inputs())
        expect_same_search(boundary, 13);
}

TEST(Differential, ExpanderMatchesTheStraightforwardOneOnGoodAndBadStreams) {
    std::mt19937 generator(91);
    std::vector<Bytes> inputs = generated_inputs();
    for (int width = min_width; width <= max_width; width += (width < 14 ? 1 : 3)) {
        for (const Bytes& input : inputs) {
            Bytes stream = compress_bytes(input, width);
            Expanded fast = expand_bytes(stream, width);
            ASSERT_EQ(fast.status, CodecStatus::ok);
            ASSERT_TRUE(fast.bytes == input) << "BITS " << width;
            // Damaged: a flipped bit, a cut, and noise where the stream was.
            std::vector<Bytes> damaged;
            if (!stream.empty()) {
                Bytes flipped = stream;
                std::size_t bit = generator() % (flipped.size() * 8);
                flipped[bit / 8] ^= static_cast<std::uint8_t>(0x80u >> (bit % 8));
                damaged.push_back(flipped);
                damaged.emplace_back(stream.begin(),
                                     stream.begin() +
                                         static_cast<long>(generator() % stream.size()));
            }
            damaged.push_back(random_bytes(stream.size(), static_cast<std::uint32_t>(generator())));
            for (const Bytes& bad : damaged) {
                Expanded quick = expand_bytes(bad, width);
                Expanded straight = reference_expand_bytes(bad, width);
                ASSERT_EQ(quick.status, straight.status) << "BITS " << width;
                ASSERT_TRUE(quick.bytes == straight.bytes) << "BITS " << width;
            }
        }
    }
}

TEST(Differential, OutputThatIsNotARegularFileGetsTheSameStream) {
    // A memory stream has no file behind it, so the stream is staged in a
    // file and copied out.
    Bytes input = mixed_input(300000, 95);
    SpanSource in(input.data(), input.size());
    char* memory = nullptr;
    std::size_t size = 0;
    std::FILE* out = open_memstream(&memory, &size);
    StreamOutput staged;
    ASSERT_TRUE(open_stream_output(staged, out));
    EXPECT_TRUE(staged.staged);
    CodecSinkOver sink(*staged.sink);
    CompressResult choice = compress(in, sink);
    EXPECT_EQ(finish_stream_output(staged), 0);
    std::fclose(out);
    ASSERT_EQ(choice.result.status, CodecStatus::ok);
    Bytes stream(memory, memory + size);
    std::free(memory);
    EXPECT_TRUE(stream == reference_search_and_compress(input).stream);
    EXPECT_EQ(choice.result.bytes_out, stream.size());
}

} // namespace
} // namespace tarnwel::test
