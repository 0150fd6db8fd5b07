// A fixed-size array for the codec's tables. Entries start out unset: the
// codec only reads an entry after writing it, so a wide table costs nothing
// until its pages are used, and a short input at BITS 25 starts at once.
#pragma once

#include <cstddef>
#include <memory>
#include <new>

namespace tarnwel {

template <class T> struct Table {
    std::unique_ptr<T[]> entries;
    std::size_t size = 0;

    T& operator[](std::size_t index) { return entries[index]; }
    const T& operator[](std::size_t index) const { return entries[index]; }
    T* begin() { return entries.get(); }
    T* end() { return entries.get() + size; }
    bool empty() const { return size == 0; }
};

// Replaces the table with one of count unset entries. False, and the table
// left empty, when memory runs out.
template <class T> bool allocate(Table<T>& table, std::size_t count) {
    table.entries.reset();
    table.size = 0;
    table.entries.reset(new (std::nothrow) T[count]);
    if (!table.entries) return false;
    table.size = count;
    return true;
}

} // namespace tarnwel
