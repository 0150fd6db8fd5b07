#include "stream_assembly.h"

#include <algorithm>

#include "stream_ends.h"

namespace tarnwel {

namespace {

// Closes the frozen stream: false if a write of it failed, packing ahead
// included.
bool close_frozen(FrozenStream& frozen, std::uint32_t last) {
    if (frozen_stream_error(frozen) != 0) return false;
    put_stream_end(frozen.writer, last);
    note_first_byte(frozen);
    return flush(frozen.writer.bytes);
}

// Flushes the front of the stream and cuts the output to size.
AssembledStream finish_output(ByteSink& output, CodeWriter& writer, std::uint64_t size) {
    AssembledStream assembled;
    assembled.size = size;
    if (!flush(writer.bytes))
        assembled.error_number = writer.bytes.error_number;
    else if (!output.truncate(size))
        assembled.error_number = output.error();
    return assembled;
}

} // namespace

void open_frozen_stream(FrozenStream& stream, ByteSink& output) {
    stream.writer = make_code_writer(output, min_width);
    stream.front = make_code_writer(output, min_width);
}

void begin_frozen_stream(FrozenStream& stream, int width, std::size_t shared,
                         const std::uint32_t* shared_codes) {
    stream.shared_codes = shared_codes;
    stream.packed = 0;
    // The front packs from the output's start, at this width.
    stream.front.width = width;
    stream.front.write_buffer = 0;
    stream.front.write_count = 0;
    stream.front.bytes.used = stream.front.bytes.written = 0;
    ByteWriter& bytes = stream.writer.bytes;
    bytes.used = 0; // an earlier stream is abandoned: its bytes are dropped
    bytes.written = 0;
    stream.width = stream.writer.width = width;
    stream.shared = shared;
    std::uint64_t start_bit = std::uint64_t{shared} * static_cast<unsigned>(width);
    bytes.start = start_bit / 8;
    stream.first_known = false;
    // The bits in front belong to the last shared code; they are ORed in when
    // the stream is assembled.
    stream.writer.write_buffer = 0;
    stream.writer.write_count = static_cast<int>(start_bit % 8);
}

void pack_shared_ahead(FrozenStream& stream, std::size_t count) {
    if (!shared_left_to_pack(stream)) return;
    CodeWriter& front = stream.front;
    std::size_t end = std::min(stream.shared / 8 * 8, stream.packed + count / 8 * 8);
    if (end > stream.packed)
        put_codes(front, stream.shared_codes + stream.packed, end - stream.packed);
    drain_buffer(front.bytes);
    stream.packed = end;
}

AssembledStream assemble_stream(ByteSink& output, int width, std::span<const std::uint32_t> codes,
                                FrozenStream* frozen, std::uint32_t last) {
    if (frozen != nullptr && !close_frozen(*frozen, last)) return {frozen_stream_error(*frozen), 0};
    CodeWriter writer = make_code_writer(output, width);
    std::size_t shared = frozen != nullptr ? frozen->shared : codes.size();
    // Packed ahead: whole bytes, the codes after them start on a byte.
    std::size_t packed = frozen != nullptr ? frozen->packed : 0;
    writer.bytes.start = std::uint64_t{packed} * static_cast<unsigned>(width) / 8;
    put_codes(writer, codes.data() + packed, shared - packed);
    if (frozen == nullptr) {
        put_stream_end(writer, last);
        return finish_output(output, writer, writer.bytes.written);
    }
    // The frozen stream is already in place; its first byte still lacks the
    // shared codes' last bits.
    auto partial = static_cast<std::uint8_t>(writer.write_buffer >> 24);
    write_byte(writer.bytes, static_cast<std::uint8_t>(frozen->first_byte | partial));
    const ByteWriter& frozen_bytes = frozen->writer.bytes;
    return finish_output(output, writer, frozen_bytes.start + frozen_bytes.written);
}

AssembledStream write_empty_stream(ByteSink& output, int width) {
    CodeWriter writer = make_code_writer(output, width);
    put_empty_stream(writer);
    return finish_output(output, writer, writer.bytes.written);
}

} // namespace tarnwel
