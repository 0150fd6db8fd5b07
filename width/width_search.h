// Choosing the code width for one input.
//
// A trial at width w grows the dictionary exactly as compression at w would,
// without writing anything, and overflows when a new string arrives after
// every code up to last_code has been given out (a dictionary that only just
// fills does not count). Trials run at 12, 13, ... until one does not
// overflow; the input is then compressed one bit narrower, at the last width
// that overflowed, or at 11 when 12 already sufficed. No width past max_bits
// is tried: if that trial still overflows, max_bits is used as it is.
#pragma once

#include <cstdio>

#include "codec/byte_io.h"
#include "codec/codec_result.h"
#include "codec/dictionary.h"

namespace tarnwel {

// True when the dictionary overflowed at dictionary.bits before the input
// ended. Reads from the reader's current position.
bool trial_fills(Dictionary& dictionary, ByteReader& reader);

struct WidthChoice {
    CodecResult result;          // status of the trials' reads and allocations
    int bits = default_bits;     // the width to compress at
    int last_trial_bits = 0;     // width of the last trial made
    bool last_trial_fit = false; // the last trial ended without overflowing
};

// What a caller hears of the search: the start of each trial, with its
// width, and the bytes each trial has read so far.
struct SearchHooks {
    void (*trial_started)(int bits, void* context) = nullptr;
    void (*progress)(std::uint64_t bytes_done, void* context) = nullptr;
    void* context = nullptr;
};

// Runs the trials over input, rewinding it to its first byte before each.
WidthChoice search_width(std::FILE* input, SearchHooks hooks = {}, int cap = max_bits);

} // namespace tarnwel
