// Block-buffered byte input and output over stdio streams.
//
// The passes touch one byte at a time, so the per-byte calls are inline and
// only a buffer refill or flush goes through stdio. Failures are sticky: the
// first errno is kept and later calls do nothing, so a pass can run its loop
// without checks and look at the error once per block or at the end.
#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

#include "codec/codec_result.h"

namespace tarnwel {

inline constexpr std::size_t io_block_size = 1 << 16;

// Called after each block is read with the bytes consumed before it, so a
// caller can show progress; the codec itself never prints.
struct ProgressHook {
    void (*report)(std::uint64_t bytes_done, void* context) = nullptr;
    void* context = nullptr;
};

struct ByteReader {
    std::FILE* file = nullptr;
    std::vector<std::uint8_t> buffer;
    std::size_t position = 0; // next unread byte in buffer
    std::size_t end = 0;      // bytes of buffer that hold data
    std::uint64_t consumed = 0;
    int error_number = 0; // errno of the first failed read, 0 if none
    ProgressHook progress;
};

struct ByteWriter {
    std::FILE* file = nullptr;
    std::vector<std::uint8_t> buffer;
    std::size_t used = 0;
    std::uint64_t written = 0; // bytes accepted, including those still buffered
    int error_number = 0;      // errno of the first failed write, 0 if none
};

ByteReader make_reader(std::FILE* file, ProgressHook progress = {});
// A writer with no buffer of its own suits a caller that writes only spans.
ByteWriter make_writer(std::FILE* file, std::size_t buffer_size = io_block_size);

// Reads the next block into the buffer. False at end of input or on error.
bool refill(ByteReader& reader);

// Hands the buffered bytes to stdio and flushes the stream. False on error.
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
