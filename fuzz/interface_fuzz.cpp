// The C interface fed and drained in arbitrary chunks, one byte at a time
// included: the stream equals the one-shot call's and the codec's own (the
// command's), the width scan finds its width, and expanding it, in chunks
// too, gives the input back. The compressor's steps, with input and output
// pieces of arbitrary sizes, give the same stream with the search, and the
// codec's stream at a given width without.
// The first byte picks the cap (12 + byte % 14) and the given width (11 +
// byte % 15), the second the chunks: 0 for one byte at a time, else sizes
// from 1 to that byte, varying.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "codec/compressor.h"
#include "codec/memory_streams.h"
#include "tarnwel.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// Chunk sizes from a small generator, so that every size up to the
// largest turns up, not one size throughout.
struct Chunks {
    unsigned largest;
    std::uint32_t state;
    std::size_t next() {
        if (largest == 0) return 1;
        state = state * 1103515245u + 12345u;
        return 1 + (state >> 16) % largest;
    }
};

void check(bool holds) {
    if (!holds) std::abort();
}

template <class Object, class Feed, class Finish, class Take>
Bytes run(Object* object, Feed feed, Finish finish, Take take, const Bytes& input, Chunks chunks,
          tarnwel_status expected) {
    for (std::size_t at = 0; at < input.size();) {
        std::size_t count = std::min(chunks.next(), input.size() - at);
        check(feed(object, input.data() + at, count) == TARNWEL_OK);
        at += count;
    }
    check(finish(object) == expected);
    Bytes out;
    std::uint8_t buffer[256];
    for (;;) {
        std::size_t taken = 0;
        check(take(object, buffer, std::min<std::size_t>(chunks.next(), sizeof buffer), &taken) ==
              TARNWEL_OK);
        if (taken == 0) return out;
        out.insert(out.end(), buffer, buffer + taken);
    }
}

// Steps the compressor through input, in pieces and into output buffers of
// the chunks' sizes, until it is done.
Bytes step(tarnwel_compressor* compressor, const Bytes& input, Chunks chunks) {
    Bytes stream;
    std::uint8_t buffer[256];
    std::size_t at = 0;
    int done = 0;
    while (done == 0) {
        std::size_t piece = std::min(chunks.next(), input.size() - at);
        tarnwel_in_buffer in{input.data() + at, piece, 0};
        tarnwel_out_buffer out{buffer, std::min<std::size_t>(chunks.next(), sizeof buffer), 0};
        check(tarnwel_compressor_step(compressor, &in, &out, at + piece == input.size(), &done) ==
              TARNWEL_OK);
        check(in.pos <= piece && out.pos <= out.size);
        check(in.pos != 0 || out.pos != 0 || done != 0); // every step gets on
        stream.insert(stream.end(), buffer, buffer + out.pos);
        at += in.pos;
    }
    // Done stays done, and more input is refused.
    tarnwel_in_buffer none{nullptr, 0, 0};
    tarnwel_out_buffer out{buffer, sizeof buffer, 0};
    check(tarnwel_compressor_step(compressor, &none, &out, 1, &done) == TARNWEL_OK && done == 1 &&
          out.pos == 0);
    tarnwel_in_buffer more{buffer, 1, 0};
    check(tarnwel_compressor_step(compressor, &more, &out, 1, &done) == TARNWEL_BAD_SEQUENCE);
    return stream;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const int cap = 12 + data[0] % 14;
    const Chunks chunks{data[1], data[1]};
    const Bytes input(data + 2, data + size);

    tarnwel_compressor* compressor = nullptr;
    check(tarnwel_compressor_create(cap, &compressor) == TARNWEL_OK);
    Bytes stream = run(compressor, tarnwel_compressor_feed, tarnwel_compressor_finish,
                       tarnwel_compressor_take, input, chunks, TARNWEL_OK);
    const int width = tarnwel_compressor_width(compressor);
    tarnwel_compressor_free(compressor);

    // The codec itself, as the command runs it.
    tarnwel::SpanSource source(input.data(), input.size());
    tarnwel::VectorSink direct;
    tarnwel::CompressOptions options;
    options.cap = cap;
    tarnwel::CompressResult choice = tarnwel::compress(source, direct, options);
    check(choice.result.status == tarnwel::CodecStatus::ok);
    check(stream == direct.bytes && width == choice.width);

    // The steps, with the search and at a given width.
    check(tarnwel_compressor_create(cap, &compressor) == TARNWEL_OK);
    check(step(compressor, input, chunks) == stream &&
          tarnwel_compressor_width(compressor) == width);
    tarnwel_compressor_free(compressor);
    const int given = 11 + data[0] % 15;
    check(tarnwel_compressor_create_width(given, &compressor) == TARNWEL_OK);
    Bytes at_given = step(compressor, input, chunks);
    tarnwel_compressor_free(compressor);
    tarnwel::SpanSource again(input.data(), input.size());
    tarnwel::VectorSink given_sink;
    options.width = given;
    check(tarnwel::compress(again, given_sink, options).result.status == tarnwel::CodecStatus::ok);
    check(at_given == given_sink.bytes);

    // The one-shot call.
    Bytes one_shot(tarnwel_compress_bound(input.size()));
    std::size_t one_shot_size = 0;
    int one_shot_width = 0;
    check(tarnwel_compress(input.data(), input.size(), one_shot.data(), one_shot.size(), cap,
                           &one_shot_size, &one_shot_width) == TARNWEL_OK);
    one_shot.resize(one_shot_size);
    check(one_shot == stream && one_shot_width == width);

    // The scan finds the stream's width among those it reads at, and never
    // fails on the input's own bytes taken as a stream.
    unsigned widths = 0;
    check(tarnwel_scan_widths(stream.data(), stream.size(), &widths) == TARNWEL_OK);
    check((widths >> width & 1u) != 0);
    check(tarnwel_scan_widths(input.data(), input.size(), &widths) == TARNWEL_OK);

    tarnwel_expander* expander = nullptr;
    check(tarnwel_expander_create(width, &expander) == TARNWEL_OK);
    Bytes back = run(expander, tarnwel_expander_feed, tarnwel_expander_finish,
                     tarnwel_expander_take, stream, chunks, TARNWEL_OK);
    tarnwel_expander_free(expander);
    check(back == input);
    return 0;
}
