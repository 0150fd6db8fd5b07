// The compressor's step call (include/tarnwel.h): at a width given ahead and
// with the search, its stream equals the codec's at that width and the
// one-shot call's, however the input and the output are cut into pieces; at
// a given width the stream's front comes out before the input ends; bad
// calls give statuses.
#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <string>
#include <vector>

#include "chunked_sink.h"
#include "memory_streams.h"
#include "tarnwel.h"
#include "test_support.h"

namespace tarnwel::test {
namespace {

constexpr std::size_t whole = std::numeric_limits<std::size_t>::max();

struct Stepped {
    tarnwel_status status = TARNWEL_OK;
    Bytes stream;
    int width = 0;
};

// Steps a compressor through input in pieces of in_piece bytes, into an
// output buffer of out_piece bytes, until it is done.
Stepped step_through(tarnwel_compressor* compressor, const Bytes& input, std::size_t in_piece,
                     std::size_t out_piece) {
    Stepped result;
    Bytes buffer(std::min<std::size_t>(out_piece, 2 * tarnwel_compress_bound(input.size())));
    std::size_t at = 0;
    int done = 0;
    while (done == 0) {
        std::size_t piece = std::min(in_piece, input.size() - at);
        tarnwel_in_buffer in{input.data() + at, piece, 0};
        tarnwel_out_buffer out{buffer.data(), buffer.size(), 0};
        result.status =
            tarnwel_compressor_step(compressor, &in, &out, at + piece == input.size(), &done);
        if (result.status != TARNWEL_OK) return result;
        result.stream.insert(result.stream.end(), buffer.begin(), buffer.begin() + out.pos);
        at += in.pos;
        if (in.pos == 0 && out.pos == 0 && done == 0) {
            ADD_FAILURE() << "a step that neither took nor gave";
            break;
        }
    }
    result.width = tarnwel_compressor_width(compressor);
    return result;
}

// Steps compressor (which it frees) through input in those pieces, and
// checks that the stream is expected and the width is width.
void expect_stepped(tarnwel_compressor* compressor, const Bytes& input, std::size_t in_piece,
                    std::size_t out_piece, const Bytes& expected, int width,
                    const std::string& what) {
    Stepped got = step_through(compressor, input, in_piece, out_piece);
    tarnwel_compressor_free(compressor);
    ASSERT_EQ(got.status, TARNWEL_OK) << what;
    ASSERT_EQ(got.stream, expected) << what << ", " << input.size() << " bytes in pieces of "
                                    << in_piece << " and " << out_piece;
    EXPECT_EQ(got.width, width) << what;
}

Bytes compress_at(const Bytes& input, int width) {
    SpanSource source(input.data(), input.size());
    VectorSink sink;
    CompressOptions options;
    options.width = width;
    EXPECT_EQ(compress(source, sink, options).result.status, CodecStatus::ok);
    return sink.bytes;
}

const std::size_t piece_sizes[] = {1, 7, 4096, 65536, whole};

// Three blocks and a part: long enough that the widths up to 16 or so fill
// their dictionaries and go on frozen, with every kind of string.
Bytes long_input() {
    return mixed_input(3 * 65536 + 1234, 21);
}

TEST(CompressorSteps, AtEveryGivenWidthAnyPiecesGiveTheStreamAtThatWidth) {
    const Bytes inputs[] = {long_input(), Bytes{}, Bytes{'a'}, text_like(5000, 3)};
    for (int width = min_width; width <= max_width; ++width) {
        for (const Bytes& input : inputs) {
            Bytes expected = compress_at(input, width);
            for (std::size_t in_piece : piece_sizes)
                for (std::size_t out_piece : piece_sizes) {
                    // The single-byte pieces each way once per width, on the long input.
                    if ((in_piece == 1) != (out_piece == 1) && input.size() > 10000 &&
                        width % 4 != 0)
                        continue;
                    tarnwel_compressor* compressor = nullptr;
                    ASSERT_EQ(tarnwel_compressor_create_width(width, &compressor), TARNWEL_OK);
                    EXPECT_EQ(tarnwel_compressor_width(compressor), width);
                    expect_stepped(compressor, input, in_piece, out_piece, expected, width,
                                   "width " + std::to_string(width));
                }
        }
    }
}

TEST(CompressorSteps, WithTheSearchAnyPiecesGiveTheOneShotStreamAndWidth) {
    const Bytes inputs[] = {long_input(), Bytes{}, Bytes{'a'}, random_bytes(70000, 5)};
    for (int cap : {12, 14, 25})
        for (const Bytes& input : inputs) {
            Bytes expected(tarnwel_compress_bound(input.size()));
            std::size_t size = 0;
            int width = 0;
            ASSERT_EQ(tarnwel_compress(input.data(), input.size(), expected.data(), expected.size(),
                                       cap, &size, &width),
                      TARNWEL_OK);
            expected.resize(size);
            for (std::size_t in_piece : piece_sizes)
                for (std::size_t out_piece : piece_sizes) {
                    tarnwel_compressor* compressor = nullptr;
                    ASSERT_EQ(tarnwel_compressor_create(cap, &compressor), TARNWEL_OK);
                    expect_stepped(compressor, input, in_piece, out_piece, expected, width,
                                   "cap " + std::to_string(cap));
                }
        }
}

// At a given width the front of the stream is out while the input goes on,
// and it expands back; with the search nothing is, but all the input is
// taken, and the width is known only at the end.
TEST(CompressorSteps, AGivenWidthHandsOutTheFrontBeforeTheInputEnds) {
    const Bytes input = long_input();
    const Bytes expected = compress_at(input, 16);
    for (bool searching : {false, true}) {
        tarnwel_compressor* compressor = nullptr;
        ASSERT_EQ(searching ? tarnwel_compressor_create(16, &compressor)
                            : tarnwel_compressor_create_width(16, &compressor),
                  TARNWEL_OK);
        Bytes buffer(expected.size());
        tarnwel_in_buffer in{input.data(), 2 * 65536, 0};
        tarnwel_out_buffer out{buffer.data(), buffer.size(), 0};
        int done = 1;
        ASSERT_EQ(tarnwel_compressor_step(compressor, &in, &out, 0, &done), TARNWEL_OK);
        EXPECT_EQ(done, 0);
        EXPECT_EQ(in.pos, in.size);
        EXPECT_EQ(tarnwel_compressor_width(compressor), searching ? 0 : 16);
        if (searching) {
            EXPECT_EQ(out.pos, 0u);
        } else {
            // A block's codes, and the next block's once those were out.
            EXPECT_GT(out.pos, expected.size() / 3);
            EXPECT_TRUE(std::equal(buffer.begin(), buffer.begin() + out.pos, expected.begin()));
        }
        in = {input.data() + in.pos, input.size() - in.pos, 0};
        ASSERT_EQ(tarnwel_compressor_step(compressor, &in, &out, 1, &done), TARNWEL_OK);
        EXPECT_EQ(done, 1);
        buffer.resize(out.pos);
        if (searching) {
            EXPECT_NE(tarnwel_compressor_width(compressor), 0);
        } else {
            EXPECT_EQ(tarnwel_compressor_width(compressor), 16);
            EXPECT_EQ(buffer, expected);
        }
        tarnwel_compressor_free(compressor);
    }
    Bytes back(input.size());
    std::size_t size = 0;
    ASSERT_EQ(tarnwel_expand(expected.data(), expected.size(), 16, back.data(), back.size(), &size),
              TARNWEL_OK);
    EXPECT_EQ(size, input.size());
    EXPECT_EQ(back, input);
}

// A compressor made at a width and fed rather than stepped compresses at
// that width too.
TEST(CompressorSteps, AGivenWidthFedAndFinishedGivesTheSameStream) {
    const Bytes input = long_input();
    tarnwel_compressor* compressor = nullptr;
    ASSERT_EQ(tarnwel_compressor_create_width(13, &compressor), TARNWEL_OK);
    ASSERT_EQ(tarnwel_compressor_feed(compressor, input.data(), input.size()), TARNWEL_OK);
    ASSERT_EQ(tarnwel_compressor_finish(compressor), TARNWEL_OK);
    Bytes stream(tarnwel_compress_bound(input.size()));
    std::size_t taken = 0;
    ASSERT_EQ(tarnwel_compressor_take(compressor, stream.data(), stream.size(), &taken),
              TARNWEL_OK);
    stream.resize(taken);
    EXPECT_EQ(stream, compress_at(input, 13));
    EXPECT_EQ(tarnwel_compressor_width(compressor), 13);
    tarnwel_compressor_free(compressor);
}

// The sink the search's steps keep their stream in reads back as a file
// would: across its chunks, with zeros where nothing was written, and after
// a cut, zeros past it when it grows again.
TEST(CompressorSteps, ChunkedSinkReadsBackAsAFile) {
    const std::size_t chunk = ChunkedSink::chunk_size;
    const Bytes data = random_bytes(chunk + 100, 8);
    ChunkedSink sink;
    VectorSink file;
    struct Write {
        std::uint64_t at;
        std::size_t count;
    };
    for (Write w : {Write{chunk - 50, 100}, Write{3 * chunk + 1, 10}, Write{0, chunk + 100}})
        for (ByteSink* to : {static_cast<ByteSink*>(&sink), static_cast<ByteSink*>(&file)})
            ASSERT_TRUE(to->write_at(w.at, data.data(), w.count));
    for (std::uint64_t size : {2 * chunk + 7, chunk - 3, 3 * chunk + 5}) {
        ASSERT_TRUE(sink.truncate(size));
        ASSERT_TRUE(file.truncate(size));
        ASSERT_EQ(sink.size(), file.bytes.size());
        Bytes back(file.bytes.size());
        sink.read_at(0, back.data(), back.size());
        EXPECT_EQ(back, file.bytes) << "cut to " << size;
    }
}

TEST(CompressorSteps, BadWidthsAreStatuses) {
    std::uint8_t byte = 'x';
    tarnwel_compressor* made = reinterpret_cast<tarnwel_compressor*>(&byte); // never read
    EXPECT_EQ(tarnwel_compressor_create_width(25, nullptr), TARNWEL_BAD_ARGUMENT);
    for (int width : {-1, 0, 10, 26, 1000}) {
        EXPECT_EQ(tarnwel_compressor_create_width(width, &made), TARNWEL_BAD_WIDTH) << width;
        EXPECT_EQ(made, nullptr);
    }
}

// A bad step call: on a compressor of its own, stepped as `before` says,
// the call given, with one of its pointers null or none.
enum class Before { nothing, fed, stepped, ended };
enum class Null { none, in, out, done };
struct BadStep {
    const char* call;
    Before before;
    Null null;
    tarnwel_in_buffer in;
    tarnwel_out_buffer out;
    int input_ends;
    tarnwel_status expected;
};

std::vector<BadStep> bad_steps(std::uint8_t* byte, std::uint8_t* out_byte) {
    const std::size_t absurd = std::numeric_limits<std::size_t>::max();
    const tarnwel_in_buffer one_in{byte, 1, 0};
    const tarnwel_out_buffer one_out{out_byte, 1, 0};
    const auto bad = TARNWEL_BAD_ARGUMENT;
    const auto order = TARNWEL_BAD_SEQUENCE;
    const auto ok = TARNWEL_OK;
    const auto fresh = Before::nothing;
    const auto ended = Before::ended;
    return {
        {"no in", fresh, Null::in, one_in, one_out, 0, bad},
        {"no out", fresh, Null::out, one_in, one_out, 0, bad},
        {"no done", fresh, Null::done, one_in, one_out, 0, bad},
        {"in pos past size", fresh, Null::none, {byte, 1, 2}, one_out, 0, bad},
        {"out pos past size", Before::stepped, Null::none, one_in, {out_byte, 1, 2}, 0, bad},
        {"null in data, absurd size", fresh, Null::none, {nullptr, absurd, 0}, one_out, 0, bad},
        {"null out data", fresh, Null::none, one_in, {nullptr, 5, 0}, 0, bad},
        {"absurd pos", fresh, Null::none, {byte, 1, absurd}, one_out, 0, bad},
        {"null and empty", fresh, Null::none, {nullptr, 0, 0}, {nullptr, 0, 0}, 0, ok},
        {"step after feed", Before::fed, Null::none, one_in, one_out, 0, order},
        {"the end taken back", ended, Null::none, one_in, one_out, 0, order},
        {"input after the end", ended, Null::none, one_in, one_out, 1, order},
        {"nothing after the end", ended, Null::none, {nullptr, 0, 0}, one_out, 1, ok},
    };
}

TEST(CompressorSteps, BadStepCallsAreStatuses) {
    std::uint8_t byte = 'x';
    std::uint8_t out_byte = 0;
    int done = 0;
    for (bool searching : {false, true})
        for (const BadStep& c : bad_steps(&byte, &out_byte)) {
            tarnwel_compressor* compressor = nullptr;
            ASSERT_EQ(searching ? tarnwel_compressor_create(20, &compressor)
                                : tarnwel_compressor_create_width(20, &compressor),
                      TARNWEL_OK);
            if (c.before == Before::fed) {
                ASSERT_EQ(tarnwel_compressor_feed(compressor, &byte, 1), TARNWEL_OK);
            }
            if (c.before == Before::stepped || c.before == Before::ended) {
                std::uint8_t sink[16];
                tarnwel_in_buffer in{&byte, 1, 0};
                tarnwel_out_buffer out{sink, sizeof sink, 0};
                int ends = c.before == Before::ended ? 1 : 0;
                ASSERT_EQ(tarnwel_compressor_step(compressor, &in, &out, ends, &done), TARNWEL_OK);
                EXPECT_EQ(done, ends);
            }
            tarnwel_in_buffer in = c.in;
            tarnwel_out_buffer out = c.out;
            EXPECT_EQ(tarnwel_compressor_step(compressor, c.null == Null::in ? nullptr : &in,
                                              c.null == Null::out ? nullptr : &out, c.input_ends,
                                              c.null == Null::done ? nullptr : &done),
                      c.expected)
                << c.call << (searching ? ", searching" : ", at a width");
            tarnwel_compressor_free(compressor);
        }
    EXPECT_EQ(tarnwel_compressor_step(nullptr, nullptr, nullptr, 0, nullptr), TARNWEL_BAD_ARGUMENT);
}

TEST(CompressorSteps, AStepDrivenObjectIsNotFedFinishedOrTakenFrom) {
    std::uint8_t byte = 'x';
    std::uint8_t out_byte = 0;
    int done = 0;
    tarnwel_compressor* compressor = nullptr;
    ASSERT_EQ(tarnwel_compressor_create(12, &compressor), TARNWEL_OK);
    tarnwel_in_buffer in{&byte, 1, 0};
    tarnwel_out_buffer out{nullptr, 0, 0};
    ASSERT_EQ(tarnwel_compressor_step(compressor, &in, &out, 0, &done), TARNWEL_OK);
    std::size_t taken = 0;
    EXPECT_EQ(tarnwel_compressor_feed(compressor, &byte, 1), TARNWEL_BAD_SEQUENCE);
    EXPECT_EQ(tarnwel_compressor_finish(compressor), TARNWEL_BAD_SEQUENCE);
    EXPECT_EQ(tarnwel_compressor_take(compressor, &out_byte, 1, &taken), TARNWEL_BAD_SEQUENCE);
    tarnwel_compressor_free(compressor);
}

} // namespace
} // namespace tarnwel::test
