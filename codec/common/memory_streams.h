// A source over bytes in memory and a sink that keeps the output in memory:
// for a caller that has its input at hand and wants its output there.
#pragma once

#include <vector>

#include "byte_streams.h"

namespace tarnwel {

class SpanSource : public ByteSource {
public:
    SpanSource(const std::uint8_t* data, std::size_t size) : data_(data), left_(size) {}
    std::size_t read(std::uint8_t* buffer, std::size_t capacity) override;
    int error() const override { return 0; }
    std::optional<std::uint64_t> size() const override { return left_; }

private:
    const std::uint8_t* data_;
    std::size_t left_;
};

// Grows to hold every byte written; a write past the end fills the gap
// with zeros, as a file would.
class VectorSink : public ByteSink {
public:
    std::vector<std::uint8_t> bytes;
    bool write_at(std::uint64_t position, const std::uint8_t* data, std::size_t count) override;
    bool truncate(std::uint64_t size) override;
    bool flush() override { return true; }
    int error() const override { return 0; }
};

} // namespace tarnwel
