#include "codec/leading_strings.h"

#include <algorithm>

#include "codec/invariant.h"

namespace tarnwel {

void note_leading_codes(LeadingStrings& leading, const std::uint32_t* codes, std::size_t made,
                        std::size_t capacity) {
    leading.codes = codes;
    leading.made = leading.off ? 0 : made;
    std::size_t count = first_free_code + capacity;
    if (leading.off || leading.lengths.size >= count) return;
    // Mapped once for all the codes the list has room for, like the list:
    // pages are made only as the lengths reach them.
    HugeArray<std::uint8_t> lengths;
    if (!allocate_zeroed(lengths, count, PageSize::small)) {
        leading.off = true;
        leading.made = leading.derived = 0;
        return;
    }
    if (leading.lengths.size != 0)
        std::copy_n(leading.lengths.data(), first_free_code + leading.derived, lengths.data());
    else
        std::fill_n(lengths.data(), first_free_code, 1);
    leading.lengths = std::move(lengths);
}

std::uint32_t long_length_of(const LeadingStrings& leading, std::uint32_t code) {
    auto found = std::lower_bound(leading.long_lengths.begin(), leading.long_lengths.end(), code,
                                  [](const std::pair<std::uint32_t, std::uint32_t>& kept,
                                     std::uint32_t wanted) { return kept.first < wanted; });
    TARNWEL_INVARIANT(found != leading.long_lengths.end() && found->first == code);
    return found->second;
}

void work_out_lengths(LeadingStrings& leading) {
    // In locals: a store of a byte could change any of the fields, for all
    // the compiler knows.
    std::uint8_t* lengths = leading.lengths.data();
    const std::uint32_t* codes = leading.codes;
    const std::size_t made = leading.made;
    for (std::size_t k = leading.derived; k < made; ++k) {
        std::uint32_t code = codes[k];
        auto made_code = static_cast<std::uint32_t>(first_free_code + k);
        // A string extends one made before it, whose length is worked out.
        TARNWEL_INVARIANT(code < made_code);
        std::uint32_t length = lengths[code] + 1u;
        if (length >= long_length) [[unlikely]] {
            if (length > long_length) length = long_length_of(leading, code) + 1;
            leading.long_lengths.emplace_back(made_code, length);
            length = long_length;
        }
        lengths[made_code] = static_cast<std::uint8_t>(length);
    }
    // (The restart at the cap shares a code more than are counted made.)
    leading.derived = std::max(leading.derived, made);
}

void restart_following(LeadingStrings& leading, const std::uint32_t* codes, std::size_t next,
                       std::int64_t at) {
    // A list outgrown within the latest block holds more codes than there
    // are lengths for: the rest of the run goes without.
    if (leading.off || first_free_code + next > leading.lengths.size) {
        leading.off = true;
        leading.made = leading.derived = 0;
        return;
    }
    // The shared codes are written, whatever the count of the latest block.
    leading.codes = codes;
    leading.made = std::max(leading.made, next);
    work_out_lengths(leading);
    leading.next = next;
    leading.start = at;
}

} // namespace tarnwel
