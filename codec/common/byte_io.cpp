#include "byte_io.h"

namespace tarnwel {

namespace {

// Hands count bytes at data to the sink, where the writer's next bytes go.
void write_to_sink(ByteWriter& writer, const std::uint8_t* data, std::size_t count) {
    if (count == 0 || writer.error_number != 0) return;
    std::uint64_t position = writer.start + writer.written - writer.used - count;
    if (!writer.sink->write_at(position, data, count)) writer.error_number = writer.sink->error();
}

} // namespace

ByteReader make_reader(ByteSource& source) {
    ByteReader reader;
    reader.source = &source;
    reader.buffer.resize(io_block_size + reader_slack);
    return reader;
}

ByteWriter make_writer(ByteSink& sink, std::size_t buffer_size) {
    ByteWriter writer;
    writer.sink = &sink;
    writer.buffer.resize(buffer_size);
    return writer;
}

bool refill(ByteReader& reader) {
    reader.position = 0;
    reader.end = 0;
    if (reader.error_number != 0) return false;
    std::size_t got = reader.source->read(reader.buffer.data(), io_block_size);
    if (got == 0) {
        reader.error_number = reader.source->error();
        return false;
    }
    reader.end = got;
    return true;
}

void drain_buffer(ByteWriter& writer) {
    std::size_t count = writer.used;
    writer.used = 0;
    write_to_sink(writer, writer.buffer.data(), count);
}

void write_span(ByteWriter& writer, const std::uint8_t* data, std::size_t count) {
    drain_buffer(writer);
    writer.written += count;
    write_to_sink(writer, data, count);
}

CodecResult pass_result(const ByteReader& reader, ByteWriter& writer) {
    CodecResult result;
    result.bytes_in = reader.consumed;
    result.bytes_out = writer.written;
    if (reader.error_number != 0) {
        result.status = CodecStatus::read_failed;
        result.error_number = reader.error_number;
    } else if (!flush(writer)) {
        result.status = CodecStatus::write_failed;
        result.error_number = writer.error_number;
    }
    return result;
}

bool flush(ByteWriter& writer) {
    drain_buffer(writer);
    if (writer.error_number == 0 && !writer.sink->flush())
        writer.error_number = writer.sink->error();
    return writer.error_number == 0;
}

} // namespace tarnwel
