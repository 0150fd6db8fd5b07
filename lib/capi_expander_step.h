// The step call of the C interface (tarnwel_expander_step), apart from the
// rest of lib/tarnwel.cpp: the checks of the caller's buffers, and the
// codec's steps over them.
#pragma once

#include <memory>

#include "expander_steps.h"
#include "tarnwel.h"

namespace tarnwel {

// One step of an expander's stream; steps is made at the first one. gathering
// is true once the expander has been fed bytes, finished or run over a
// source: steps then refuse. May throw std::bad_alloc (the caller guards it).
tarnwel_status step_expander(std::unique_ptr<ExpanderSteps>& steps, ExpanderTables& tables,
                             bool gathering, tarnwel_in_buffer& in, tarnwel_out_buffer& out,
                             int input_ends, int& done);

} // namespace tarnwel
