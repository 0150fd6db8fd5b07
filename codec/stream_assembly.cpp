#include "codec/stream_assembly.h"

#include <cerrno>

#include "platform/files.h"
#include "platform/last_error.h"

namespace tarnwel {

namespace {

// Copies the frozen stream of size bytes from the temporary file behind the
// shared codes; an abandoned wider stream may lie beyond it.
bool append_frozen(std::FILE* from, std::uint64_t size, CodeWriter& to, std::uint8_t partial) {
    if (std::fflush(from) != 0 || std::fseek(from, 0, SEEK_SET) != 0) return false;
    ByteReader reader = make_reader(from);
    for (std::uint64_t i = 0; i < size; ++i) {
        int byte = read_byte(reader);
        if (byte < 0) return false;
        write_byte(to.bytes, static_cast<std::uint8_t>(i == 0 ? byte | partial : byte));
    }
    return true;
}

// Closes the frozen stream: false, with the writer's failure, if it failed.
bool close_frozen(FrozenStream& frozen, std::uint32_t last) {
    put_frozen_code(frozen, last);
    put_frozen_code(frozen, end_code(frozen.bits));
    return flush(frozen.writer.bytes);
}

} // namespace

void open_frozen_stream(FrozenStream& stream, std::FILE* file, bool in_place) {
    stream.file = file;
    stream.in_place = in_place;
    stream.writer = make_code_writer(file, min_bits);
}

void begin_frozen_stream(FrozenStream& stream, int bits, std::size_t shared) {
    ByteWriter& bytes = stream.writer.bytes;
    bytes.used = 0; // an earlier stream is abandoned: its bytes are dropped
    bytes.written = 0;
    stream.bits = stream.writer.bits = bits;
    stream.shared = shared;
    std::uint64_t start_bit = std::uint64_t{shared} * static_cast<unsigned>(bits);
    stream.start_byte = start_bit / 8;
    stream.first_known = false;
    // The bits in front belong to the last shared code; they are ORed in when
    // the stream is assembled.
    stream.writer.write_buffer = 0;
    stream.writer.write_count = static_cast<int>(start_bit % 8);
    // In the output itself the stream goes where it will stay; a temporary
    // file holds it from its start.
    long offset = stream.in_place ? static_cast<long>(stream.start_byte) : 0;
    errno = 0;
    if (std::fseek(stream.file, offset, SEEK_SET) != 0 && bytes.error_number == 0)
        bytes.error_number = last_error_or();
}

AssembledStream assemble_stream(std::FILE* output, int bits,
                                const std::vector<std::uint32_t>& codes, FrozenStream* frozen,
                                std::uint32_t last) {
    AssembledStream assembled;
    if (frozen != nullptr && !close_frozen(*frozen, last)) {
        assembled.error_number = frozen->writer.bytes.error_number;
        return assembled;
    }
    errno = 0;
    if (std::fseek(output, 0, SEEK_SET) != 0 && frozen != nullptr && frozen->in_place) {
        assembled.error_number = last_error_or();
        return assembled;
    }
    CodeWriter writer = make_code_writer(output, bits);
    std::size_t shared = frozen != nullptr ? frozen->shared : codes.size();
    for (std::size_t i = 0; i < shared; ++i)
        put_code(writer, static_cast<std::int32_t>(codes[i]));
    bool copied = true;
    if (frozen == nullptr) {
        put_code(writer, static_cast<std::int32_t>(last));
        put_code(writer, static_cast<std::int32_t>(end_code(bits)));
        assembled.size = writer.bytes.written;
    } else {
        auto partial = static_cast<std::uint8_t>(writer.write_buffer >> 24);
        if (frozen->in_place) {
            // The frozen stream is already in place; its first byte still
            // lacks the shared codes' last bits.
            write_byte(writer.bytes, static_cast<std::uint8_t>(frozen->first_byte | partial));
            assembled.size = frozen->start_byte + frozen->writer.bytes.written;
        } else {
            copied = append_frozen(frozen->file, frozen->writer.bytes.written, writer, partial);
            assembled.size = writer.bytes.written;
        }
    }
    if (!flush(writer.bytes) || !copied) {
        assembled.error_number = writer.bytes.error_number != 0 ? writer.bytes.error_number : EIO;
        return assembled;
    }
    if (frozen != nullptr && frozen->in_place)
        assembled.error_number = truncate_file(output, assembled.size);
    return assembled;
}

} // namespace tarnwel
