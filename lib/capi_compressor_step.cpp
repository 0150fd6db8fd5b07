#include "capi_compressor_step.h"

#include "capi_step_buffers.h"

namespace tarnwel {

namespace {

tarnwel_status status_of_step(CodecStatus status) {
    switch (status) {
    case CodecStatus::ok:
        return TARNWEL_OK;
    case CodecStatus::out_of_memory:
        return TARNWEL_OUT_OF_MEMORY;
    default:
        // The steps read and write only memory of their own: any other
        // failure is the library's.
        return TARNWEL_INTERNAL_ERROR;
    }
}

} // namespace

tarnwel_status step_compressor(SteppedCompressor& stepped, int given_width, int cap,
                               tarnwel_in_buffer& in, tarnwel_out_buffer& out, int input_ends,
                               int& done, int& width) {
    done = 0;
    if (!buffers_usable(in, out)) return TARNWEL_BAD_ARGUMENT;
    bool more_input = in.pos < in.size;
    // Once told, the input stays ended; once it has all been taken, no
    // more may come.
    if (stepped.told_end && input_ends == 0) return TARNWEL_BAD_SEQUENCE;
    CompressorSteps* steps = stepped.steps.get();
    if (steps != nullptr && steps->stream_whole && more_input) return TARNWEL_BAD_SEQUENCE;
    stepped.begun = true;
    if (steps == nullptr) {
        auto made = std::make_unique<CompressorSteps>();
        bool started = given_width != 0 ? start_steps_at_width(*made, given_width)
                                        : start_steps_searching(*made, cap);
        if (!started) return TARNWEL_OUT_OF_MEMORY;
        stepped.steps = std::move(made);
        steps = stepped.steps.get();
    }
    stepped.told_end = input_ends != 0;
    StepInput input = step_input(in, input_ends);
    StepOutput output = step_output(out);
    bool finished = false;
    tarnwel_status status = status_of_step(compress_step(*steps, input, output, finished));
    in.pos = input.pos;
    out.pos = output.pos;
    if (steps->stream_whole && status == TARNWEL_OK) width = steps->width;
    done = finished ? 1 : 0;
    return status;
}

} // namespace tarnwel
