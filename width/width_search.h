// Choosing the code width for one input, and compressing it at that width.
//
// A trial at width w grows the dictionary as compression at w would and
// overflows when a new string arrives after every code up to last_code has
// been given out (a dictionary that only just fills does not count). Trials
// run at 12, 13, ... until one does not overflow; the input is compressed one
// bit narrower, at the last width that overflowed, or at 11 when 12 already
// sufficed. No width past the cap is tried: if that trial still overflows,
// the cap is used as it is.
//
// Until its width overflows, every trial makes the same parse and gives the
// same codes as a parse with an unbounded dictionary, so one such parse
// answers them all: the trial at w overflows exactly when it meets its
// (2^w - 256)th new string. The trials are reported as they begin, in the
// order and with the widths that separate passes would have.
//
// The same holds for compression at the width finally chosen, b: its stream
// starts with the unbounded parse's codes up to the moment b overflows, and
// from there on the dictionary stays frozen. So the pass that runs the
// search also runs a frozen parse at the widest width that has overflowed
// so far, writing that width's stream from the point where it parts from
// the shared codes; when a wider width overflows, the frozen parse begins
// again there. The frozen parse runs on the second core, up to the ring's
// length of blocks behind the unbounded one (codec/frozen_parse.h); at the end the shared codes
// are packed in front of its stream (codec/stream_assembly.h). The input is
// read once, so a pipe is compressed like a file.
//
// Tried and dropped: for a file, searching alone and then parsing the
// chosen width's frozen stream in a second pass, re-reading the file from
// where that width overflowed, so that no frozen parse is thrown away. On
// 32 MiB inputs text took 5% less time, but headers, executables and
// random bytes 5 to 7% more than the two parses interleaved on one core.
// On two cores the frozen parses that are thrown away cost no time of the
// unbounded parse's, which is the one that sets the pace.
#pragma once

#include <cstdio>

#include "codec/byte_io.h"
#include "codec/codec_result.h"
#include "codec/dictionary.h"

namespace tarnwel {

struct WidthChoice {
    CodecResult result;          // status, and the input and output sizes
    int bits = default_bits;     // the width to compress at
    int last_trial_bits = 0;     // width of the last trial made
    bool last_trial_fit = false; // the last trial ended without overflowing
};

// What a caller hears of the search: the start of each trial, with its
// width, the bytes read so far, and, when compressing, the chosen width
// before the stream is completed. Returning false from width_chosen
// abandons the run and leaves the output empty.
struct SearchHooks {
    void (*trial_started)(int bits, void* context) = nullptr;
    void (*progress)(std::uint64_t bytes_done, void* context) = nullptr;
    bool (*width_chosen)(const WidthChoice& choice, void* context) = nullptr;
    void* context = nullptr;
};

// Runs the trials over input from its first byte (a pipe: from where it
// stands), growing dictionary afresh.
WidthChoice search_width(std::FILE* input, Dictionary& dictionary, SearchHooks hooks = {},
                         int cap = max_bits);

// The search, and the input compressed at the chosen width into output,
// which must be empty. The frozen parse runs on a second thread where there
// is one, unless allow_second_thread is false; the stream is the same.
WidthChoice search_and_compress(std::FILE* input, std::FILE* output, SearchHooks hooks = {},
                                int cap = max_bits, bool allow_second_thread = true);

} // namespace tarnwel
