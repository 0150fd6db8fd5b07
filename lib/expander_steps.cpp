// tarnwel_expander_step's checks and its run over the codec's steps. A bad
// call gets a status and changes nothing: buffers are checked whole before
// any byte of them is read or written.
#include "lib/expander_steps.h"

#include <cstdint>

namespace tarnwel {

namespace {

// A buffer of the caller's that the library can use: pos within size, and
// no size that no object could have (nor one whose end wraps around).
bool buffer_usable(const void* data, std::size_t size, std::size_t pos) {
    if (pos > size || size > static_cast<std::size_t>(PTRDIFF_MAX)) return false;
    if (data == nullptr) return size == 0;
    return size <= UINTPTR_MAX - reinterpret_cast<std::uintptr_t>(data);
}

} // namespace

tarnwel_status step_expander(std::unique_ptr<ExpanderSteps>& steps, ExpanderTables& tables,
                             bool gathering, tarnwel_in_buffer* in, tarnwel_out_buffer* out,
                             int input_ends, int* done) {
    if (in == nullptr || out == nullptr || done == nullptr) return TARNWEL_BAD_ARGUMENT;
    *done = 0;
    if (!buffer_usable(in->data, in->size, in->pos) ||
        !buffer_usable(out->data, out->size, out->pos))
        return TARNWEL_BAD_ARGUMENT;
    if (gathering) return TARNWEL_BAD_SEQUENCE;
    if (steps == nullptr) steps = std::make_unique<ExpanderSteps>(tables);
    StepInput input{static_cast<const std::uint8_t*>(in->data), in->size, in->pos, input_ends != 0};
    StepOutput output{static_cast<std::uint8_t*>(out->data), out->size, out->pos};
    bool finished = false;
    CodecStatus status = expand_step(*steps, input, output, finished);
    in->pos = input.pos;
    out->pos = output.pos;
    *done = finished ? 1 : 0;
    return status == CodecStatus::ok ? TARNWEL_OK : TARNWEL_CORRUPT_STREAM;
}

} // namespace tarnwel
