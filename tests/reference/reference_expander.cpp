#include "reference_expander.h"

#include "code_stream.h"
#include "stream_ends.h"
#include "widths.h"

namespace tarnwel::reference {

bool allocate_expander(ExpanderTables& tables, int width) {
    std::size_t codes = std::size_t{1} << width;
    if (!allocate_zeroed(tables.prefix_table, codes) ||
        !allocate_zeroed(tables.byte_table, codes) ||
        !allocate_zeroed(tables.unwind_stack, codes - first_free_code)) {
        tables = ExpanderTables{};
        return false;
    }
    tables.width = width;
    return true;
}

std::int64_t unwind_code(ExpanderTables& tables, std::size_t position, std::uint32_t code) {
    std::uint32_t steps = 0;
    const std::uint32_t last = last_code(tables.width);
    while (code > 255) {
        if (position >= tables.unwind_stack.size || steps >= last) return -1;
        tables.unwind_stack[position++] = tables.byte_table[code];
        code = static_cast<std::uint32_t>(tables.prefix_table[code]);
        ++steps;
    }
    if (position >= tables.unwind_stack.size) return -1;
    tables.unwind_stack[position] = static_cast<std::uint8_t>(code);
    return static_cast<std::int64_t>(position);
}

namespace {

CodecResult finish(CodeReader& reader, ByteWriter& writer, CodecStatus status) {
    CodecResult result;
    result.status = status;
    result.bytes_in = reader.bytes.consumed;
    result.bytes_out = writer.written;
    // Whatever was expanded before a corrupt code stays in the output.
    bool flushed = flush(writer);
    if (reader.bytes.error_number != 0) {
        result.status = CodecStatus::read_failed;
        result.error_number = reader.bytes.error_number;
    } else if (!flushed) {
        result.status = CodecStatus::write_failed;
        result.error_number = writer.error_number;
    }
    return result;
}

// The next code, when the stream holds it: false for a code that reaches
// past the end of the input, unless it is the end code lacking no more bits
// than the writer leaves out; cut says whether the stream was cut short
// there, or the source failed.
bool next_code(CodeReader& reader, std::uint64_t& codes_read, std::uint32_t& code, bool& cut) {
    code = get_code(reader);
    const std::uint64_t missing = bits_past_input(reader, ++codes_read);
    const bool failed = reader.bytes.error_number != 0;
    const bool held = failed ? missing == 0 : whole_as_written(code, reader.width, missing);
    cut = !held && !failed;
    return held;
}

CodecStatus cut_status(bool cut) {
    return cut ? CodecStatus::corrupt_stream : CodecStatus::ok;
}

} // namespace

CodecResult expand_stream(ExpanderTables& tables, ByteSource& input, ByteSink& output) {
    CodeReader reader = make_code_reader(input, tables.width);
    ByteWriter writer = make_writer(output);
    const std::uint32_t end = end_code(tables.width);
    const std::uint32_t last = last_code(tables.width);
    std::uint32_t free_code = first_free_code;

    std::uint64_t codes_read = 0;
    bool cut = false;
    std::uint32_t previous = 0;
    if (!next_code(reader, codes_read, previous, cut))
        return finish(reader, writer, cut_status(cut));
    if (previous == end) return finish(reader, writer, CodecStatus::ok);
    if (previous > 255) return finish(reader, writer, CodecStatus::corrupt_stream);
    std::uint8_t previous_first = static_cast<std::uint8_t>(previous);
    write_byte(writer, previous_first);

    for (;;) {
        std::uint32_t code = 0;
        if (!next_code(reader, codes_read, code, cut))
            return finish(reader, writer, cut_status(cut));
        if (code == end) break;
        if (code > free_code) return finish(reader, writer, CodecStatus::corrupt_stream);
        std::int64_t top;
        if (code == free_code) {
            // The string being defined by this very code: the previous
            // string followed by its own first byte.
            tables.unwind_stack[0] = previous_first;
            top = unwind_code(tables, 1, previous);
        } else {
            top = unwind_code(tables, 0, code);
        }
        if (top < 0) return finish(reader, writer, CodecStatus::corrupt_stream);
        std::uint8_t first = tables.unwind_stack[static_cast<std::size_t>(top)];
        for (std::int64_t i = top; i >= 0; --i)
            write_byte(writer, tables.unwind_stack[static_cast<std::size_t>(i)]);
        if (writer.error_number != 0) break;
        if (free_code <= last) {
            tables.prefix_table[free_code] = static_cast<std::int32_t>(previous);
            tables.byte_table[free_code] = first;
            ++free_code;
        }
        previous = code;
        previous_first = first;
    }
    return finish(reader, writer, CodecStatus::ok);
}

} // namespace tarnwel::reference
