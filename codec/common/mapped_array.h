// Zero-filled arrays for the large tables, mapped straight from the system:
// a fresh table needs no clearing, costs nothing until its pages are used
// (a short input at width 25 starts at once), and is backed by 2 MiB pages
// where the system offers them. A probe lands anywhere in hundreds of
// megabytes, and with small pages nearly every probe would also miss the TLB.
//
// Arrays written and read in order take small pages: a large page the
// system hands out for the first time costs several times as much to fault
// in as the small pages it replaces (docs/performance.md), and in order the
// TLB has no misses to save.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>

#include "pages.h"

namespace tarnwel {

struct MappedBlock {
    void* memory = nullptr;
    std::size_t bytes = 0;
};

// Maps bytes of zeroed memory; memory is nullptr when the system refuses.
MappedBlock map_block(std::size_t bytes, PageSize size);
void unmap_block(MappedBlock& block);

template <class T> struct MappedArray {
    MappedBlock block;
    std::size_t size = 0;

    MappedArray() = default;
    MappedArray(const MappedArray&) = delete;
    MappedArray& operator=(const MappedArray&) = delete;
    MappedArray(MappedArray&& other) noexcept { *this = std::move(other); }
    MappedArray& operator=(MappedArray&& other) noexcept {
        std::swap(block, other.block);
        std::swap(size, other.size);
        return *this;
    }
    ~MappedArray() { unmap_block(block); }

    bool empty() const { return size == 0; }
    T* data() { return static_cast<T*>(block.memory); }
    const T* data() const { return static_cast<const T*>(block.memory); }
    T& operator[](std::size_t index) { return data()[index]; }
    const T& operator[](std::size_t index) const { return data()[index]; }
};

// Replaces the array with count zeroed entries. False, and the array left
// empty, when memory runs out.
template <class T>
bool allocate_zeroed(MappedArray<T>& array, std::size_t count, PageSize size = PageSize::large) {
    unmap_block(array.block);
    array.size = 0;
    array.block = map_block(count * sizeof(T), size);
    if (array.block.memory == nullptr) return false;
    array.size = count;
    return true;
}

} // namespace tarnwel
