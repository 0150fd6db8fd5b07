#include "codec/byte_io.h"

#include <cerrno>

#include "platform/last_error.h"

namespace tarnwel {

ByteReader make_reader(std::FILE* file, ProgressHook progress) {
    ByteReader reader;
    reader.file = file;
    reader.progress = progress;
    reader.buffer.resize(io_block_size);
    return reader;
}

ByteWriter make_writer(std::FILE* file, std::size_t buffer_size) {
    ByteWriter writer;
    writer.file = file;
    writer.buffer.resize(buffer_size);
    return writer;
}

bool refill(ByteReader& reader) {
    reader.position = 0;
    reader.end = 0;
    if (reader.error_number != 0) return false;
    errno = 0;
    std::size_t got = std::fread(reader.buffer.data(), 1, reader.buffer.size(), reader.file);
    if (got == 0) {
        if (std::ferror(reader.file)) reader.error_number = last_error_or();
        return false;
    }
    reader.end = got;
    if (reader.progress.report != nullptr)
        reader.progress.report(reader.consumed, reader.progress.context);
    return true;
}

void drain_buffer(ByteWriter& writer) {
    if (writer.used > 0 && writer.error_number == 0) {
        errno = 0;
        if (std::fwrite(writer.buffer.data(), 1, writer.used, writer.file) != writer.used)
            writer.error_number = last_error_or();
    }
    writer.used = 0;
}

void write_span(ByteWriter& writer, const std::uint8_t* data, std::size_t count) {
    drain_buffer(writer);
    writer.written += count;
    if (count == 0 || writer.error_number != 0) return;
    errno = 0;
    if (std::fwrite(data, 1, count, writer.file) != count) writer.error_number = last_error_or();
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
    if (writer.error_number == 0) {
        errno = 0;
        if (std::fflush(writer.file) != 0) writer.error_number = last_error_or();
    }
    return writer.error_number == 0;
}

} // namespace tarnwel
