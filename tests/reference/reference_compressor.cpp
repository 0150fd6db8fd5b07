#include "reference/reference_compressor.h"

#include "codec/code_stream.h"

namespace tarnwel::reference {

namespace {

CodecResult finish(const ByteReader& reader, CodeWriter& writer) {
    CodecResult result;
    result.bytes_in = reader.consumed;
    result.bytes_out = writer.bytes.written;
    if (reader.error_number != 0) {
        result.status = CodecStatus::read_failed;
        result.error_number = reader.error_number;
    } else if (!flush(writer.bytes)) {
        result.status = CodecStatus::write_failed;
        result.error_number = writer.bytes.error_number;
    }
    return result;
}

} // namespace

CodecResult compress_stream(Dictionary& dictionary, std::FILE* input, std::FILE* output,
                            ProgressHook progress) {
    clear_dictionary(dictionary);
    ByteReader reader = make_reader(input, progress);
    CodeWriter writer = make_code_writer(output, dictionary.bits);

    // An empty input leaves this at -1, which put_code turns into an all-ones code.
    std::int32_t current = read_byte(reader);
    if (current >= 0) {
        // Block by block, so that a failed write stops the pass within one block.
        while (writer.bytes.error_number == 0 && (reader.position < reader.end || refill(reader))) {
            reader.consumed += reader.end - reader.position;
            for (; reader.position < reader.end; ++reader.position) {
                std::int32_t byte = reader.buffer[reader.position];
                std::int32_t slot = probe_slot(dictionary, current, byte);
                if (dictionary.code_table[slot] != empty_slot) {
                    current = dictionary.code_table[slot];
                    continue;
                }
                add_string(dictionary, slot, current, byte);
                put_code(writer, current);
                current = byte;
            }
        }
    }
    if (writer.bytes.error_number == 0 && reader.error_number == 0) {
        put_code(writer, current);
        put_code(writer, static_cast<std::int32_t>(end_code(dictionary.bits)));
    }
    return finish(reader, writer);
}

} // namespace tarnwel::reference
