#include "codec/frozen_parse.h"

#include <cstring>
#include <new>

#include "codec/byte_io.h"

namespace tarnwel {

bool open_frozen_parse(FrozenParse& parse, BlockRing& ring, ByteSink& output) {
    try {
        open_frozen_stream(parse.stream, output);
        ring.copies.assign(ring_blocks, std::vector<std::uint8_t>(io_block_size + parse_slack));
        ring.sizes.assign(ring_blocks, 0);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

void copy_block(BlockRing& ring, std::uint64_t block, const std::uint8_t* data, std::size_t size) {
    std::size_t slot = ring_slot(ring, block);
    std::vector<std::uint8_t>& copy = ring.copies[slot];
    if (copy.size() < size + parse_slack) copy.resize(size + parse_slack);
    std::memcpy(copy.data(), data, size);
    ring.sizes[slot] = size;
}

void begin_frozen_parse(FrozenParse& parse, const FrozenRestart& restart) {
    parse.active = true;
    parse.limit = end_code(restart.width);
    begin_frozen_stream(parse.stream, restart.width, restart.shared, restart.shared_codes);
}

} // namespace tarnwel
