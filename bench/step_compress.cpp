// The compressor's step call (include/tarnwel.h) over a file, as a program
// that streams would drive it: the input read in 64 KiB pieces, each handed
// to a step, and whatever the steps write into a 64 KiB output buffer
// written out. For measuring what the steps hold, with /usr/bin/time -v:
// at a given width, the dictionary and the fixed buffers whatever the
// input's size; with the search, the stream so far besides.
//
// Build: cmake --build build --target step_compress
// Run:   build/bench/step_compress WIDTH INPUT OUTPUT
//        build/bench/step_compress --search CAP INPUT OUTPUT
// Prints the stream's width and size.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "tarnwel.h"

namespace {

constexpr std::size_t piece = 1 << 16;

int fail(const char* what) {
    std::fprintf(stderr, "step_compress: %s\n", what);
    return 1;
}

} // namespace

int main(int argc, char** argv) {
    bool searching = argc == 5 && std::strcmp(argv[1], "--search") == 0;
    if (argc != (searching ? 5 : 4))
        return fail("usage: step_compress [--search CAP | WIDTH] INPUT OUTPUT");
    int width = std::atoi(argv[searching ? 2 : 1]);
    std::FILE* input = std::fopen(argv[searching ? 3 : 2], "rb");
    std::FILE* output = std::fopen(argv[searching ? 4 : 3], "wb");
    if (input == nullptr || output == nullptr) return fail("cannot open the files");
    tarnwel_compressor* compressor = nullptr;
    tarnwel_status status = searching ? tarnwel_compressor_create(width, &compressor)
                                      : tarnwel_compressor_create_width(width, &compressor);
    if (status != TARNWEL_OK) return fail(tarnwel_status_name(status));
    std::vector<unsigned char> in_bytes(piece);
    std::vector<unsigned char> out_bytes(piece);
    unsigned long long written = 0;
    int ends = 0;
    int done = 0;
    while (done == 0) {
        tarnwel_in_buffer in{in_bytes.data(), 0, 0};
        if (ends == 0) {
            in.size = std::fread(in_bytes.data(), 1, piece, input);
            ends = in.size < piece ? 1 : 0;
        }
        // The piece is stepped through until it is all taken; the output
        // goes out whenever the buffer has some.
        do {
            tarnwel_out_buffer out{out_bytes.data(), out_bytes.size(), 0};
            status = tarnwel_compressor_step(compressor, &in, &out, ends, &done);
            if (status != TARNWEL_OK) return fail(tarnwel_status_name(status));
            if (std::fwrite(out_bytes.data(), 1, out.pos, output) != out.pos)
                return fail("cannot write the output");
            written += out.pos;
        } while (in.pos < in.size || (ends != 0 && done == 0));
    }
    std::printf("width %d, %llu bytes\n", tarnwel_compressor_width(compressor), written);
    tarnwel_compressor_free(compressor);
    return std::fclose(output) == 0 ? 0 : fail("cannot write the output");
}
