#include "pages.h"

#include <sys/mman.h>

namespace tarnwel {

void* map_pages(std::size_t bytes, PageSize size) {
    constexpr std::size_t huge_page = std::size_t{2} << 20;
    void* memory = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (memory == MAP_FAILED) return nullptr;
#ifdef MADV_HUGEPAGE
    // Only a hint: without huge pages the table still works, just slower.
    if (size == PageSize::large && bytes >= huge_page) madvise(memory, bytes, MADV_HUGEPAGE);
#else
    (void)size;
#endif
    return memory;
}

void unmap_pages(void* memory, std::size_t bytes) {
    munmap(memory, bytes);
}

bool populate_pages(void* memory, std::size_t bytes) {
#ifdef MADV_POPULATE_WRITE
    return madvise(memory, bytes, MADV_POPULATE_WRITE) == 0;
#else
    (void)memory;
    (void)bytes;
    return false;
#endif
}

} // namespace tarnwel
