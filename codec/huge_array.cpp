#include "codec/huge_array.h"

#include "platform/pages.h"

namespace tarnwel {

HugeBlock map_huge(std::size_t bytes, PageSize size) {
    if (bytes == 0) bytes = 1;
    void* memory = map_pages(bytes, size);
    if (memory == nullptr) return {};
    return {memory, bytes};
}

void unmap_huge(HugeBlock& block) {
    if (block.memory != nullptr) unmap_pages(block.memory, block.bytes);
    block = {};
}

} // namespace tarnwel
