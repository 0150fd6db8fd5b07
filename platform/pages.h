// Memory straight from the system for the large tables: zero-filled, costing
// nothing until a page is first touched, on large pages where the system
// offers them (a probe lands anywhere in hundreds of megabytes, and with
// small pages nearly every probe would also miss the TLB).
#pragma once

#include <cstddef>

namespace tarnwel {

// Large pages, where the system offers them, for tables read at random;
// small ones (the system's default) for arrays used in order, which have
// no TLB misses to save and fault in for less (see codec/common/mapped_array.h).
enum class PageSize { large, small };

// bytes of zeroed memory, or nullptr when the system refuses.
void* map_pages(std::size_t bytes, PageSize size = PageSize::large);
void unmap_pages(void* memory, std::size_t bytes);

// Faults in the pages of a region without writing to them, so that the
// first write finds them ready. False where the system offers no such
// request (the owner then faults its pages itself).
bool populate_pages(void* memory, std::size_t bytes);

} // namespace tarnwel
