#include "reference/reference_width_search.h"

#include "codec/byte_io.h"
#include "codec/memory_streams.h"

namespace tarnwel::reference {

bool trial_fills(Dictionary& dictionary, ByteReader& reader) {
    clear_dictionary(dictionary);
    std::int32_t current = read_byte(reader);
    if (current < 0) return false;
    const std::uint8_t* next;
    const std::uint8_t* end;
    while (take_block(reader, next, end)) {
        for (; next < end; ++next) {
            std::int32_t byte = *next;
            std::int32_t slot = probe_slot(dictionary, current, byte);
            if (dictionary.code_table[slot] != empty_slot) {
                current = dictionary.code_table[slot];
                continue;
            }
            if (!add_string(dictionary, slot, current, byte)) return true;
            current = byte;
        }
    }
    return false;
}

WidthChoice search_width(const std::uint8_t* input, std::size_t size,
                         const std::function<void(int bits)>& trial_started, int cap) {
    WidthChoice choice;
    Dictionary dictionary;
    for (int bits = default_bits;; ++bits) {
        if (!allocate_tables(dictionary, bits)) {
            choice.result.status = CodecStatus::out_of_memory;
            return choice;
        }
        SpanSource source(input, size);
        ByteReader reader = make_reader(source);
        if (trial_started) trial_started(bits);
        bool overflowed = trial_fills(dictionary, reader);
        choice.last_trial_bits = bits;
        if (reader.error_number != 0) {
            choice.result.status = CodecStatus::read_failed;
            choice.result.error_number = reader.error_number;
            return choice;
        }
        if (!overflowed) {
            choice.last_trial_fit = true;
            choice.bits = bits - 1;
            return choice;
        }
        if (bits >= cap) {
            choice.bits = cap;
            return choice;
        }
    }
}

} // namespace tarnwel::reference
