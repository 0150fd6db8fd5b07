#include "reference/reference_width_search.h"

#include <cerrno>

#include "codec/byte_io.h"

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

WidthChoice search_width(std::FILE* input, SearchHooks hooks, int cap) {
    WidthChoice choice;
    Dictionary dictionary;
    ByteReader reader = make_reader(input, {hooks.progress, hooks.context});
    for (int bits = default_bits;; ++bits) {
        if (!allocate_tables(dictionary, bits)) {
            choice.result.status = CodecStatus::out_of_memory;
            return choice;
        }
        errno = 0;
        if (std::fseek(input, 0, SEEK_SET) != 0) {
            choice.result.status = CodecStatus::read_failed;
            choice.result.error_number = errno != 0 ? errno : ESPIPE;
            return choice;
        }
        reader.position = reader.end = 0;
        reader.consumed = 0;
        if (hooks.trial_started != nullptr) hooks.trial_started(bits, hooks.context);
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
