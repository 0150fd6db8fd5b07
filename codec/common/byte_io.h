// Block-buffered byte input and output over a source and a sink.
//
// The passes touch one byte at a time, so the per-byte calls are inline and
// only a buffer refill or drain goes to the source or the sink. Failures are
// sticky: the first error number is kept and later calls do nothing, so a
// pass can run its loop without checks and look at the error once per block
// or at the end.
#pragma once

#include <cstdint>
#include <vector>

#include "byte_streams.h"
#include "codec_result.h"

namespace tarnwel {

inline constexpr std::size_t io_block_size = 1 << 16;
// Bytes after the end of every block a reader hands out that a loop over
// the block may read (their values are whatever the buffer held).
inline constexpr std::size_t reader_slack = 64;

struct ByteReader {
    ByteSource* source = nullptr;
    std::vector<std::uint8_t> buffer; // io_block_size bytes to fill, then reader_slack
    std::size_t position = 0;         // next unread byte in buffer
    std::size_t end = 0;              // bytes of buffer that hold data
    std::uint64_t consumed = 0;
    int error_number = 0; // of the failure that ended the input, 0 if none
};

// The bytes written go to the sink from start on, in order: the buffer
// holds the last `used` of the `written` bytes, which belong at
// start + written - used.
struct ByteWriter {
    ByteSink* sink = nullptr;
    std::vector<std::uint8_t> buffer;
    std::size_t used = 0;
    std::uint64_t start = 0;   // where the first byte goes in the sink
    std::uint64_t written = 0; // bytes accepted, including those still buffered
    int error_number = 0;      // of the first failed write, 0 if none
};

ByteReader make_reader(ByteSource& source);
// A writer with no buffer of its own suits a caller that writes only spans.
ByteWriter make_writer(ByteSink& sink, std::size_t buffer_size = io_block_size);

// Reads the next block into the buffer. False at end of input or on error.
bool refill(ByteReader& reader);

// Hands the buffered bytes to the sink and flushes it. False on error.
bool flush(ByteWriter& writer);

// Returns the next byte, or -1 at end of input (or after a read error).
inline int read_byte(ByteReader& reader) {
    if (reader.position == reader.end && !refill(reader)) return -1;
    ++reader.consumed;
    return reader.buffer[reader.position++];
}

// Hands the loop the rest of the current block, or the next one, as counted
// as consumed. False at end of input or on error. For the passes that run
// their own loop over the bytes instead of calling read_byte.
inline bool take_block(ByteReader& reader, const std::uint8_t*& begin, const std::uint8_t*& end) {
    if (reader.position == reader.end && !refill(reader)) return false;
    begin = reader.buffer.data() + reader.position;
    end = reader.buffer.data() + reader.end;
    reader.consumed += reader.end - reader.position;
    reader.position = reader.end;
    return true;
}

void drain_buffer(ByteWriter& writer);

// What a pass that read with reader and wrote with writer reports: the
// sizes, and the first failure, with the writer flushed. A read error
// outranks a write error.
CodecResult pass_result(const ByteReader& reader, ByteWriter& writer);

// Writes count bytes straight from data, after what is buffered: for a
// caller that keeps its output in memory of its own.
void write_span(ByteWriter& writer, const std::uint8_t* data, std::size_t count);

inline void write_byte(ByteWriter& writer, std::uint8_t byte) {
    if (writer.used == writer.buffer.size()) drain_buffer(writer);
    writer.buffer[writer.used++] = byte;
    ++writer.written;
}

} // namespace tarnwel
