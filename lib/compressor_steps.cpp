#include "lib/compressor_steps.h"

namespace tarnwel {

namespace {

bool buffer_usable(const void* data, std::size_t size, std::size_t pos) {
    return pos <= size && (data != nullptr || size == 0);
}

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
    if (!buffer_usable(in.data, in.size, in.pos) || !buffer_usable(out.data, out.size, out.pos))
        return TARNWEL_BAD_ARGUMENT;
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
    StepBuffers buffers;
    buffers.in = static_cast<const std::uint8_t*>(in.data);
    buffers.in_size = in.size;
    buffers.in_pos = in.pos;
    buffers.out = static_cast<std::uint8_t*>(out.data);
    buffers.out_size = out.size;
    buffers.out_pos = out.pos;
    bool finished = false;
    tarnwel_status status =
        status_of_step(compress_step(*steps, buffers, input_ends != 0, finished));
    in.pos = buffers.in_pos;
    out.pos = buffers.out_pos;
    if (steps->stream_whole && status == TARNWEL_OK) width = steps->width;
    done = finished ? 1 : 0;
    return status;
}

} // namespace tarnwel
