// Processor time, read while a run goes on, so that the compressor can tell
// whether its second thread has a core of its own: the calling thread's own
// processor time (against the wall clock it shows how much of the time the
// thread was kept off a processor it was ready to use), and the time the
// processors this process may use stood idle.
#pragma once

#include <optional>

namespace tarnwel {

// Seconds the calling thread has run, in user and system mode, since it
// started.
double thread_processor_seconds();

// Seconds the processors this process may run on have stood idle, summed,
// since some fixed moment; only differences mean anything. Empty where the
// system does not tell.
std::optional<double> idle_processor_seconds();

} // namespace tarnwel
