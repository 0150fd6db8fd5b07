// Expands a stream through tarnwel_expander_step the way a caller with a
// socket or a pipe would: the stream read in 64 KiB pieces, the output
// written from one 64 KiB buffer, nothing else held. For timing the steps
// beside `tarnwel d` on the same stream, and for their peak memory under
// /usr/bin/time -v, which should be the expander's tables and window for
// the width and no more, however long the stream.
//
// Build: cmake --build build --target step_expand
// Run:   build/bench/step_expand WIDTH STREAM OUTPUT
// It uses the C interface alone, as such a caller's program would.
#include <cstdio>
#include <cstdlib>

#include "tarnwel.h"

namespace {

constexpr size_t piece = 64 << 10;
unsigned char input[piece];
unsigned char output[piece];

int fail(const char* what) {
    std::fprintf(stderr, "step_expand: %s\n", what);
    return 1;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 4) return fail("usage: step_expand WIDTH STREAM OUTPUT");
    FILE* from = std::fopen(argv[2], "rb");
    FILE* to = std::fopen(argv[3], "wb");
    if (from == nullptr || to == nullptr) return fail("cannot open the files");
    tarnwel_expander* expander = nullptr;
    if (tarnwel_expander_create(std::atoi(argv[1]), &expander) != TARNWEL_OK)
        return fail("no expander at that width");
    tarnwel_in_buffer in = {input, 0, 0};
    int input_ends = 0;
    int done = 0;
    unsigned long long bytes_in = 0, bytes_out = 0;
    while (!done) {
        if (in.pos == in.size && !input_ends) {
            in.size = std::fread(input, 1, piece, from);
            in.pos = 0;
            input_ends = in.size < piece;
            bytes_in += in.size;
        }
        tarnwel_out_buffer out = {output, piece, 0};
        tarnwel_status status = tarnwel_expander_step(expander, &in, &out, input_ends, &done);
        if (out.pos != 0 && std::fwrite(output, 1, out.pos, to) != out.pos)
            return fail("cannot write the output");
        bytes_out += out.pos;
        if (status != TARNWEL_OK) return fail(tarnwel_status_name(status));
    }
    tarnwel_expander_free(expander);
    if (std::fclose(to) != 0) return fail("cannot write the output");
    std::fclose(from);
    std::printf("%llu bytes in, %llu bytes out\n", bytes_in, bytes_out);
    return 0;
}
