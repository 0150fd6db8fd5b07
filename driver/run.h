#pragma once

namespace tarnwel {

// One whole run of the command line; returns the process's exit status.
int run(int argc, char** argv);

} // namespace tarnwel
