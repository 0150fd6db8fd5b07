#include "reference_width_search.h"

#include "byte_io.h"
#include "memory_streams.h"

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

CompressResult search_width(const std::uint8_t* input, std::size_t size,
                            const std::function<void(int width)>& trial_started, int cap) {
    CompressResult choice;
    Dictionary dictionary;
    for (int width = default_width;; ++width) {
        if (!allocate_tables(dictionary, width)) {
            choice.result.status = CodecStatus::out_of_memory;
            return choice;
        }
        SpanSource source(input, size);
        ByteReader reader = make_reader(source);
        if (trial_started) trial_started(width);
        bool overflowed = trial_fills(dictionary, reader);
        choice.last_trial_width = width;
        if (reader.error_number != 0) {
            choice.result.status = CodecStatus::read_failed;
            choice.result.error_number = reader.error_number;
            return choice;
        }
        if (!overflowed) {
            choice.last_trial_fit = true;
            choice.width = width - 1;
            return choice;
        }
        if (width >= cap) {
            choice.width = cap;
            return choice;
        }
    }
}

} // namespace tarnwel::reference
