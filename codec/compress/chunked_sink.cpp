#include "chunked_sink.h"

#include <algorithm>
#include <cstring>

namespace tarnwel {

// Bytes past the size in the chunks held are zeros: new chunks come
// zeroed, and cutting zeroes what it cuts off.
void ChunkedSink::hold(std::uint64_t size) {
    while (chunks_.size() * chunk_size < size)
        chunks_.push_back(std::make_unique<std::uint8_t[]>(chunk_size));
    size_ = std::max(size_, size);
}

namespace {

// Calls copy(chunk bytes, offset into the caller's bytes, part) for each
// piece of [position, position + count) as the chunks cut it.
template <class Chunks, class Copy>
void for_each_part(Chunks& chunks, std::uint64_t position, std::size_t count, Copy copy) {
    for (std::size_t done = 0; done < count;) {
        std::size_t offset = static_cast<std::size_t>(position % ChunkedSink::chunk_size);
        std::size_t part = std::min(count - done, ChunkedSink::chunk_size - offset);
        copy(chunks[static_cast<std::size_t>(position / ChunkedSink::chunk_size)].get() + offset,
             done, part);
        position += part;
        done += part;
    }
}

} // namespace

bool ChunkedSink::write_at(std::uint64_t position, const std::uint8_t* data, std::size_t count) {
    hold(position + count);
    for_each_part(chunks_, position, count,
                  [&](std::uint8_t* chunk, std::size_t at, std::size_t part) {
                      std::memcpy(chunk, data + at, part);
                  });
    return true;
}

bool ChunkedSink::truncate(std::uint64_t size) {
    if (size >= size_) {
        hold(size);
        return true;
    }
    std::size_t keep = static_cast<std::size_t>((size + chunk_size - 1) / chunk_size);
    chunks_.resize(keep);
    std::size_t used = static_cast<std::size_t>(size % chunk_size);
    if (used != 0) std::memset(chunks_[keep - 1].get() + used, 0, chunk_size - used);
    size_ = size;
    return true;
}

void ChunkedSink::read_at(std::uint64_t position, std::uint8_t* out, std::size_t count) const {
    for_each_part(chunks_, position, count,
                  [&](const std::uint8_t* chunk, std::size_t at, std::size_t part) {
                      std::memcpy(out + at, chunk, part);
                  });
}

} // namespace tarnwel
