#include "codec/compressor.h"

#include "codec/code_stream.h"

namespace tarnwel {

namespace {

CodecResult finish(const ByteReader& reader, CodeWriter& writer, bool out_of_memory) {
    CodecResult result;
    result.bytes_in = reader.consumed;
    result.bytes_out = writer.bytes.written;
    if (out_of_memory) {
        result.status = CodecStatus::out_of_memory;
    } else if (reader.error_number != 0) {
        result.status = CodecStatus::read_failed;
        result.error_number = reader.error_number;
    } else if (!flush(writer.bytes)) {
        result.status = CodecStatus::write_failed;
        result.error_number = writer.bytes.error_number;
    }
    return result;
}

} // namespace

CodecResult compress_stream(Dictionary& dictionary, int bits, std::FILE* input, std::FILE* output,
                            ProgressHook progress) {
    ByteReader reader = make_reader(input, progress);
    CodeWriter writer = make_code_writer(output, bits);
    const std::uint32_t last = last_code(bits);
    std::uint32_t free_code = first_free_code;

    // An empty input leaves this at -1, which put_code turns into an all-ones code.
    std::int32_t first = read_byte(reader);
    if (first < 0) {
        put_code(writer, first);
        put_code(writer, static_cast<std::int32_t>(end_code(bits)));
        return finish(reader, writer, false);
    }
    std::uint32_t current = static_cast<std::uint32_t>(first);
    // Block by block, so that a failed write stops the pass within one block.
    const std::uint8_t* next;
    const std::uint8_t* end;
    while (writer.bytes.error_number == 0 && take_block(reader, next, end)) {
        for (; next < end; ++next) {
            std::uint32_t byte = *next;
            StringPlace place = find_string(dictionary, current, byte);
            std::uint32_t code = code_at(place);
            // Entries from the search count only once this pass has reached them.
            if (code != absent && code < free_code) {
                current = code;
                continue;
            }
            if (free_code <= last) {
                if (code == absent && !add_string(dictionary, place, current, byte, free_code))
                    return finish(reader, writer, true);
                ++free_code;
            }
            put_code(writer, static_cast<std::int32_t>(current));
            current = byte;
        }
    }
    if (writer.bytes.error_number == 0 && reader.error_number == 0) {
        put_code(writer, static_cast<std::int32_t>(current));
        put_code(writer, static_cast<std::int32_t>(end_code(bits)));
    }
    return finish(reader, writer, false);
}

} // namespace tarnwel
