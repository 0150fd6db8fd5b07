// The expander in steps: the caller runs the loop, handing in the stream a
// piece at a time and taking the output a buffer at a time, in the
// zlib/zstd convention. Each step takes what input it can, expands it, and
// copies out what fits; nothing is gathered, so memory stays the tables,
// the window and the fixed state below however long the stream.
//
// The window doubles as the output buffer: bytes go to the caller straight
// from it (window.flushed marks how far), and a code that would start a new
// lap waits until the lap has all been handed out. Codes are read only once
// their bits are all in hand, so a step may stop anywhere in the stream;
// past its end (once the caller says it ends) the reader takes ones, as the
// pull loop does, which completes the end code the writer left a few bits
// short. Any other code those ones reach into is a stream cut short.
#pragma once

#include <cstddef>
#include <cstdint>

#include "byte_streams.h"
#include "codec_result.h"
#include "expansion.h"
#include "step_buffers.h"

namespace tarnwel {

// Bits of the stream taken from the input but not yet read as a code, at
// the top of the word.
struct StepBits {
    std::uint64_t bits = 0;
    int count = 0;
    int ones = 0; // of the count, the last ones taken past the input's end
};

enum class StepPhase {
    first_code, // nothing read yet: the first code is a byte or the end code
    codes,      // expanding
    ended,      // the end code has been read; what is left is handing out
    faulted,    // a corrupt code; what came before it is handed out
};

// One stream's expansion in steps. Besides the tables and the window, it
// holds fixed_step_state bytes: the batch of codes read ahead and the
// queues of strings and entries waiting to be spelled.
struct ExpanderSteps {
    // The window's writer must have a sink; in steps nothing is written
    // through it (a lap ends only once handed out).
    RefusingSink no_sink;
    Expansion e;
    Decoder d;
    StepBits bits;
    StepPhase phase = StepPhase::first_code;
    bool input_ended = false;
    bool cut = false; // the batch stops at a code the stream was cut in
    std::uint32_t batch[code_batch + batch_padding];
    std::size_t batch_count = 0;
    std::size_t batch_next = 0; // the next code of the batch to expand

    explicit ExpanderSteps(ExpanderTables& tables);
    ExpanderSteps(const ExpanderSteps&) = delete;
    ExpanderSteps& operator=(const ExpanderSteps&) = delete;
};

// The memory a step expansion holds besides its tables and window, which
// the C interface promises stays under 8 KiB.
inline constexpr std::size_t fixed_step_state =
    sizeof(ExpanderSteps) + pending_limit * (sizeof(PendingString) + sizeof(PendingEntry));
static_assert(fixed_step_state < std::size_t{8} << 10, "a step expansion's state outgrew 8 KiB");

// One step: takes input from in, expands, and copies what fits into out.
// done is true once the end code has been read and every byte expanded is
// in out. corrupt_stream comes once every byte before the fault has been
// handed out, from a step that hands out nothing, and from every step
// after it.
CodecStatus expand_step(ExpanderSteps& steps, StepInput& in, StepOutput& out, bool& done);

} // namespace tarnwel
