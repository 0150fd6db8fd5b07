#include "memory_streams.h"

#include <algorithm>
#include <cstring>

namespace tarnwel {

std::size_t SpanSource::read(std::uint8_t* buffer, std::size_t capacity) {
    std::size_t count = std::min(capacity, left_);
    if (count > 0) std::memcpy(buffer, data_, count);
    data_ += count;
    left_ -= count;
    return count;
}

bool VectorSink::write_at(std::uint64_t position, const std::uint8_t* data, std::size_t count) {
    if (position + count > bytes.size()) bytes.resize(position + count);
    if (count > 0) std::memcpy(bytes.data() + position, data, count);
    return true;
}

bool VectorSink::truncate(std::uint64_t size) {
    bytes.resize(size);
    return true;
}

} // namespace tarnwel
