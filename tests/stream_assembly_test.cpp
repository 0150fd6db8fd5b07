// Putting a stream together from the shared codes and a frozen stream.
#include <gtest/gtest.h>

#include <random>

#include "codec/memory_streams.h"
#include "codec/stream_assembly.h"
#include "driver/file_io.h"
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
// stream at another width, and with the shared codes ending anywhere in a
// byte.
TEST(StreamAssembly, SharedCodesAndFrozenStreamJoinAsOneStream) {
    std::mt19937 generator(3);
    for (int bits = min_bits; bits <= max_bits; ++bits) {
        for (std::size_t shared : {0, 1, 3, 5, 8, 13}) {
            for (bool in_file : {true, false}) {
                Codes codes(shared + 40);
                for (std::uint32_t& code : codes)
                    code = generator() % end_code(bits);
                Output output(in_file);
                FrozenStream frozen;
                open_frozen_stream(frozen, output.sink());
                // A stream of a narrower width that ran further, then was dropped.
                begin_frozen_stream(frozen, bits - 1, 0);
                for (int i = 0; i < 60000; ++i) // past one buffer: some reach the file
                    put_frozen_code(frozen, 1);
                begin_frozen_stream(frozen, bits, shared);
                for (std::size_t i = shared; i + 1 < codes.size(); ++i)
                    put_frozen_code(frozen, codes[i]);
                AssembledStream assembled =
                    assemble_stream(output.sink(), bits, codes, &frozen, codes.back());
                Codes all = codes;
                all.push_back(end_code(bits));
                Bytes expected = reference_pack(all, bits);
                std::string what = "BITS " + std::to_string(bits) + ", " + std::to_string(shared) +
                                   " shared" + (in_file ? ", in a file" : "");
                EXPECT_EQ(assembled.error_number, 0) << what;
                EXPECT_EQ(assembled.size, expected.size()) << what;
                EXPECT_EQ(output.bytes(), expected) << what;
                // Without a frozen stream, all the codes come from the list.
                Output whole(in_file);
                Codes list(codes.begin(), codes.end() - 1);
                assemble_stream(whole.sink(), bits, list, nullptr, codes.back());
                EXPECT_EQ(whole.bytes(), expected) << what;
            }
        }
    }
}

} // namespace
} // namespace tarnwel::test
