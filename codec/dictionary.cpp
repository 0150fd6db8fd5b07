#include "codec/dictionary.h"

#include <algorithm>
#include <new>

namespace tarnwel {

bool allocate_tables(Dictionary& dictionary, int bits) {
    dictionary.code_table = {};
    dictionary.prefix_table = {};
    dictionary.byte_table = {};
    dictionary.slot_count = 0;
    try {
        std::size_t slots = static_cast<std::size_t>(TABLESIZE[static_cast<std::size_t>(bits)]);
        dictionary.code_table.resize(slots);
        dictionary.prefix_table.resize(slots);
        dictionary.byte_table.resize(slots);
    } catch (const std::bad_alloc&) {
        dictionary.code_table = {};
        dictionary.prefix_table = {};
        dictionary.byte_table = {};
        return false;
    }
    dictionary.bits = bits;
    dictionary.slot_count = TABLESIZE[static_cast<std::size_t>(bits)];
    return true;
}

void clear_dictionary(Dictionary& dictionary) {
    std::fill(dictionary.code_table.begin(), dictionary.code_table.end(), empty_slot);
    dictionary.free_code = first_free_code;
}

} // namespace tarnwel
