// The C interface (include/tarnwel.h): streams equal to the compressor's
// however the input is cut into chunks, round trips, corrupt streams, bad
// arguments and calls out of order, and objects freed midway (the
// sanitizer build checks that nothing leaks).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

#include "tarnwel.h"
#include "test_support.h"

namespace tarnwel::test {
namespace {

// Takes everything an object has to give, chunk bytes at a time.
template <class Object, class Take> Bytes take_all(Object* object, Take take, std::size_t chunk) {
    Bytes all;
    Bytes buffer(chunk);
    for (;;) {
        std::size_t taken = 0;
        EXPECT_EQ(take(object, buffer.data(), buffer.size(), &taken), TARNWEL_OK);
        if (taken == 0) return all;
        all.insert(all.end(), buffer.begin(), buffer.begin() + taken);
    }
}

// Feeds an object its input in chunks, finishes it and takes all it gives:
// the same steps for a compressor and an expander.
template <class Object, class Feed, class Finish, class Take>
tarnwel_status run_in_chunks(Object* object, Feed feed, Finish finish, Take take,
                             const Bytes& input, std::size_t chunk, Bytes& output) {
    for (std::size_t at = 0; at < input.size(); at += chunk)
        EXPECT_EQ(feed(object, input.data() + at, std::min(chunk, input.size() - at)), TARNWEL_OK);
    tarnwel_status status = finish(object);
    output = take_all(object, take, chunk);
    return status;
}

struct Compressed {
    tarnwel_status status;
    Bytes stream;
    int width;
};

Compressed compress_in_chunks(const Bytes& input, int cap, std::size_t chunk) {
    tarnwel_compressor* compressor = nullptr;
    EXPECT_EQ(tarnwel_compressor_create(cap, &compressor), TARNWEL_OK);
    Compressed out;
    out.status = run_in_chunks(compressor, tarnwel_compressor_feed, tarnwel_compressor_finish,
                               tarnwel_compressor_take, input, chunk, out.stream);
    out.width = tarnwel_compressor_width(compressor);
    tarnwel_compressor_free(compressor);
    return out;
}

struct ExpandedHere {
    tarnwel_status status;
    Bytes bytes;
};

ExpandedHere expand_in_chunks(const Bytes& stream, int width, std::size_t chunk) {
    tarnwel_expander* expander = nullptr;
    EXPECT_EQ(tarnwel_expander_create(width, &expander), TARNWEL_OK);
    ExpandedHere out;
    out.status = run_in_chunks(expander, tarnwel_expander_feed, tarnwel_expander_finish,
                               tarnwel_expander_take, stream, chunk, out.bytes);
    tarnwel_expander_free(expander);
    return out;
}

TEST(LibraryInterface, ChunksOfAnySizeGiveTheCompressorsStreamAndExpandBack) {
    struct Case {
        const char* name;
        Bytes input;
        int cap;
    };
    const Case cases[] = {
        {"empty", {}, 25},
        {"one byte", {0x61}, 25},
        {"text, width searched", text_like(60001, 3), 25},
        {"random, capped at 12", random_bytes(30001, 4), 12},
        {"random, capped at 14", random_bytes(50003, 5), 14},
        {"mixed, width searched", mixed_input(90001, 6), 25},
    };
    for (const Case& c : cases) {
        Searched expected = search_and_compress_bytes(c.input, c.cap);
        ASSERT_EQ(expected.choice.result.status, CodecStatus::ok) << c.name;
        const std::size_t whole = std::max<std::size_t>(c.input.size(), 1);
        for (std::size_t chunk : {std::size_t{1}, std::size_t{7}, std::size_t{4096}, whole}) {
            SCOPED_TRACE(testing::Message() << c.name << ", chunks of " << chunk);
            Compressed compressed = compress_in_chunks(c.input, c.cap, chunk);
            ASSERT_EQ(compressed.status, TARNWEL_OK);
            EXPECT_EQ(compressed.width, expected.choice.width);
            EXPECT_EQ(compressed.stream, expected.stream);
            ExpandedHere expanded = expand_in_chunks(compressed.stream, compressed.width, chunk);
            EXPECT_EQ(expanded.status, TARNWEL_OK);
            EXPECT_EQ(expanded.bytes, c.input);
        }
        // The one-shot calls, in buffers of exactly the bound.
        Bytes stream(tarnwel_compress_bound(c.input.size()));
        std::size_t stream_size = 0;
        int width = 0;
        ASSERT_EQ(tarnwel_compress(c.input.data(), c.input.size(), stream.data(), stream.size(),
                                   c.cap, &stream_size, &width),
                  TARNWEL_OK)
            << c.name;
        stream.resize(stream_size);
        EXPECT_EQ(stream, expected.stream) << c.name;
        EXPECT_EQ(width, expected.choice.width) << c.name;
        Bytes back(c.input.size());
        std::size_t back_size = 99;
        EXPECT_EQ(tarnwel_expand(stream.data(), stream.size(), width, back.data(), back.size(),
                                 &back_size),
                  TARNWEL_OK)
            << c.name;
        EXPECT_EQ(back_size, c.input.size()) << c.name;
        EXPECT_EQ(back, c.input) << c.name;
    }
}

TEST(LibraryInterface, OneShotOutputThatDoesNotFitIsRefused) {
    Bytes input(256);
    for (int i = 0; i < 256; ++i)
        input[i] = static_cast<std::uint8_t>(i);
    Bytes stream(tarnwel_compress_bound(input.size()));
    std::size_t size = 0;
    int width = 0;
    ASSERT_EQ(tarnwel_compress(input.data(), input.size(), stream.data(), stream.size(), 25, &size,
                               &width),
              TARNWEL_OK);
    EXPECT_EQ(
        tarnwel_compress(input.data(), input.size(), stream.data(), size - 1, 25, &size, &width),
        TARNWEL_OUTPUT_TOO_SMALL);
    EXPECT_EQ(tarnwel_compress_bound(SIZE_MAX), 0u);
}

TEST(LibraryInterface, CorruptStreamKeepsWhatWasExpandedBeforeTheFault) {
    // At width 11: 'a', 'b', then code 300, far above the next free code (257).
    Codes codes = {'a', 'b', 300, end_code(11)};
    Bytes stream = reference_pack(codes, 11);
    ExpandedHere expanded = expand_in_chunks(stream, 11, 1);
    EXPECT_EQ(expanded.status, TARNWEL_CORRUPT_STREAM);
    EXPECT_EQ(expanded.bytes, bytes_of("ab"));
    Bytes out(16);
    std::size_t size = 0;
    EXPECT_EQ(tarnwel_expand(stream.data(), stream.size(), 11, out.data(), out.size(), &size),
              TARNWEL_CORRUPT_STREAM);
    EXPECT_EQ(size, 2u);
    EXPECT_EQ(Bytes(out.begin(), out.begin() + 2), bytes_of("ab"));
    // A first code that is not a byte.
    Bytes first = reference_pack({256, end_code(11)}, 11);
    EXPECT_EQ(tarnwel_expand(first.data(), first.size(), 11, out.data(), out.size(), &size),
              TARNWEL_CORRUPT_STREAM);
    EXPECT_EQ(size, 0u);
}

TEST(LibraryInterface, BadArgumentsAreStatuses) {
    tarnwel_compressor* compressor = nullptr;
    tarnwel_expander* expander = nullptr;
    std::uint8_t byte = 0;
    std::size_t size = 0;
    int width = 0;
    struct Case {
        const char* call;
        tarnwel_status got;
        tarnwel_status expected;
    };
    const Case cases[] = {
        {"create, no place for it", tarnwel_compressor_create(25, nullptr), TARNWEL_BAD_ARGUMENT},
        {"create, cap 11", tarnwel_compressor_create(11, &compressor), TARNWEL_BAD_WIDTH},
        {"create, cap 26", tarnwel_compressor_create(26, &compressor), TARNWEL_BAD_WIDTH},
        {"expander, width 10", tarnwel_expander_create(10, &expander), TARNWEL_BAD_WIDTH},
        {"expander, width 26", tarnwel_expander_create(26, &expander), TARNWEL_BAD_WIDTH},
        {"expander, no place for it", tarnwel_expander_create(11, nullptr), TARNWEL_BAD_ARGUMENT},
        {"feed, no compressor", tarnwel_compressor_feed(nullptr, &byte, 1), TARNWEL_BAD_ARGUMENT},
        {"finish, no compressor", tarnwel_compressor_finish(nullptr), TARNWEL_BAD_ARGUMENT},
        {"take, no compressor", tarnwel_compressor_take(nullptr, &byte, 1, &size),
         TARNWEL_BAD_ARGUMENT},
        {"feed, no expander", tarnwel_expander_feed(nullptr, &byte, 1), TARNWEL_BAD_ARGUMENT},
        {"finish, no expander", tarnwel_expander_finish(nullptr), TARNWEL_BAD_ARGUMENT},
        {"take, no expander", tarnwel_expander_take(nullptr, &byte, 1, &size),
         TARNWEL_BAD_ARGUMENT},
        {"one-shot, null input", tarnwel_compress(nullptr, 1, &byte, 1, 25, &size, &width),
         TARNWEL_BAD_ARGUMENT},
        {"one-shot, no size", tarnwel_compress(&byte, 1, &byte, 1, 25, nullptr, &width),
         TARNWEL_BAD_ARGUMENT},
        {"one-shot, no width", tarnwel_compress(&byte, 1, &byte, 1, 25, &size, nullptr),
         TARNWEL_BAD_ARGUMENT},
        {"one-shot, cap 26", tarnwel_compress(&byte, 1, &byte, 1, 26, &size, &width),
         TARNWEL_BAD_WIDTH},
        {"one-shot expand, null stream", tarnwel_expand(nullptr, 1, 11, &byte, 1, &size),
         TARNWEL_BAD_ARGUMENT},
        {"one-shot expand, null output", tarnwel_expand(&byte, 1, 11, nullptr, 1, &size),
         TARNWEL_BAD_ARGUMENT},
        {"one-shot expand, width 9", tarnwel_expand(&byte, 1, 9, &byte, 1, &size),
         TARNWEL_BAD_WIDTH},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.got, c.expected) << c.call;
    EXPECT_EQ(compressor, nullptr);
    EXPECT_EQ(expander, nullptr);
}

TEST(LibraryInterface, EmptyChunksAndCallsOutOfOrder) {
    tarnwel_compressor* compressor = nullptr;
    tarnwel_expander* expander = nullptr;
    std::uint8_t byte = 0;
    std::size_t size = 0;
    // Null with size 0 is an empty chunk; feeding after finish is refused.
    ASSERT_EQ(tarnwel_compressor_create(12, &compressor), TARNWEL_OK);
    EXPECT_EQ(tarnwel_compressor_feed(compressor, nullptr, 0), TARNWEL_OK);
    EXPECT_EQ(tarnwel_compressor_feed(compressor, nullptr, 1), TARNWEL_BAD_ARGUMENT);
    EXPECT_EQ(tarnwel_compressor_take(compressor, &byte, 1, &size), TARNWEL_OK);
    EXPECT_EQ(size, 0u); // nothing before finish
    EXPECT_EQ(tarnwel_compressor_take(compressor, &byte, 1, nullptr), TARNWEL_BAD_ARGUMENT);
    EXPECT_EQ(tarnwel_compressor_width(compressor), 0);
    EXPECT_EQ(tarnwel_compressor_finish(compressor), TARNWEL_OK);
    EXPECT_EQ(tarnwel_compressor_width(compressor), 11);
    EXPECT_EQ(tarnwel_compressor_feed(compressor, &byte, 1), TARNWEL_BAD_SEQUENCE);
    EXPECT_EQ(tarnwel_compressor_finish(compressor), TARNWEL_BAD_SEQUENCE);
    EXPECT_EQ(take_all(compressor, tarnwel_compressor_take, 1), (Bytes{0xFF, 0xFF}));
    tarnwel_compressor_free(compressor);
    tarnwel_compressor_free(nullptr);
    EXPECT_EQ(tarnwel_compressor_width(nullptr), 0);

    ASSERT_EQ(tarnwel_expander_create(11, &expander), TARNWEL_OK);
    // No bytes: not even the end code, so a stream cut short.
    EXPECT_EQ(tarnwel_expander_finish(expander), TARNWEL_CORRUPT_STREAM);
    EXPECT_EQ(tarnwel_expander_feed(expander, &byte, 1), TARNWEL_BAD_SEQUENCE);
    EXPECT_EQ(take_all(expander, tarnwel_expander_take, 4), Bytes{});
    tarnwel_expander_free(expander);
    tarnwel_expander_free(nullptr);
}

TEST(LibraryInterface, StatusesHaveNames) {
    for (int s = TARNWEL_OK; s <= TARNWEL_WRITE_FAILED; ++s)
        EXPECT_STRNE(tarnwel_status_name(static_cast<tarnwel_status>(s)), "unknown status") << s;
    EXPECT_STREQ(tarnwel_status_name(TARNWEL_CORRUPT_STREAM), "TARNWEL_CORRUPT_STREAM");
    EXPECT_STREQ(tarnwel_status_name(static_cast<tarnwel_status>(99)), "unknown status");
}

// The project's version (CMake's, which names the shared library and the
// packages) is the one the header and the library give, in both forms.
TEST(LibraryInterface, VersionIsTheProjectsInBothForms) {
    int major = 0;
    int minor = 0;
    int patch = 0;
    ASSERT_EQ(std::sscanf(TARNWEL_PROJECT_VERSION, "%d.%d.%d", &major, &minor, &patch), 3);
    EXPECT_STREQ(tarnwel_version_string(), TARNWEL_PROJECT_VERSION);
    EXPECT_EQ(tarnwel_version(), major * 10000 + minor * 100 + patch);
    EXPECT_EQ(TARNWEL_VERSION_MAJOR * 10000 + TARNWEL_VERSION_MINOR * 100 + TARNWEL_VERSION_PATCH,
              tarnwel_version());
}

TEST(LibraryInterface, ObjectsFreedMidwayLeaveNothingBehind) {
    Bytes input = mixed_input(20000, 9);
    // Fed and never finished.
    tarnwel_compressor* compressor = nullptr;
    ASSERT_EQ(tarnwel_compressor_create(25, &compressor), TARNWEL_OK);
    ASSERT_EQ(tarnwel_compressor_feed(compressor, input.data(), input.size()), TARNWEL_OK);
    tarnwel_compressor_free(compressor);
    // Finished, its stream half taken.
    ASSERT_EQ(tarnwel_compressor_create(25, &compressor), TARNWEL_OK);
    ASSERT_EQ(tarnwel_compressor_feed(compressor, input.data(), input.size()), TARNWEL_OK);
    ASSERT_EQ(tarnwel_compressor_finish(compressor), TARNWEL_OK);
    int width = tarnwel_compressor_width(compressor);
    Bytes half(100);
    std::size_t taken = 0;
    ASSERT_EQ(tarnwel_compressor_take(compressor, half.data(), half.size(), &taken), TARNWEL_OK);
    EXPECT_EQ(taken, half.size());
    tarnwel_compressor_free(compressor);
    // The same for an expander, on the front of the stream.
    tarnwel_expander* expander = nullptr;
    ASSERT_EQ(tarnwel_expander_create(width, &expander), TARNWEL_OK);
    ASSERT_EQ(tarnwel_expander_feed(expander, half.data(), half.size()), TARNWEL_OK);
    tarnwel_expander_free(expander);
    ASSERT_EQ(tarnwel_expander_create(width, &expander), TARNWEL_OK);
    ASSERT_EQ(tarnwel_expander_feed(expander, half.data(), half.size()), TARNWEL_OK);
    // Cut short inside a code: refused, but what came before it is there.
    EXPECT_EQ(tarnwel_expander_finish(expander), TARNWEL_CORRUPT_STREAM);
    ASSERT_EQ(tarnwel_expander_take(expander, half.data(), 10, &taken), TARNWEL_OK);
    EXPECT_EQ(Bytes(half.begin(), half.begin() + taken), Bytes(input.begin(), input.begin() + 10));
    tarnwel_expander_free(expander);
}

// A caller's source over bytes in memory that fails after fail_after reads,
// and a sink into a vector that fails from its fail_at'th write on.
struct CallerFiles {
    const Bytes* input = nullptr;
    std::size_t at = 0;
    int reads = 0;
    int fail_after = -1;
    Bytes output;
    int writes = 0;
    int fail_at = -1;
};

int read_caller(void* context, void* buffer, std::size_t capacity, std::size_t* got) {
    auto& files = *static_cast<CallerFiles*>(context);
    if (files.reads++ == files.fail_after) return 0;
    *got = std::min<std::size_t>({capacity, files.input->size() - files.at, 1000});
    std::copy_n(files.input->data() + files.at, *got, static_cast<std::uint8_t*>(buffer));
    files.at += *got;
    return 1;
}

int write_caller(void* context, unsigned long long position, const void* data, std::size_t size) {
    auto& files = *static_cast<CallerFiles*>(context);
    if (files.writes++ == files.fail_at) return 0;
    if (position + size > files.output.size()) files.output.resize(position + size);
    std::copy_n(static_cast<const std::uint8_t*>(data), size, files.output.data() + position);
    return 1;
}

int truncate_caller(void* context, unsigned long long size) {
    static_cast<CallerFiles*>(context)->output.resize(size);
    return 1;
}

int flush_caller(void*) {
    return 1;
}

TEST(LibraryInterface, StreamingThroughTheCallersFunctionsGivesTheSameStreamAndTheirFailures) {
    const Bytes input = mixed_input(60001, 11);
    Searched expected = search_and_compress_bytes(input, 25);
    ASSERT_EQ(expected.choice.result.status, CodecStatus::ok);
    struct Case {
        const char* name;
        int fail_after; // reads
        int fail_at;    // writes
        tarnwel_status status;
    };
    const Case cases[] = {
        {"no failure", -1, -1, TARNWEL_OK},
        {"the third read fails", 2, -1, TARNWEL_READ_FAILED},
        {"the first write fails", -1, 0, TARNWEL_WRITE_FAILED},
    };
    for (const Case& c : cases) {
        for (bool sized : {true, false}) {
            SCOPED_TRACE(testing::Message() << c.name << (sized ? ", size told" : ", no size"));
            CallerFiles files;
            files.input = &input;
            files.fail_after = c.fail_after;
            files.fail_at = c.fail_at;
            const tarnwel_source source{&files, read_caller,
                                        sized ? static_cast<long long>(input.size()) : -1};
            const tarnwel_sink sink{&files, write_caller, truncate_caller, flush_caller};
            std::vector<int> trials;
            tarnwel_compress_report report;
            tarnwel_status status = tarnwel_compress_stream(
                &source, &sink, 25,
                [](void* context, int width) {
                    static_cast<std::vector<int>*>(context)->push_back(width);
                },
                &trials, &report);
            EXPECT_EQ(status, c.status);
            if (status != TARNWEL_OK) continue;
            EXPECT_EQ(files.output, expected.stream);
            EXPECT_EQ(report.width, expected.choice.width);
            EXPECT_EQ(report.bytes_in, input.size());
            EXPECT_EQ(report.bytes_out, expected.stream.size());
            EXPECT_EQ(trials, expected.trials);

            // And back, through an expander fed by the caller's functions.
            CallerFiles back;
            back.input = &files.output;
            const tarnwel_source stream{&back, read_caller, -1};
            const tarnwel_sink restored{&back, write_caller, truncate_caller, flush_caller};
            tarnwel_expander* expander = nullptr;
            ASSERT_EQ(tarnwel_expander_create(report.width, &expander), TARNWEL_OK);
            EXPECT_EQ(
                tarnwel_expander_expand_stream(expander, &stream, &restored, nullptr, nullptr),
                TARNWEL_OK);
            EXPECT_EQ(back.output, input);
            EXPECT_EQ(
                tarnwel_expander_expand_stream(expander, &stream, &restored, nullptr, nullptr),
                TARNWEL_BAD_SEQUENCE);
            tarnwel_expander_free(expander);
        }
    }
    tarnwel_compress_report report;
    const tarnwel_sink no_flush{nullptr, write_caller, truncate_caller, nullptr};
    const tarnwel_source source{nullptr, read_caller, -1};
    EXPECT_EQ(tarnwel_compress_stream(&source, &no_flush, 25, nullptr, nullptr, &report),
              TARNWEL_BAD_ARGUMENT);
    EXPECT_EQ(tarnwel_compress_stream(nullptr, &no_flush, 25, nullptr, nullptr, &report),
              TARNWEL_BAD_ARGUMENT);
}

// A source that hands over the bytes before `cut`, a few at a time, and
// then fails; and a sink that keeps what the expander writes.
struct CutSource {
    const Bytes* stream = nullptr;
    std::size_t cut = 0;
    std::size_t at = 0;
    Bytes written;
};

int read_until_cut(void* context, void* buffer, std::size_t capacity, std::size_t* got) {
    auto& source = *static_cast<CutSource*>(context);
    if (source.at == source.cut) return 0;
    *got = std::min<std::size_t>({capacity, source.cut - source.at, 4093});
    std::copy_n(source.stream->data() + source.at, *got, static_cast<std::uint8_t*>(buffer));
    source.at += *got;
    return 1;
}

int write_after_cut(void* context, unsigned long long position, const void* data,
                    std::size_t size) {
    auto& written = static_cast<CutSource*>(context)->written;
    EXPECT_EQ(position, written.size()); // front to back
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    written.insert(written.end(), bytes, bytes + size);
    return 1;
}

// How many bytes the codes of a stream have expanded to after each one
// (the end code left out), by the lengths of the strings they name.
std::vector<std::size_t> expanded_after_each_code(const Codes& codes, int width) {
    std::vector<std::uint32_t> length(std::size_t{1} << width, 1);
    std::vector<std::size_t> after;
    std::uint32_t free_code = 256;
    std::size_t total = 0;
    for (std::size_t i = 0; i < codes.size() && codes[i] != end_code(width); ++i) {
        std::uint32_t code = codes[i];
        std::uint32_t here = code < free_code ? length[code] : length[codes[i - 1]] + 1;
        if (i > 0 && free_code < end_code(width)) length[free_code++] = length[codes[i - 1]] + 1;
        total += here;
        after.push_back(total);
    }
    return after;
}

TEST(LibraryInterface, ASourceThatFailsLeavesInTheSinkWhatTheCodesBeforeItExpandTo) {
    // The codes read whole before the failure expand to a front part of
    // the input, and nothing more goes to the sink: a code whose last bits
    // the source never gave is not expanded with ones in their place, as
    // at the end of a stream. Wide widths hand the output to the writer
    // thread.
    struct Case {
        int width;
        Bytes input;
    };
    const Case cases[] = {
        {11, text_like(20000, 61)},
        {13, mixed_input(60000, 62)},
        {18, text_like(1500000, 63)},
        {25, mixed_input(300000, 64)},
    };
    for (const Case& c : cases) {
        const Bytes stream = compress_bytes(c.input, c.width);
        const std::vector<std::size_t> expanded_after =
            expanded_after_each_code(reference_codes(c.input, c.width), c.width);
        tarnwel_expander* expander = nullptr;
        // Every cut over the first bytes, then cuts spread over the stream
        // and its last bytes: each falls at a different place in a code.
        std::vector<std::size_t> cuts;
        for (std::size_t cut = 0; cut < 40; ++cut)
            cuts.push_back(cut);
        for (std::size_t cut = 40; cut < stream.size(); cut += stream.size() / 97 + 1)
            cuts.push_back(cut);
        for (std::size_t back = 8; back > 0; --back)
            cuts.push_back(stream.size() - back);
        for (std::size_t cut : cuts) {
            SCOPED_TRACE(testing::Message() << "width " << c.width << ", cut at " << cut);
            CutSource files;
            files.stream = &stream;
            files.cut = cut;
            const tarnwel_source source{&files, read_until_cut, -1};
            // The expander never cuts its output.
            const tarnwel_sink sink{&files, write_after_cut,
                                    [](void*, unsigned long long) { return 0; }, flush_caller};
            ASSERT_EQ(tarnwel_expander_create(c.width, &expander), TARNWEL_OK);
            unsigned long long bytes_out = 0;
            EXPECT_EQ(tarnwel_expander_expand_stream(expander, &source, &sink, nullptr, &bytes_out),
                      TARNWEL_READ_FAILED);
            tarnwel_expander_free(expander);
            std::size_t whole_codes = cut * 8 / c.width;
            std::size_t expected = whole_codes == 0 ? 0 : expanded_after[whole_codes - 1];
            ASSERT_EQ(files.written.size(), expected);
            ASSERT_TRUE(std::equal(files.written.begin(), files.written.end(), c.input.begin()));
            EXPECT_EQ(bytes_out, expected);
        }
    }
}

} // namespace
} // namespace tarnwel::test
