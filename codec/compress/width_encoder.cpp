#include "width_encoder.h"

#include <algorithm>

#include "byte_io.h"
#include "invariant.h"
#include "stream_ends.h"

namespace tarnwel {

namespace {

std::uint32_t quiet_until(const WidthEncoder& encoder) {
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(
        end_code(encoder.width), quiet_codes_end(encoder.dictionary, encoder.free_code)));
}

// A new string that needs more than its place: the table grows or the
// per-code records widen first. None is added once the width's codes have
// run out. How the parse goes on: it stops when memory ran out.
[[gnu::noinline]] AfterString add_string_loudly(WidthEncoder& encoder, const StringEnd& miss,
                                                const std::uint8_t* at) {
    if (encoder.free_code == end_code(encoder.width)) return AfterString::go_on;
    StringPlace place = find_string(encoder.dictionary, miss.code, *at, miss.hash);
    if (!add_string(encoder.dictionary, place, miss.code, *at, miss.hash, encoder.free_code++))
        return AfterString::stop;
    encoder.quiet_until = quiet_until(encoder);
    return AfterString::go_on_regrown;
}

} // namespace

std::size_t encoder_buffer_size() {
    std::size_t most_bits = (io_block_size + 2) * max_width + 7;
    return (most_bits + 7) / 8 + 4;
}

bool start_width_encoder(WidthEncoder& encoder, int width) {
    encoder.width = width;
    if (!init_dictionary(encoder.dictionary)) return false;
    encoder.writer = make_code_writer(encoder.no_sink, width);
    encoder.writer.bytes = make_writer(encoder.no_sink, encoder_buffer_size());
    encoder.quiet_until = quiet_until(encoder);
    return true;
}

bool encode_block(WidthEncoder& encoder, const std::uint8_t* data, std::size_t size) {
    TARNWEL_INVARIANT(encoded_left(encoder) == 0 && size <= io_block_size && !encoder.ended);
    if (size == 0) return true;
    const std::uint8_t* next = data;
    const std::uint8_t* end = data + size;
    if (!encoder.begun) {
        start_string(encoder.cursor, next++);
        encoder.begun = true;
    }
    // Once the width's codes have run out, the dictionary stays as it is and
    // a string's end only writes its code.
    if (encoder.free_code == end_code(encoder.width))
        return parse_block(encoder.cursor, encoder.dictionary, no_code_limit, next, end,
                           [&](const StringEnd& miss, const std::uint8_t*) {
                               put_code(encoder.writer, miss.code);
                               return AfterString::go_on;
                           }) == end;
    return parse_block(encoder.cursor, encoder.dictionary, no_code_limit, next, end,
                       [&](const StringEnd& miss, const std::uint8_t* at) {
                           put_code(encoder.writer, miss.code);
                           std::uint32_t code = encoder.free_code;
                           if (code >= encoder.quiet_until) [[unlikely]]
                               return add_string_loudly(encoder, miss, at);
                           encoder.free_code = code + 1;
                           add_string_quietly(encoder.dictionary, miss.place, miss.keyed, miss.hash,
                                              code);
                           return AfterString::go_on;
                       }) == end;
}

void end_encoding(WidthEncoder& encoder) {
    if (encoder.begun)
        put_stream_end(encoder.writer, encoder.cursor.code);
    else
        put_empty_stream(encoder.writer);
    // The bits of the end code that do not fill a byte stay behind: the
    // stream drops them (stream_ends.h).
    encoder.ended = true;
}

void take_encoded(WidthEncoder& encoder, std::size_t count) {
    encoder.taken += count;
    if (encoder.taken == encoder.writer.bytes.used) encoder.taken = encoder.writer.bytes.used = 0;
}

} // namespace tarnwel
