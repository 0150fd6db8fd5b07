// The C interface fed and drained in arbitrary chunks, one byte at a time
// included: the stream equals the one-shot call's and the codec's own (the
// command's), the width scan finds its width, and expanding it, in chunks
// too, gives the input back. The compressor's steps, with input and output
// pieces of arbitrary sizes, give the same stream with the search, and the
// codec's stream at a given width without. The expander's steps, with
// pieces of arbitrary sizes each way, give the one-shot call's bytes and
// status, for the stream and for the input itself read as a stream.
// The first byte picks the cap (12 + byte % 14) and the given width (11 +
// byte % 15), the second the chunks: 0 for one byte at a time, else sizes
// from 1 to that byte, varying.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "compressor.h"
#include "expander.h"
#include "memory_streams.h"
#include "tarnwel.h"
#include "widths.h"

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

struct Stepped {
    tarnwel_status status;
    Bytes bytes;
};

// Steps through stream with input pieces from in_chunks and output room
// from out_chunks. A step that moves nothing twice running, with input to
// take or none to come, is a fault.
Stepped step_through(const Bytes& stream, int width, Chunks in_chunks, Chunks out_chunks) {
    tarnwel_expander* expander = nullptr;
    check(tarnwel_expander_create(width, &expander) == TARNWEL_OK);
    Stepped got{TARNWEL_OK, {}};
    std::uint8_t buffer[256];
    std::size_t given = 0;
    tarnwel_in_buffer in{stream.data(), 0, 0};
    for (int stalls = 0;;) {
        if (in.pos == in.size && given < stream.size()) {
            given += std::min(in_chunks.next(), stream.size() - given);
            in.size = given;
        }
        const int ends = given == stream.size();
        tarnwel_out_buffer out{buffer, std::min(out_chunks.next(), sizeof buffer), 0};
        const std::size_t taken_before = in.pos;
        int done = 0;
        got.status = tarnwel_expander_step(expander, &in, &out, ends, &done);
        got.bytes.insert(got.bytes.end(), buffer, buffer + out.pos);
        if (got.status != TARNWEL_OK || done) break;
        const bool moved = out.pos != 0 || in.pos != taken_before;
        stalls = !moved && (ends || in.pos < in.size) ? stalls + 1 : 0;
        check(stalls < 2);
    }
    tarnwel_expander_free(expander);
    return got;
}

// What the one-shot call gives for any stream, with room for all of it:
// the codec's expansion it runs.
Stepped expand_whole(const Bytes& stream, int width) {
    tarnwel::ExpanderTables tables;
    check(tarnwel::allocate_expander(tables, width));
    tarnwel::SpanSource source(stream.data(), stream.size());
    tarnwel::VectorSink sink;
    tarnwel::CodecStatus status = tarnwel::expand_stream(tables, source, sink).status;
    check(status == tarnwel::CodecStatus::ok || status == tarnwel::CodecStatus::corrupt_stream);
    return {status == tarnwel::CodecStatus::ok ? TARNWEL_OK : TARNWEL_CORRUPT_STREAM, sink.bytes};
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

    // In steps, with output room varying apart from the input pieces.
    const Chunks out_chunks{static_cast<unsigned>(data[0]), data[0] + 7u * data[1]};
    Bytes expanded(input.size());
    std::size_t expanded_size = 0;
    check(tarnwel_expand(stream.data(), stream.size(), width, expanded.data(), expanded.size(),
                         &expanded_size) == TARNWEL_OK);
    Stepped stepped = step_through(stream, width, chunks, out_chunks);
    check(stepped.status == TARNWEL_OK && stepped.bytes == expanded && expanded == input);
    // The input taken as a stream at the width: corrupt or not, the same.
    const int any_width = tarnwel::min_width + data[1] % 15;
    Stepped whole = expand_whole(input, any_width);
    stepped = step_through(input, any_width, chunks, out_chunks);
    check(stepped.status == whole.status && stepped.bytes == whole.bytes);
    return 0;
}
