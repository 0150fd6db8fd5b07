// Putting a stream together from the shared codes and a frozen stream.
#include <gtest/gtest.h>

#include <cerrno>
#include <random>
#include <utility>

#include "file_io.h"
#include "memory_streams.h"
#include "stream_assembly.h"
#include "test_support.h"

namespace tarnwel::test {
namespace {

Bytes contents(std::FILE* file) {
    Bytes bytes;
    std::fflush(file);
    std::rewind(file);
    for (int c; (c = std::fgetc(file)) != EOF;)
        bytes.push_back(static_cast<std::uint8_t>(c));
    return bytes;
}

// The output: a file, or memory.
struct Output {
    explicit Output(bool in_file) : file(in_file ? std::tmpfile() : nullptr) {
        if (file != nullptr) {
            file_sink.emplace(file);
            codec_sink.emplace(*file_sink);
        }
    }
    ~Output() {
        if (file != nullptr) std::fclose(file);
    }
    ByteSink& sink() { return file != nullptr ? static_cast<ByteSink&>(*codec_sink) : memory; }
    Bytes bytes() { return file != nullptr ? contents(file) : memory.bytes; }
    std::FILE* file;
    std::optional<FileSink> file_sink;
    std::optional<CodecSinkOver> codec_sink;
    VectorSink memory;
};

// Every way of assembling must give the codes packed one after the other:
// the frozen stream in a file or in memory, after an abandoned longer
// stream at another width, with the shared codes ending anywhere in a
// byte, and with none, some or all of them packed ahead.
TEST(StreamAssembly, SharedCodesAndFrozenStreamJoinAsOneStream) {
    std::mt19937 generator(3);
    for (int width = min_width; width <= max_width; ++width) {
        for (std::size_t shared : {0, 1, 3, 5, 8, 13, 21}) {
            for (auto [in_file, ahead] :
                 {std::pair{true, 0}, {true, 1000}, {false, 0}, {false, 8}, {false, 1000}}) {
                Codes codes(shared + 40);
                for (std::uint32_t& code : codes)
                    code = generator() % end_code(width);
                Output output(in_file);
                FrozenStream frozen;
                open_frozen_stream(frozen, output.sink());
                // A stream of a narrower width that ran further, then was dropped.
                begin_frozen_stream(frozen, width - 1, 0);
                for (int i = 0; i < 60000; ++i) // past one buffer: some reach the file
                    put_frozen_code(frozen, 1);
                begin_frozen_stream(frozen, width, shared, codes.data());
                pack_shared_ahead(frozen, ahead);
                for (std::size_t i = shared; i + 1 < codes.size(); ++i)
                    put_frozen_code(frozen, codes[i]);
                AssembledStream assembled =
                    assemble_stream(output.sink(), width, codes, &frozen, codes.back());
                Codes all = codes;
                all.push_back(end_code(width));
                Bytes expected = reference_pack(all, width);
                std::string what = "BITS " + std::to_string(width) + ", " + std::to_string(shared) +
                                   " shared, " + std::to_string(ahead) + " ahead" +
                                   (in_file ? ", in a file" : "");
                EXPECT_EQ(assembled.error_number, 0) << what;
                EXPECT_EQ(assembled.size, expected.size()) << what;
                EXPECT_EQ(output.bytes(), expected) << what;
                // Without a frozen stream, all the codes come from the list.
                Output whole(in_file);
                Codes list(codes.begin(), codes.end() - 1);
                assemble_stream(whole.sink(), width, list, nullptr, codes.back());
                EXPECT_EQ(whole.bytes(), expected) << what;
            }
        }
    }
}

// Memory whose writes fail while `failing` is set, as a full disk would.
struct FailingSink : VectorSink {
    bool failing = false;
    bool write_at(std::uint64_t position, const std::uint8_t* data, std::size_t count) override {
        return !failing && VectorSink::write_at(position, data, count);
    }
    int error() const override { return failing ? ENOSPC : 0; }
};

// A write that fails while packing ahead fails the stream, even when the
// writes after it succeed: the output lacks those bytes.
TEST(StreamAssembly, AFailedWriteOfCodesPackedAheadFailsTheStream) {
    Codes codes(100, 5);
    FailingSink output;
    FrozenStream frozen;
    open_frozen_stream(frozen, output);
    begin_frozen_stream(frozen, 13, 60, codes.data());
    output.failing = true;
    pack_shared_ahead(frozen, 16);
    output.failing = false;
    EXPECT_FALSE(shared_left_to_pack(frozen));
    for (std::size_t i = 60; i + 1 < codes.size(); ++i)
        put_frozen_code(frozen, codes[i]);
    EXPECT_EQ(frozen_stream_error(frozen), ENOSPC);
    EXPECT_EQ(assemble_stream(output, 13, codes, &frozen, codes.back()).error_number, ENOSPC);
}

} // namespace
} // namespace tarnwel::test
