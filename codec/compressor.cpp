#include "codec/compressor.h"

#include "codec/code_stream.h"
#include "codec/parse_step.h"

namespace tarnwel {

namespace {

CodecResult finish(const ByteReader& reader, CodeWriter& writer, bool out_of_memory) {
    CodecResult result = pass_result(reader, writer.bytes);
    if (out_of_memory) result.status = CodecStatus::out_of_memory;
    return result;
}

} // namespace

CodecResult compress_stream(Dictionary& dictionary, int bits, std::FILE* input, std::FILE* output,
                            ProgressHook progress) {
    ByteReader reader = make_reader(input, progress);
    CodeWriter writer = make_code_writer(output, bits);
    const std::uint32_t last = last_code(bits);
    std::uint32_t free_code = first_free_code;

    const std::uint8_t* next;
    const std::uint8_t* end;
    if (!take_block(reader, next, end)) {
        // An empty input: -1 as the current code is an all-ones code.
        if (reader.error_number == 0) {
            put_code(writer, -1);
            put_code(writer, static_cast<std::int32_t>(end_code(bits)));
        }
        return finish(reader, writer, false);
    }
    Cursor cursor;
    start_string(cursor, dictionary, next++, end);
    // Block by block, so that a failed write stops the pass within one block.
    for (;;) {
        for (; next < end; ++next) {
            StringEnd miss;
            if (extend_string(cursor, dictionary, no_code_limit, next, end, miss)) continue;
            if (free_code <= last) {
                if (!add_string(dictionary, miss.place, cursor.code, *next, miss.hash, free_code))
                    return finish(reader, writer, true);
                ++free_code;
            }
            put_code(writer, static_cast<std::int32_t>(cursor.code));
            start_string(cursor, dictionary, next, end);
        }
        if (writer.bytes.error_number != 0 || !take_block(reader, next, end)) break;
        cursor.ahead = nullptr; // it pointed into the block just used up
    }
    if (writer.bytes.error_number == 0 && reader.error_number == 0) {
        put_code(writer, static_cast<std::int32_t>(cursor.code));
        put_code(writer, static_cast<std::int32_t>(end_code(bits)));
    }
    return finish(reader, writer, false);
}

} // namespace tarnwel
