// How many processors this process may run on: fewer than the machine has
// when it is confined to some (taskset, a container's CPU set, an affinity
// mask). A second thread on the one processor a run may use only takes
// turns with the first.
#pragma once

namespace tarnwel {

// At least 1.
unsigned usable_processors();

} // namespace tarnwel
