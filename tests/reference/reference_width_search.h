// The width search as separate trial passes, one per width, each with tables
// of its own: the straightforward form the one-pass search is checked against.
//
// Choosing the code width for one input.
//
// A trial at width w grows the dictionary exactly as compression at w would,
// without writing anything, and overflows when a new string arrives after
// every code up to last_code has been given out (a dictionary that only just
// fills does not count). Trials run at 12, 13, ... until one does not
// overflow; the input is then compressed one bit narrower, at the last width
// that overflowed, or at 11 when 12 already sufficed. No width past max_width
// is tried: if that trial still overflows, max_width is used as it is.
#pragma once

#include <functional>

#include "byte_io.h"
#include "codec_result.h"
#include "compressor.h"
#include "reference_dictionary.h"

namespace tarnwel::reference {

// True when the dictionary overflowed at dictionary.bits before the input
// ended. Reads from the reader's current position.
bool trial_fills(Dictionary& dictionary, ByteReader& reader);

// Runs the trials over the size bytes at input, each from the first byte.
CompressResult search_width(const std::uint8_t* input, std::size_t size,
                            const std::function<void(int width)>& trial_started = {},
                            int cap = max_width);

} // namespace tarnwel::reference
