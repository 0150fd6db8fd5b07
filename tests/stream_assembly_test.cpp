// Putting a stream together from the shared codes and a frozen stream.
#include <gtest/gtest.h>

#include <random>

#include "codec/stream_assembly.h"
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

// Every way of assembling must give the codes packed one after the other:
// the frozen stream in the output or in a temporary file, after an
// abandoned longer stream at another width, and with the shared codes
// ending anywhere in a byte.
TEST(StreamAssembly, SharedCodesAndFrozenStreamJoinAsOneStream) {
    std::mt19937 generator(3);
    for (int bits = min_bits; bits <= max_bits; ++bits) {
        for (std::size_t shared : {0, 1, 3, 5, 8, 13}) {
            for (bool in_place : {true, false}) {
                Codes codes(shared + 40);
                for (std::uint32_t& code : codes)
                    code = generator() % end_code(bits);
                std::FILE* output = std::tmpfile();
                FrozenStream frozen;
                open_frozen_stream(frozen, in_place ? output : std::tmpfile(), in_place);
                // A stream of a narrower width that ran further, then was dropped.
                begin_frozen_stream(frozen, bits - 1, 0);
                for (int i = 0; i < 60000; ++i) // past one buffer: some reach the file
                    put_frozen_code(frozen, 1);
                begin_frozen_stream(frozen, bits, shared);
                for (std::size_t i = shared; i + 1 < codes.size(); ++i)
                    put_frozen_code(frozen, codes[i]);
                AssembledStream assembled =
                    assemble_stream(output, bits, codes, &frozen, codes.back());
                Codes all = codes;
                all.push_back(end_code(bits));
                Bytes expected = reference_pack(all, bits);
                std::string what = "BITS " + std::to_string(bits) + ", " + std::to_string(shared) +
                                   " shared" + (in_place ? ", in place" : "");
                EXPECT_EQ(assembled.error_number, 0) << what;
                EXPECT_EQ(assembled.size, expected.size()) << what;
                EXPECT_EQ(contents(output), expected) << what;
                // Without a frozen stream, all the codes come from the list.
                std::FILE* whole = std::tmpfile();
                Codes list(codes.begin(), codes.end() - 1);
                assemble_stream(whole, bits, list, nullptr, codes.back());
                EXPECT_EQ(contents(whole), expected) << what;
                std::fclose(whole);
                if (!in_place) std::fclose(frozen.file);
                std::fclose(output);
            }
        }
    }
}

} // namespace
} // namespace tarnwel::test
