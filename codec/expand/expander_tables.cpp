#include "expander_tables.h"

#include <cstring>

#include "window.h"

namespace tarnwel {

bool allocate_expander(ExpanderTables& tables, int width) {
    std::size_t codes = std::size_t{1} << width;
    if (!allocate_zeroed(tables.records, codes * occurrence_size) ||
        !allocate_zeroed(tables.links, codes * link_size) ||
        !allocate_zeroed(tables.window, window_size(width) + copy_slack)) {
        tables = ExpanderTables{};
        return false;
    }
    // A byte's record holds its string, so that the decode loop's common
    // path reads a byte code as it reads any short string.
    for (std::uint32_t byte = 0; byte < 256; ++byte)
        set_occurrence(tables, byte, byte_occurrence(static_cast<std::uint8_t>(byte)));
    tables.width = width;
    return true;
}

bool unwind_code(const ExpanderTables& tables, std::uint8_t* string_end, std::uint32_t code,
                 std::uint32_t length) {
    for (; length > 1; --length) {
        // Each link is a cache miss that waits for the one before; the last
        // seven bytes are usually a prefix's record, read in one.
        if (length <= inline_length && code >= 256) {
            std::uint64_t record = occurrence_of(tables, code);
            if (is_inline(record) && record_length(record) == length) {
                std::uint64_t bytes = record >> 8;
                std::memcpy(string_end + 1 - length, &bytes, length);
                return true;
            }
        }
        if (code < 256) return false;
        *string_end-- = last_byte(tables, code);
        code = prefix_of(tables, code);
    }
    if (code > 255) return false;
    *string_end = static_cast<std::uint8_t>(code);
    return true;
}

} // namespace tarnwel
