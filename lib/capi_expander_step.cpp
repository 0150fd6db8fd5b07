// tarnwel_expander_step's checks and its run over the codec's steps. A bad
// call gets a status and changes nothing: buffers are checked whole before
// any byte of them is read or written.
#include "capi_expander_step.h"

#include <cstdint>

#include "capi_step_buffers.h"

namespace tarnwel {

tarnwel_status step_expander(std::unique_ptr<ExpanderSteps>& steps, ExpanderTables& tables,
                             bool gathering, tarnwel_in_buffer& in, tarnwel_out_buffer& out,
                             int input_ends, int& done) {
    if (!buffers_usable(in, out)) return TARNWEL_BAD_ARGUMENT;
    if (gathering) return TARNWEL_BAD_SEQUENCE;
    if (steps == nullptr) steps = std::make_unique<ExpanderSteps>(tables);
    StepInput input = step_input(in, input_ends);
    StepOutput output = step_output(out);
    bool finished = false;
    CodecStatus status = expand_step(*steps, input, output, finished);
    in.pos = input.pos;
    out.pos = output.pos;
    done = finished ? 1 : 0;
    return status == CodecStatus::ok ? TARNWEL_OK : TARNWEL_CORRUPT_STREAM;
}

} // namespace tarnwel
