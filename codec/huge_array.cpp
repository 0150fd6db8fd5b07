#include "codec/huge_array.h"

#include <sys/mman.h>

namespace tarnwel {

namespace {

constexpr std::size_t huge_page = std::size_t{2} << 20;

} // namespace

HugeBlock map_huge(std::size_t bytes) {
    if (bytes == 0) bytes = 1;
    void* memory = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (memory == MAP_FAILED) return {};
#ifdef MADV_HUGEPAGE
    // Only a hint: without huge pages the table still works, just slower.
    if (bytes >= huge_page) madvise(memory, bytes, MADV_HUGEPAGE);
#endif
    return {memory, bytes};
}

void unmap_huge(HugeBlock& block) {
    if (block.memory != nullptr) munmap(block.memory, block.bytes);
    block = {};
}

} // namespace tarnwel
