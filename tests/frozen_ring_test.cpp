// The frozen parse on a second thread, started whatever the machine: its
// stream, handed the blocks through the ring, is the one the one-core
// following writes and the one the straightforward coder writes.
#include <gtest/gtest.h>

#include <string>

#include "codec/memory_streams.h"
#include "test_support.h"

namespace tarnwel::test {
namespace {

struct RingCase {
    std::string name;
    Bytes input;
    int cap = max_width;
    int width = 0;        // nonzero: compressed at this width, with no search
    bool trickle = false; // read a few bytes at a time, so blocks are tiny
    bool capped = false;  // the search overflows its cap: blocks are scouted after it
};

struct Compressed {
    CompressResult choice;
    Bytes stream;
};

Compressed compress_case(const RingCase& ring_case, bool second_thread) {
    CompressOptions options;
    options.cap = ring_case.cap;
    options.width = ring_case.width;
    options.second_thread = second_thread;
    options.force_second_thread = second_thread;
    SpanSource span(ring_case.input.data(), ring_case.input.size());
    TricklingSource trickle(ring_case.input);
    ByteSource& in = ring_case.trickle ? static_cast<ByteSource&>(trickle) : span;
    VectorSink out;
    Compressed compressed;
    compressed.choice = compress(in, out, options);
    compressed.stream = std::move(out.bytes);
    return compressed;
}

std::vector<RingCase> ring_cases() {
    return {
        {"mixed, widths up to 25", mixed_input(1 << 21, 301)},
        {"text, widths up to 25", text_like(1 << 20, 302)},
        {"random bytes, widths up to 25", random_bytes(1 << 20, 303)},
        {"mixed, cap 14", mixed_input(1 << 20, 304), 14, 0, false, true},
        {"random bytes, cap 12", random_bytes(1 << 20, 305), 12, 0, false, true},
        {"text at width 13, no search", text_like(600000, 306), max_width, 13},
        {"mixed at width 17, no search", mixed_input(1 << 20, 307), max_width, 17},
        {"mixed in tiny blocks", mixed_input(150000, 308), max_width, 0, true},
        {"random bytes in tiny blocks, cap 12", random_bytes(150000, 309), 12, 0, true, true},
    };
}

TEST(FrozenRing, ForcedSecondThreadWritesTheSameStreamAsOneCoreAndTheReference) {
    for (const RingCase& ring_case : ring_cases()) {
        const std::string& what = ring_case.name;
        Compressed ring = compress_case(ring_case, true);
        Compressed following = compress_case(ring_case, false);
        ASSERT_EQ(ring.choice.result.status, CodecStatus::ok) << what;
        ASSERT_EQ(following.choice.result.status, CodecStatus::ok) << what;
        EXPECT_TRUE(ring.choice.second_thread) << what;
        EXPECT_FALSE(following.choice.second_thread) << what;
        if (ring_case.width == 0) {
            Searched reference = reference_search_and_compress(ring_case.input, ring_case.cap);
            EXPECT_EQ(ring.choice.width, reference.choice.width) << what;
            EXPECT_EQ(ring.choice.last_trial_width, reference.choice.last_trial_width) << what;
            EXPECT_EQ(ring.choice.last_trial_fit, reference.choice.last_trial_fit) << what;
            EXPECT_EQ(reference.choice.last_trial_fit, !ring_case.capped) << what;
            ASSERT_TRUE(ring.stream == reference.stream) << what;
        } else {
            EXPECT_EQ(ring.choice.width, ring_case.width) << what;
            ASSERT_TRUE(ring.stream == reference_compress_bytes(ring_case.input, ring_case.width))
                << what;
        }
        ASSERT_TRUE(following.stream == ring.stream) << what;
        EXPECT_EQ(ring.choice.result.bytes_out, ring.stream.size()) << what;
    }
}

} // namespace
} // namespace tarnwel::test
