// Where the codec's bytes come from and go to. The codec does no I/O of its
// own: the caller hands it a source and a sink, and owns every decision
// about files (which to open, a temporary file for an output that cannot
// seek, what to remove when a run fails). A caller with bytes in memory
// uses the ones in memory_streams.h.
//
// Failures are values: a source or a sink keeps the error number of its
// first failure, and the codec passes it on in its result.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

namespace tarnwel {

class ByteSource {
public:
    virtual ~ByteSource() = default;
    // Fills buffer with up to capacity bytes and returns how many; 0 at the
    // end of the input or on a failure.
    virtual std::size_t read(std::uint8_t* buffer, std::size_t capacity) = 0;
    // The error number of the failure that ended the input, or 0.
    virtual int error() const = 0;
    // How many bytes are left to read, where the source knows ahead (a
    // file); the compressor plans its table from it.
    virtual std::optional<std::uint64_t> size() const { return std::nullopt; }
};

// An output that takes bytes at any position, as a file that can seek does.
// The expander writes only from front to back, each write where the last
// ended, so any output will do for it; the compressor writes the stream of
// a width that may still be abandoned, and goes back for the front of the
// stream at the end, so it needs one that can seek (a caller whose output
// cannot stages the stream and copies it out). A sink is used by one
// thread at a time.
class ByteSink {
public:
    virtual ~ByteSink() = default;
    // Writes count bytes at position. False on a failure.
    virtual bool write_at(std::uint64_t position, const std::uint8_t* data, std::size_t count) = 0;
    // Cuts the output to size bytes. False on a failure.
    virtual bool truncate(std::uint64_t size) = 0;
    // Hands on whatever the sink itself buffers. False on a failure.
    virtual bool flush() = 0;
    // The error number of the first failure, or 0.
    virtual int error() const = 0;
};

// A sink for a writer whose bytes never reach it (they are taken from its
// buffer instead): a write that did reach it fails, so a fault in that
// rule shows as a failed stream rather than as bytes gone missing.
class RefusingSink : public ByteSink {
public:
    bool write_at(std::uint64_t, const std::uint8_t*, std::size_t) override { return false; }
    bool truncate(std::uint64_t) override { return false; }
    bool flush() override { return true; }
    int error() const override { return -1; }
};

} // namespace tarnwel
