#include "unbounded_strings.h"

#include <algorithm>

#include "invariant.h"

namespace tarnwel {

void note_unbounded_codes(UnboundedStrings& strings, const std::uint32_t* codes, std::size_t made,
                          std::size_t capacity) {
    strings.codes = codes;
    strings.made = strings.off ? 0 : made;
    std::size_t count = first_free_code + capacity;
    if (strings.off || strings.lengths.size >= count) return;
    // Mapped once for all the codes the list has room for, like the list:
    // pages are made only as the lengths reach them.
    MappedArray<std::uint8_t> lengths;
    if (!allocate_zeroed(lengths, count, PageSize::small)) {
        strings.off = true;
        strings.made = strings.derived = 0;
        return;
    }
    if (strings.lengths.size != 0)
        std::copy_n(strings.lengths.data(), first_free_code + strings.derived, lengths.data());
    else
        std::fill_n(lengths.data(), first_free_code, 1);
    strings.lengths = std::move(lengths);
}

std::uint32_t long_length_of(const UnboundedStrings& strings, std::uint32_t code) {
    auto found = std::lower_bound(strings.long_lengths.begin(), strings.long_lengths.end(), code,
                                  [](const std::pair<std::uint32_t, std::uint32_t>& kept,
                                     std::uint32_t wanted) { return kept.first < wanted; });
    TARNWEL_INVARIANT(found != strings.long_lengths.end() && found->first == code);
    return found->second;
}

void work_out_lengths(UnboundedStrings& strings) {
    // In locals: a store of a byte could change any of the fields, for all
    // the compiler knows.
    std::uint8_t* lengths = strings.lengths.data();
    const std::uint32_t* codes = strings.codes;
    const std::size_t made = strings.made;
    for (std::size_t k = strings.derived; k < made; ++k) {
        std::uint32_t code = codes[k];
        auto made_code = static_cast<std::uint32_t>(first_free_code + k);
        // A string extends one made before it, whose length is worked out.
        TARNWEL_INVARIANT(code < made_code);
        std::uint32_t length = lengths[code] + 1u;
        if (length >= long_length) [[unlikely]] {
            if (length > long_length) length = long_length_of(strings, code) + 1;
            strings.long_lengths.emplace_back(made_code, length);
            length = long_length;
        }
        lengths[made_code] = static_cast<std::uint8_t>(length);
    }
    // (The restart at the cap shares a code more than are counted made.)
    strings.derived = std::max(strings.derived, made);
}

void restart_following(UnboundedStrings& strings, const std::uint32_t* codes, std::size_t next,
                       std::int64_t at) {
    // A list outgrown within the latest block holds more codes than there
    // are lengths for: the rest of the run goes without.
    if (strings.off || first_free_code + next > strings.lengths.size) {
        strings.off = true;
        strings.made = strings.derived = 0;
        return;
    }
    // The shared codes are written, whatever the count of the latest block.
    strings.codes = codes;
    strings.made = std::max(strings.made, next);
    work_out_lengths(strings);
    strings.next = next;
    strings.start = at;
}

} // namespace tarnwel
