// Without a second thread, the frozen parse runs behind the unbounded parse
// and can follow the unbounded parse's strings from their codes alone: where
// one of them starts where the frozen parse's next string does, and its
// code is below the frozen parse's limit, it is the frozen parse's next
// string too (see frozen_following.h), and its code is written without a
// probe.
//
// Following them takes each string's length, and the codes tell it: the
// string given code first_free_code + k is the one whose code is codes[k]
// with one byte more. So the lengths are worked out here, behind the
// unbounded parse, which does nothing for them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "dictionary.h"
#include "mapped_array.h"

namespace tarnwel {

struct UnboundedStrings {
    const std::uint32_t* codes = nullptr; // the unbounded parse's, as of its latest block
    std::size_t made = 0;                 // how many it has written
    bool off = false;                     // no memory for the lengths: nothing is followed
    // lengths[code]: the length of the string given code, up to
    // long_length; those of long_length bytes and more are in long_lengths,
    // in the order of their codes. The string given code first_free_code + k
    // is string k with one byte more.
    MappedArray<std::uint8_t> lengths;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> long_lengths;
    std::size_t derived = 0; // the strings whose lengths[] are worked out
    // The string the frozen parse meets next: string `next`, starting at
    // `start` bytes from the frozen parse's block (which may be before it).
    std::size_t next = 0;
    std::int64_t start = 0;
};

inline constexpr std::uint8_t long_length = 255;

// The unbounded parse has written `made` codes, in a list with room for
// capacity; before the frozen parse runs over the blocks it is done with.
void note_unbounded_codes(UnboundedStrings& strings, const std::uint32_t* codes, std::size_t made,
                          std::size_t capacity);

// Works out the lengths of the strings written since the last time, in a
// loop of their own, where the reads of the lengths of the strings each one
// extends (anywhere in the list) are in flight together.
// Tried and dropped: working each length out where the frozen parse follows
// the strings, because each then waited for its read; see
// docs/performance.md.
void work_out_lengths(UnboundedStrings& strings);

std::uint32_t long_length_of(const UnboundedStrings& strings, std::uint32_t code);

// The length of the unbounded parse's string `index`, once worked out.
inline std::uint32_t string_length(const UnboundedStrings& strings, std::size_t index) {
    auto made = static_cast<std::uint32_t>(first_free_code + index);
    std::uint8_t length = strings.lengths[made];
    return (length != long_length ? length : long_length_of(strings, made)) - 1;
}

// Moves along the unbounded parse's strings up to the place `at`: whether one
// of them, worked out already, starts there.
inline bool follow_to(UnboundedStrings& strings, std::int64_t at) {
    while (strings.start < at) {
        if (strings.next >= strings.derived) return false;
        strings.start += string_length(strings, strings.next++);
    }
    return strings.start == at && strings.next < strings.derived;
}

// The frozen parse begins again where the unbounded parse's string `next`
// starts, at `at` in its block, codes being the list as it is now.
void restart_following(UnboundedStrings& strings, const std::uint32_t* codes, std::size_t next,
                       std::int64_t at);

} // namespace tarnwel
