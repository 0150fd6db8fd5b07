// Compression at a width given in advance, with its codes coming out as
// the input goes in: the parse with a dictionary that grows until the
// width's codes run out and then stays as it is, writing each code as its
// string ends. The stream is compress's at that width (compressor.h), which
// runs the same parse as the unbounded one until the width overflows and as
// the frozen one after it; here one parse does both, as the input comes.
//
// Its codes go into a buffer of its own that holds those of a whole block
// and the stream's end, so that it never waits on whoever takes them: the
// caller hands over a block, takes every byte the block made, and only then
// hands over the next.
#pragma once

#include <cstdint>
#include <vector>

#include "code_stream.h"
#include "dictionary.h"
#include "parse_step.h"

namespace tarnwel {

struct WidthEncoder {
    int width = 0;
    Dictionary dictionary;
    Cursor cursor;
    bool begun = false; // the input's first byte has come
    std::uint32_t free_code = first_free_code;
    // Below this code a new string only takes its place (see
    // quiet_codes_end); the width's end code at most, where the dictionary
    // is full and stays as it is.
    std::uint32_t quiet_until = 0;
    bool ended = false; // the stream's end is written
    // The codes' bytes not yet taken are [taken, used) of the writer's
    // buffer, which the writer never drains (see encoder_buffer_size).
    CodeWriter writer;
    // The writer's sink: with its buffer sized for a block's codes, the
    // writer never hands it a byte.
    RefusingSink no_sink;
    std::size_t taken = 0;
};

// The most bytes of stream one block of io_block_size bytes and the end of
// the stream make: a code for each byte at most and two codes more, at the
// widest width, with the bits held between codes and the four bytes
// put_code stores at once.
std::size_t encoder_buffer_size();

// Readies the encoder at width (11 to 25), with its dictionary and its
// buffer. False when memory runs out.
bool start_width_encoder(WidthEncoder& encoder, int width);

// Parses the next size bytes of the input, at most io_block_size of them,
// with parse_slack readable bytes after them; their codes go to the
// buffer, which must have been taken whole first. False when memory ran
// out (for the table): the encoder is then of no more use.
bool encode_block(WidthEncoder& encoder, const std::uint8_t* data, std::size_t size);

// Writes the stream's end: the open string's code and the end code, or an
// empty input's two end codes.
void end_encoding(WidthEncoder& encoder);

// The codes' bytes written and not yet taken.
inline std::size_t encoded_left(const WidthEncoder& encoder) {
    return encoder.writer.bytes.used - encoder.taken;
}
inline const std::uint8_t* encoded_bytes(const WidthEncoder& encoder) {
    return encoder.writer.bytes.buffer.data() + encoder.taken;
}

// Marks count more of them taken; once all are, the buffer starts afresh.
void take_encoded(WidthEncoder& encoder, std::size_t count);

} // namespace tarnwel
