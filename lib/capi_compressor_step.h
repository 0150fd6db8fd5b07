// tarnwel_compressor_step's work (include/tarnwel.h): the checks of the
// caller's buffers and of the order of the calls, over the codec's steps
// (codec/compress/compressor_steps.h), which are made at the first step.
#pragma once

#include <memory>

#include "compressor_steps.h"
#include "tarnwel.h"

namespace tarnwel {

struct SteppedCompressor {
    bool begun = false; // a step was called: the object is driven by steps
    std::unique_ptr<CompressorSteps> steps;
    bool told_end = false; // a step was told the input ends
};

// One step of a compressor at given_width (0: searching with widths up to
// cap). Sets *width once the stream's width is known. in, out and done are
// not null. May throw std::bad_alloc.
tarnwel_status step_compressor(SteppedCompressor& stepped, int given_width, int cap,
                               tarnwel_in_buffer& in, tarnwel_out_buffer& out, int input_ends,
                               int& done, int& width);

} // namespace tarnwel
