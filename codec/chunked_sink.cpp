#include "codec/chunked_sink.h"

#include <algorithm>
#include <cstring>

namespace tarnwel {

bool ChunkedSink::write_at(std::uint64_t position, const std::uint8_t* data, std::size_t count) {
    std::uint64_t end = position + count;
    while (chunks_.size() * chunk_size < end)
        chunks_.push_back(std::make_unique<std::uint8_t[]>(chunk_size)); // zeroed
    size_ = std::max(size_, end);
    while (count > 0) {
        std::size_t offset = static_cast<std::size_t>(position % chunk_size);
        std::size_t part = std::min(count, chunk_size - offset);
        std::memcpy(chunks_[static_cast<std::size_t>(position / chunk_size)].get() + offset, data,
                    part);
        position += part;
        data += part;
        count -= part;
    }
    return true;
}

bool ChunkedSink::truncate(std::uint64_t size) {
    if (size > size_) {
        // Grown with zeros, as a file is.
        std::uint64_t gap = size - size_;
        std::vector<std::uint8_t> zeros(
            static_cast<std::size_t>(std::min<std::uint64_t>(gap, chunk_size)));
        for (std::uint64_t at = size_; at < size; at += zeros.size())
            write_at(at, zeros.data(),
                     static_cast<std::size_t>(std::min<std::uint64_t>(zeros.size(), size - at)));
        return true;
    }
    // Bytes cut off are zeroed, so that growing again finds zeros there.
    std::size_t keep = static_cast<std::size_t>((size + chunk_size - 1) / chunk_size);
    chunks_.resize(keep);
    if (size % chunk_size != 0 && keep > 0)
        std::memset(chunks_[keep - 1].get() + size % chunk_size, 0, chunk_size - size % chunk_size);
    size_ = size;
    return true;
}

void ChunkedSink::read_at(std::uint64_t position, std::uint8_t* out, std::size_t count) const {
    while (count > 0) {
        std::size_t offset = static_cast<std::size_t>(position % chunk_size);
        std::size_t part = std::min(count, chunk_size - offset);
        std::memcpy(out, chunks_[static_cast<std::size_t>(position / chunk_size)].get() + offset,
                    part);
        position += part;
        out += part;
        count -= part;
    }
}

} // namespace tarnwel
