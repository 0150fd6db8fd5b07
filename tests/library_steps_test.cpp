// tarnwel_expander_step: the same bytes as the one-shot call however the
// stream and the output are cut, at every width, through laps and strings
// longer than a lap's spare room; corrupt and cut streams as the one-shot
// call has them; output of the front before the end is fed; what is left
// of the input after the end code; and bad calls.
#include <gtest/gtest.h>

#include <algorithm>

#include "expander_steps.h"
#include "tarnwel.h"
#include "test_support.h"

namespace tarnwel::test {
namespace {

constexpr std::size_t whole = static_cast<std::size_t>(-1);

struct Stepped {
    tarnwel_status status = TARNWEL_OK;
    Bytes bytes;
    std::size_t input_left = 0; // of the stream, once done
};

// Steps through a stream handed over in_piece bytes at a time, into an
// output of out_piece bytes, until done or a status other than OK. A step
// that moves nothing while input remains or is still to come is a fault.
Stepped step_through(const Bytes& stream, int width, std::size_t in_piece, std::size_t out_piece) {
    tarnwel_expander* expander = nullptr;
    EXPECT_EQ(tarnwel_expander_create(width, &expander), TARNWEL_OK);
    Stepped got;
    Bytes buffer(std::min(out_piece, std::size_t{8} << 20) + 1);
    std::size_t given = 0;
    tarnwel_in_buffer in{stream.data(), 0, 0};
    bool ended = false;
    for (int stalls = 0; !ended && stalls < 2;) {
        if (in.pos == in.size && given < stream.size()) {
            given += std::min(in_piece, stream.size() - given);
            in = {stream.data(), given, in.pos};
        }
        const int ends = given == stream.size();
        tarnwel_out_buffer out{buffer.data(), buffer.size() - 1, 0};
        const std::size_t in_before = in.pos;
        int done = 0;
        got.status = tarnwel_expander_step(expander, &in, &out, ends, &done);
        got.bytes.insert(got.bytes.end(), buffer.begin(), buffer.begin() + out.pos);
        ended = got.status != TARNWEL_OK || done;
        const bool moved = out.pos != 0 || in.pos != in_before;
        stalls = !moved && (ends || in.pos < in.size) ? stalls + 1 : 0;
    }
    EXPECT_TRUE(ended) << "steps stalled";
    got.input_left = given - in.pos;
    tarnwel_expander_free(expander);
    return got;
}

Stepped one_shot(const Bytes& stream, int width, std::size_t capacity) {
    Stepped got;
    got.bytes.resize(capacity);
    std::size_t size = 0;
    got.status = tarnwel_expand(stream.data(), stream.size(), width, got.bytes.data(),
                                got.bytes.size(), &size);
    got.bytes.resize(size);
    return got;
}

const std::size_t pieces[] = {1, 7, 4096, 65536, whole};

TEST(LibrarySteps, AnyPiecesEitherWayGiveTheOneShotBytesAtEveryWidth) {
    for (int width = min_width; width <= max_width; ++width) {
        const Bytes input = mixed_input(30000, static_cast<std::uint32_t>(width));
        const Bytes stream = compress_bytes(input, width);
        const Stepped expected = one_shot(stream, width, input.size());
        ASSERT_EQ(expected.bytes, input) << width;
        for (std::size_t in_piece : pieces)
            for (std::size_t out_piece : pieces) {
                const Stepped got = step_through(stream, width, in_piece, out_piece);
                EXPECT_EQ(got.status, TARNWEL_OK) << width << " " << in_piece << " " << out_piece;
                EXPECT_TRUE(got.bytes == expected.bytes)
                    << width << " " << in_piece << " " << out_piece;
            }
    }
}

TEST(LibrarySteps, LapsAndStringsLongerThanALapsSpareComeOutWhole) {
    struct Case {
        const char* name;
        int width;
        Bytes input;
    };
    const Case cases[] = {
        {"many laps, width 11", 11, mixed_input(400000, 1)},
        {"many laps, width 12", 12, text_like(400000, 2)},
        {"one byte's run, width 11", 11, Bytes(3000000, 'a')},
        {"one byte's run, width 12", 12, Bytes(3000000, 'z')},
        {"one byte's run, width 25", 25, Bytes(6000000, 0)},
    };
    const std::pair<std::size_t, std::size_t> cuts[] = {
        {1, whole}, {whole, 1}, {7, 4096}, {65536, 7}, {whole, whole}};
    for (const Case& c : cases) {
        const Bytes stream = compress_bytes(c.input, c.width);
        for (auto [in_piece, out_piece] : cuts) {
            const Stepped got = step_through(stream, c.width, in_piece, out_piece);
            EXPECT_EQ(got.status, TARNWEL_OK) << c.name << " " << in_piece << " " << out_piece;
            EXPECT_TRUE(got.bytes == c.input) << c.name << " " << in_piece << " " << out_piece;
        }
    }
}

TEST(LibrarySteps, CorruptAndCutStreamsEndAsTheOneShotCallsDo) {
    const int width = 11;
    const Bytes input = text_like(20000, 5);
    const Bytes stream = compress_bytes(input, width);
    struct Case {
        const char* name;
        Bytes stream;
    };
    std::vector<Case> cases = {
        {"a code far above the next free one", reference_pack({'a', 'b', 300, end_code(11)}, 11)},
        {"a first code that is not a byte", reference_pack({256, end_code(11)}, 11)},
        {"the next free code first", reference_pack({'a', 257, end_code(11)}, 11)},
    };
    for (std::size_t cut : {std::size_t{1}, std::size_t{2}, stream.size() / 3, stream.size() - 1})
        cases.push_back({"cut short", Bytes(stream.begin(), stream.begin() + cut)});
    Bytes damaged = stream;
    for (std::size_t at = 100; at < damaged.size(); at += 997)
        damaged[at] ^= 0x5A;
    cases.push_back({"damaged", damaged});
    for (const Case& c : cases) {
        const Stepped expected = one_shot(c.stream, width, 4 * input.size());
        for (std::size_t out_piece : {std::size_t{1}, std::size_t{4096}, whole}) {
            const Stepped got = step_through(c.stream, width, 7, out_piece);
            EXPECT_EQ(got.status, expected.status) << c.name << " " << out_piece;
            EXPECT_TRUE(got.bytes == expected.bytes) << c.name << " " << out_piece;
        }
    }
}

TEST(LibrarySteps, BytesBeforeAFaultComeWithOkThenTheStatusStays) {
    const Bytes stream = reference_pack({'a', 'b', 300, end_code(11)}, 11);
    tarnwel_expander* expander = nullptr;
    ASSERT_EQ(tarnwel_expander_create(11, &expander), TARNWEL_OK);
    tarnwel_in_buffer in{stream.data(), stream.size(), 0};
    std::uint8_t byte = 0;
    std::vector<tarnwel_status> statuses;
    Bytes out_bytes;
    for (int i = 0; i < 5; ++i) {
        tarnwel_out_buffer out{&byte, 1, 0};
        int done = 1;
        statuses.push_back(tarnwel_expander_step(expander, &in, &out, 1, &done));
        EXPECT_EQ(done, 0);
        if (out.pos == 1) out_bytes.push_back(byte);
    }
    EXPECT_EQ(out_bytes, bytes_of("ab"));
    EXPECT_EQ(statuses,
              (std::vector<tarnwel_status>{TARNWEL_OK, TARNWEL_OK, TARNWEL_CORRUPT_STREAM,
                                           TARNWEL_CORRUPT_STREAM, TARNWEL_CORRUPT_STREAM}));
    tarnwel_expander_free(expander);
}

TEST(LibrarySteps, TheFrontComesOutBeforeTheEndIsFedAndWhatFollowsTheEndIsLeft) {
    for (int width : {11, 16, 25}) {
        const Bytes input = text_like(200000, 9);
        Bytes stream = compress_bytes(input, width);
        tarnwel_expander* expander = nullptr;
        ASSERT_EQ(tarnwel_expander_create(width, &expander), TARNWEL_OK);
        Bytes output(input.size() + 16);
        tarnwel_out_buffer out{output.data(), output.size(), 0};
        tarnwel_in_buffer in{stream.data(), stream.size() / 2, 0};
        int done = 1;
        EXPECT_EQ(tarnwel_expander_step(expander, &in, &out, 0, &done), TARNWEL_OK);
        EXPECT_EQ(done, 0);
        EXPECT_EQ(in.pos, in.size); // all taken, what does not make a whole code kept
        EXPECT_GT(out.pos, input.size() / 4) << width;
        EXPECT_TRUE(std::equal(output.begin(), output.begin() + out.pos, input.begin()));
        // The rest, followed by other bytes: the end code's cut bits come
        // from the first of them, and the others stay.
        const std::size_t codes = reference_codes(input, width).size();
        const bool end_cut = codes * width % 8 != 0;
        const std::size_t stream_size = stream.size();
        stream.insert(stream.end(), {0xFF, 'x', 'y'});
        in = {stream.data(), stream.size(), in.pos};
        EXPECT_EQ(tarnwel_expander_step(expander, &in, &out, 0, &done), TARNWEL_OK);
        EXPECT_EQ(done, 1);
        EXPECT_EQ(in.pos, stream_size + (end_cut ? 1 : 0)) << width;
        EXPECT_TRUE(Bytes(output.begin(), output.begin() + out.pos) == input);
        // Done is done: no more input taken, nothing more given.
        const std::size_t left_at = in.pos;
        out.pos = 0;
        EXPECT_EQ(tarnwel_expander_step(expander, &in, &out, 1, &done), TARNWEL_OK);
        EXPECT_EQ(done, 1);
        EXPECT_EQ(in.pos, left_at);
        EXPECT_EQ(out.pos, 0u);
        tarnwel_expander_free(expander);
    }
}

TEST(LibrarySteps, BadCallsAreStatuses) {
    tarnwel_expander* expander = nullptr;
    ASSERT_EQ(tarnwel_expander_create(11, &expander), TARNWEL_OK);
    std::uint8_t bytes[4] = {};
    int done = 0;
    tarnwel_in_buffer in{bytes, 4, 0};
    tarnwel_out_buffer out{bytes, 4, 0};
    tarnwel_in_buffer null_in{nullptr, 3, 0};
    tarnwel_out_buffer null_out{nullptr, 3, 0};
    tarnwel_in_buffer in_past{bytes, 4, 5};
    tarnwel_out_buffer out_past{bytes, 4, 5};
    tarnwel_in_buffer in_absurd{bytes, SIZE_MAX, 0};
    tarnwel_out_buffer out_absurd{bytes, SIZE_MAX / 2 + 1, 0};
    struct Case {
        const char* call;
        tarnwel_status got;
        tarnwel_status expected;
    };
    const Case cases[] = {
        {"no expander", tarnwel_expander_step(nullptr, &in, &out, 0, &done), TARNWEL_BAD_ARGUMENT},
        {"no input", tarnwel_expander_step(expander, nullptr, &out, 0, &done),
         TARNWEL_BAD_ARGUMENT},
        {"no output", tarnwel_expander_step(expander, &in, nullptr, 0, &done),
         TARNWEL_BAD_ARGUMENT},
        {"no done", tarnwel_expander_step(expander, &in, &out, 0, nullptr), TARNWEL_BAD_ARGUMENT},
        {"null input data", tarnwel_expander_step(expander, &null_in, &out, 0, &done),
         TARNWEL_BAD_ARGUMENT},
        {"null output data", tarnwel_expander_step(expander, &in, &null_out, 0, &done),
         TARNWEL_BAD_ARGUMENT},
        {"input pos past size", tarnwel_expander_step(expander, &in_past, &out, 0, &done),
         TARNWEL_BAD_ARGUMENT},
        {"output pos past size", tarnwel_expander_step(expander, &in, &out_past, 0, &done),
         TARNWEL_BAD_ARGUMENT},
        {"absurd input size", tarnwel_expander_step(expander, &in_absurd, &out, 0, &done),
         TARNWEL_BAD_ARGUMENT},
        {"absurd output size", tarnwel_expander_step(expander, &in, &out_absurd, 0, &done),
         TARNWEL_BAD_ARGUMENT},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.got, c.expected) << c.call;
    EXPECT_EQ(in.pos, 0u); // a bad call moves nothing
    EXPECT_EQ(out.pos, 0u);

    // Steps, then the gathering calls; and the other way round.
    EXPECT_EQ(tarnwel_expander_step(expander, &in, &out, 0, &done), TARNWEL_OK);
    std::size_t taken = 0;
    EXPECT_EQ(tarnwel_expander_feed(expander, bytes, 1), TARNWEL_BAD_SEQUENCE);
    EXPECT_EQ(tarnwel_expander_finish(expander), TARNWEL_BAD_SEQUENCE);
    EXPECT_EQ(tarnwel_expander_take(expander, bytes, 1, &taken), TARNWEL_BAD_SEQUENCE);
    tarnwel_source source{nullptr,
                          [](void*, void*, std::size_t, std::size_t* got) {
                              *got = 0;
                              return 1;
                          },
                          -1};
    tarnwel_sink sink{nullptr,
                      [](void*, unsigned long long, const void*, std::size_t) { return 1; },
                      [](void*, unsigned long long) { return 1; }, [](void*) { return 1; }};
    EXPECT_EQ(tarnwel_expander_expand_stream(expander, &source, &sink, nullptr, nullptr),
              TARNWEL_BAD_SEQUENCE);
    tarnwel_expander_free(expander);

    ASSERT_EQ(tarnwel_expander_create(11, &expander), TARNWEL_OK);
    EXPECT_EQ(tarnwel_expander_feed(expander, bytes, 1), TARNWEL_OK);
    EXPECT_EQ(tarnwel_expander_step(expander, &in, &out, 0, &done), TARNWEL_BAD_SEQUENCE);
    // One byte of zeros: a stream cut in its first code.
    EXPECT_EQ(tarnwel_expander_finish(expander), TARNWEL_CORRUPT_STREAM);
    EXPECT_EQ(tarnwel_expander_step(expander, &in, &out, 1, &done), TARNWEL_BAD_SEQUENCE);
    tarnwel_expander_free(expander);
}

} // namespace
} // namespace tarnwel::test
