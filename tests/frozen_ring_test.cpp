// The frozen parse on a second thread, started whatever the machine: its
// stream, handed the blocks through the ring, is the one the one-core
// following writes and the one the straightforward coder writes; and so
// it is when the parse moves between the threads at any blocks.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "frozen_parse.h"
#include "memory_streams.h"
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

Compressed compress_case(const RingCase& ring_case, bool second_thread,
                         std::function<FrozenPlace(std::uint64_t)> plan = {}) {
    CompressOptions options;
    options.second_thread_plan = std::move(plan);
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

// Where the frozen parse runs, block by block: parked and taken up again
// before and after restarts, on either side of the cap, with the following's
// ring grown, at each width alone, and on a second thread started afresh.
struct SwitchPlan {
    std::string name;
    std::function<FrozenPlace(std::uint64_t block)> place;
};

FrozenPlace second_thread_if(bool second) {
    return second ? FrozenPlace::second_thread : FrozenPlace::this_thread;
}

std::vector<SwitchPlan> switch_plans() {
    return {
        {"every other block", [](std::uint64_t block) { return second_thread_if(block % 2 == 0); }},
        {"runs of three", [](std::uint64_t block) { return second_thread_if(block / 3 % 2 == 1); }},
        {"to this thread after two blocks",
         [](std::uint64_t block) { return second_thread_if(block < 2); }},
        {"to the second thread after seven",
         [](std::uint64_t block) { return second_thread_if(block >= 7); }},
        {"on this thread for longer than the ring",
         [](std::uint64_t block) {
             return second_thread_if(block < 3 || block >= 3 + ring_blocks + 8);
         }},
        {"started afresh every third block, now and then on this thread",
         [](std::uint64_t block) {
             if (block % 3 == 0) return FrozenPlace::second_thread_afresh;
             return second_thread_if(block % 11 != 5);
         }},
    };
}

TEST(FrozenRing, MovedBetweenTheThreadsAtChosenBlocksWritesTheOneCoreStream) {
    std::vector<RingCase> cases = {
        {"mixed, widths up to 25", mixed_input(6 << 20, 311)},
        {"text, widths up to 25", text_like(1 << 20, 312)},
        {"mixed, cap 14", mixed_input(1 << 20, 313), 14, 0, false, true},
        {"mixed in tiny blocks", mixed_input(1 << 16, 314), max_width, 0, true},
    };
    Bytes each_width = mixed_input(600000, 315);
    for (int width = min_width; width <= max_width; ++width)
        cases.push_back({"mixed at width " + std::to_string(width), each_width, max_width, width});
    for (const RingCase& ring_case : cases) {
        Compressed following = compress_case(ring_case, false);
        ASSERT_EQ(following.choice.result.status, CodecStatus::ok) << ring_case.name;
        for (const SwitchPlan& plan : switch_plans()) {
            std::string what = ring_case.name + ", " + plan.name;
            std::uint64_t asked = 0;
            Compressed switched = compress_case(ring_case, true, [&](std::uint64_t block) {
                EXPECT_EQ(block, asked) << what; // asked once a block, in order
                ++asked;
                return plan.place(block);
            });
            ASSERT_EQ(switched.choice.result.status, CodecStatus::ok) << what;
            EXPECT_TRUE(switched.choice.second_thread) << what;
            EXPECT_GE(asked, ring_case.input.size() / (1 << 16)) << what;
            EXPECT_EQ(switched.choice.width, following.choice.width) << what;
            ASSERT_TRUE(switched.stream == following.stream) << what;
        }
    }
}

} // namespace
} // namespace tarnwel::test
