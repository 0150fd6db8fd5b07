// Where the output goes.
//
// A regular output, or one that does not exist yet, is written as a new
// file beside the file its name leads to, which takes that file's place
// only once complete: until then the old file keeps its content under
// every name it has, and a failed or interrupted run removes only the new
// file. Where no new file can take its place (a folder this run may not
// write, another user's file in a folder with the sticky bit) but the file
// itself may be written, it is written in place, and a run that fails
// empties it. Anything else (a pipe, a FIFO, a device) is written where it
// is. A run refuses an output it can neither replace nor write before it
// reads any input.
#pragma once

#include <cstdio>

#include "platform/replacement.h"

namespace tarnwel {

struct OutputFile {
    const char* path = nullptr; // as the command line names it
    std::FILE* file = nullptr;  // open from open_output_file to keep_output_file
    bool replacing = false;     // a regular file (or none yet), not a pipe or device
    Replacement replacement;    // where replacing: the new version
    int guard = -1;
};

// Opens the output for writing. Opening a FIFO waits for its reader, and
// that wait stays interruptible. 0, or the errno (not_a_regular_file never
// comes back: such outputs are written in place).
int open_output_file(OutputFile& output);

// After the last write: flushes the output and gives a new version the old
// file's attributes. 0, or the errno, where a full disk may show itself
// only now.
int finish_output_file(OutputFile& output);

// Puts a finished output in its place for good; the caller holds the
// signals. 0, or the errno.
int keep_output_file(OutputFile& output);

// At the run's end, after the guarded files were dealt with: closes what
// is open and removes a new version that was not kept.
void release_output_file(OutputFile& output);

} // namespace tarnwel
