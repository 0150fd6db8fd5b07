#include "code_stream.h"

#include <algorithm>
#include <cstring>

namespace tarnwel {

namespace {

// The top bytes of value first, eight of them.
void store_big_endian(std::uint8_t* at, std::uint64_t value) {
    value = __builtin_bswap64(value);
    std::memcpy(at, &value, sizeof value);
}

} // namespace

CodeWriter make_code_writer(ByteSink& sink, int width) {
    CodeWriter writer;
    writer.width = width;
    writer.bytes = make_writer(sink);
    return writer;
}

CodeReader make_code_reader(ByteSource& source, int width) {
    CodeReader reader;
    reader.width = width;
    reader.bytes = make_reader(source);
    return reader;
}

void put_codes(CodeWriter& writer, const std::uint32_t* codes, std::size_t count) {
    ByteWriter& bytes = writer.bytes;
    const int width = writer.width;
    const std::uint32_t* const end = codes + count;
    while (codes != end) {
        // With fewer than 16 bytes of room, a code at a time, as the buffer
        // drains.
        std::size_t room = bytes.buffer.size() - bytes.used;
        if (room < 16) {
            put_code(writer, *codes++);
            continue;
        }
        // As many codes as leave the last wide store in the buffer: they
        // and the 7 bits held take at most room - 8 bytes.
        std::size_t fit =
            std::min<std::size_t>(end - codes, ((room - 8) * 8 - 7) / static_cast<unsigned>(width));
        std::uint8_t* const first = bytes.buffer.data() + bytes.used;
        std::uint8_t* at = first;
        // The pending bits at the top of 64: between codes, fewer than 32.
        std::uint64_t pending = std::uint64_t{writer.write_buffer} << 32;
        int held = writer.write_count;
        for (const std::uint32_t* last = codes + fit; codes != last; ++codes) {
            TARNWEL_INVARIANT(*codes <= end_code(width));
            pending |= std::uint64_t{*codes} << (64 - width - held);
            held += width;
            if (held >= 32) {
                store_big_endian(at, pending);
                at += 4;
                pending <<= 32;
                held -= 32;
            }
        }
        // The whole bytes held go too; the rest stays in the writer.
        store_big_endian(at, pending);
        auto whole = static_cast<unsigned>(held) >> 3;
        at += whole;
        writer.write_buffer = static_cast<std::uint32_t>((pending << (8 * whole)) >> 32);
        writer.write_count = held & 7;
        auto stored = static_cast<std::size_t>(at - first);
        bytes.used += stored;
        bytes.written += stored;
    }
}

} // namespace tarnwel
