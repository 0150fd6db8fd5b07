// Memory straight from the system for the large tables: zero-filled, costing
// nothing until a page is first touched, on large pages where the system
// offers them (a probe lands anywhere in hundreds of megabytes, and with
// small pages nearly every probe would also miss the TLB).
#pragma once

#include <cstddef>

namespace tarnwel {

// bytes of zeroed memory, or nullptr when the system refuses.
void* map_pages(std::size_t bytes);
void unmap_pages(void* memory, std::size_t bytes);

// Faults in the pages of a region without writing to them, so that the
// first write finds them ready. False where the system offers no such
// request (the owner then faults its pages itself).
bool populate_pages(void* memory, std::size_t bytes);

} // namespace tarnwel
