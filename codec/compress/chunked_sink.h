// A sink in memory that keeps its bytes in chunks of a fixed size rather
// than one array: it grows a chunk at a time, with no copy of what it holds
// and no spare capacity beyond its last chunk, so a stream kept whole
// while it is written takes little more than its own size. For the
// compressor in steps, which keeps the stream it writes until the input
// ends (compressor_steps.h).
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "byte_streams.h"

namespace tarnwel {

class ChunkedSink : public ByteSink {
public:
    static constexpr std::size_t chunk_size = std::size_t{1} << 20;
    // A write past the end, or a cut to a larger size, fills the gap with
    // zeros, as a file would.
    bool write_at(std::uint64_t position, const std::uint8_t* data, std::size_t count) override;
    bool truncate(std::uint64_t size) override;
    bool flush() override { return true; }
    int error() const override { return 0; }

    std::uint64_t size() const { return size_; }
    // Copies count bytes from position, all within the size, into out.
    void read_at(std::uint64_t position, std::uint8_t* out, std::size_t count) const;

private:
    void hold(std::uint64_t size); // makes it at least size bytes long
    std::vector<std::unique_ptr<std::uint8_t[]>> chunks_;
    std::uint64_t size_ = 0;
};

} // namespace tarnwel
