// What a pass over a stream reports back to its caller. The codec never
// prints or exits: the driver turns a status into a message and an exit code.
#pragma once

#include <cstdint>

namespace tarnwel {

enum class CodecStatus {
    ok,
    read_failed,    // the source reported an error; error_number says which
    write_failed,   // the sink refused bytes; error_number says which
    corrupt_stream, // the code stream cannot have come from the compressor
    out_of_memory,  // the tables for the requested width could not be allocated
};

struct CodecResult {
    CodecStatus status = CodecStatus::ok;
    int error_number = 0;        // of a failed read or write, as the source or sink gave it
    std::uint64_t bytes_in = 0;  // bytes consumed from the input
    std::uint64_t bytes_out = 0; // bytes handed to the output
};

} // namespace tarnwel
