#include "mapped_array.h"

#include "pages.h"

namespace tarnwel {

MappedBlock map_block(std::size_t bytes, PageSize size) {
    if (bytes == 0) bytes = 1;
    void* memory = map_pages(bytes, size);
    if (memory == nullptr) return {};
    return {memory, bytes};
}

void unmap_block(MappedBlock& block) {
    if (block.memory != nullptr) unmap_pages(block.memory, block.bytes);
    block = {};
}

} // namespace tarnwel
