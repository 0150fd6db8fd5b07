#include "frozen_parse.h"

#include <cstring>
#include <new>

#include "byte_io.h"

namespace tarnwel {

namespace {

// Left uninitialised, so that the system hands out the pages only when a
// block is first copied in.
void make_room(BlockCopy& copy, std::size_t bytes) {
    if (copy.capacity >= bytes) return;
    copy.bytes.reset(new std::uint8_t[bytes]);
    copy.capacity = bytes;
}

} // namespace

bool open_frozen_parse(FrozenParse& parse, BlockRing& ring, ByteSink& output) {
    try {
        open_frozen_stream(parse.stream, output);
        ring.copies.resize(ring_blocks);
        for (BlockCopy& copy : ring.copies)
            make_room(copy, io_block_size + parse_slack);
        ring.sizes.assign(ring_blocks, 0);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

void copy_block(BlockRing& ring, std::uint64_t block, const std::uint8_t* data, std::size_t size) {
    std::size_t slot = ring_slot(ring, block);
    BlockCopy& copy = ring.copies[slot];
    make_room(copy, size + parse_slack);
    std::memcpy(copy.bytes.get(), data, size);
    // The parse may look into the slack; it never depends on what is there,
    // but what it reads is then never memory no one wrote.
    std::memset(copy.bytes.get() + size, 0, parse_slack);
    ring.sizes[slot] = size;
}

void begin_frozen_parse(FrozenParse& parse, const FrozenRestart& restart) {
    parse.active = true;
    parse.limit = end_code(restart.width);
    begin_frozen_stream(parse.stream, restart.width, restart.shared, restart.shared_codes);
}

} // namespace tarnwel
