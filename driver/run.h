#pragma once

namespace tarnwel {

// One whole run of the command line; returns the process's exit status.
int run(int argc, char** argv);

// For tests: called as the scan behind the width hint starts.
void set_hint_scan_hook(void (*hook)());

} // namespace tarnwel
