// A stream made in two parts. Compressing while the width is still being
// chosen, the codes up to the point where the chosen width's dictionary
// froze (the shared codes) are kept in memory, and only at the end is it
// known which of them the stream holds; the codes from that point on (the
// frozen stream) are written as they are made, straight into the output at
// the place where they will stay. Assembling packs the shared codes in
// front and joins the two parts in the byte that holds bits of both.
//
// The shared codes can be packed into place ahead of that, once a width has
// frozen, by a thread that has time (pack_shared_ahead): should the width
// be kept, assembling then packs only the rest.
#pragma once

#include <span>

#include "code_stream.h"
#include "widths.h"

namespace tarnwel {

struct FrozenStream {
    int width = 0;
    std::size_t shared = 0; // the codes in front of this stream
    // That first byte, kept so that the shared codes' last bits can be ORed
    // into it without reading the output back.
    bool first_known = false;
    std::uint8_t first_byte = 0;
    CodeWriter writer; // writer.bytes.start: where this stream's first byte goes
    // The shared codes, where they can be packed ahead; null otherwise.
    const std::uint32_t* shared_codes = nullptr;
    std::size_t packed = 0; // of them in the output already, from its start
    CodeWriter front;       // packs them ahead
};

// Ties the stream to the output and makes its buffer. Throws std::bad_alloc
// when memory runs out.
void open_frozen_stream(FrozenStream& stream, ByteSink& output);

// Begins a frozen stream at width after `shared` codes, dropping what an
// earlier one wrote. A failure is kept in stream.writer. Given the shared
// codes, which must then stay as they are until the stream is assembled,
// pack_shared_ahead may pack them.
void begin_frozen_stream(FrozenStream& stream, int width, std::size_t shared,
                         const std::uint32_t* shared_codes = nullptr);

// The error number of the stream's first failed write, packing ahead
// included, or 0. A failure is kept through later streams: the output is
// the same file.
inline int frozen_stream_error(const FrozenStream& stream) {
    int error_number = stream.writer.bytes.error_number;
    return error_number != 0 ? error_number : stream.front.bytes.error_number;
}

// Whether some of the shared codes are left to pack ahead.
inline bool shared_left_to_pack(const FrozenStream& stream) {
    return stream.shared_codes != nullptr && stream.packed + 8 <= stream.shared &&
           frozen_stream_error(stream) == 0;
}

// Packs up to `count` more of the shared codes into the output, where they
// will stay if this width is kept. Only whole groups of eight, which end on
// a byte: the last bits of the shared codes share a byte with the frozen
// stream and are left to the assembly. A failed write fails the stream.
void pack_shared_ahead(FrozenStream& stream, std::size_t count);

// Notes the stream's first byte once it is complete (it is still at the
// front of the writer's buffer then).
inline void note_first_byte(FrozenStream& stream) {
    if (!stream.first_known && stream.writer.bytes.written > 0) {
        stream.first_byte = stream.writer.bytes.buffer[0];
        stream.first_known = true;
    }
}

// Writes a code of the frozen stream.
inline void put_frozen_code(FrozenStream& stream, std::uint32_t code) {
    put_code(stream.writer, code);
    note_first_byte(stream);
}

struct AssembledStream {
    int error_number = 0; // of the first failed write, 0 if none
    std::uint64_t size = 0;
};

// Writes the whole stream at width into output from its start: the first
// `shared` of codes (those packed ahead are in place), then frozen's codes
// with last and the end code after them. Without a frozen stream (frozen null), all of codes, then
// last and the end code. The output is cut to the stream's size, since an abandoned stream of a
// narrower width may have run further.
AssembledStream assemble_stream(ByteSink& output, int width, std::span<const std::uint32_t> codes,
                                FrozenStream* frozen, std::uint32_t last);

// The empty input's stream at width.
AssembledStream write_empty_stream(ByteSink& output, int width);

} // namespace tarnwel
