#include "reference_compressor.h"

#include "code_stream.h"

namespace tarnwel::reference {

CodecResult compress_stream(Dictionary& dictionary, ByteSource& input, ByteSink& output) {
    clear_dictionary(dictionary);
    ByteReader reader = make_reader(input);
    CodeWriter writer = make_code_writer(output, dictionary.width);

    // An empty input leaves this at -1, which stands for an all-ones code.
    std::int32_t current = read_byte(reader);
    if (current >= 0) {
        // Block by block, so that a failed write stops the pass within one block.
        const std::uint8_t* next;
        const std::uint8_t* end;
        while (writer.bytes.error_number == 0 && take_block(reader, next, end)) {
            for (; next < end; ++next) {
                std::int32_t byte = *next;
                std::int32_t slot = probe_slot(dictionary, current, byte);
                if (dictionary.code_table[slot] != empty_slot) {
                    current = dictionary.code_table[slot];
                    continue;
                }
                add_string(dictionary, slot, current, byte);
                put_code(writer, static_cast<std::uint32_t>(current));
                current = byte;
            }
        }
    }
    if (writer.bytes.error_number == 0 && reader.error_number == 0) {
        put_code(writer,
                 current < 0 ? end_code(dictionary.width) : static_cast<std::uint32_t>(current));
        put_code(writer, end_code(dictionary.width));
    }
    return pass_result(reader, writer.bytes);
}

} // namespace tarnwel::reference
