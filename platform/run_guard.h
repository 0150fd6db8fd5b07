// What keeps a run from leaving damage behind, whatever its surroundings do:
// the standard descriptors, the signals that end a run, and the files a run
// that does not finish must remove.
//
// A signal handler cannot be handed the run's state, so the guarded files
// are the one piece of process-wide state in the program: at most
// max_guarded_files paths, each with the identity it had when guarded, so
// that a file put in its place since is never removed.
#pragma once

#include <cstdio>

#include "replacement.h"

namespace tarnwel {

inline constexpr int max_guarded_files = 2;

// Opens the null device on each of descriptors 0, 1 and 2 that is closed,
// so that no file the run opens takes their place and receives its
// messages, and makes the standard streams carry bytes as they are (Windows
// would turn "\n" into "\r\n"). False when that fails; the run cannot say
// so and must stop.
bool open_standard_descriptors();

// From here on SIGINT, SIGTERM, SIGHUP and SIGPIPE remove the guarded files
// and end the process with the signal's usual status (the first one's, when
// several arrive); SIGXFSZ is ignored, so that writing past a file-size limit
// fails the write instead. A signal that was ignored when the process
// started (nohup, a background job of a script) stays ignored. On Windows,
// Ctrl-C, Ctrl-Break and closing the console do the same.
void install_interrupt_handlers();

// Holds off the signals above (on Windows, Ctrl-C and the like) while it
// lives, for steps that must not be cut in two (creating a file and
// guarding it; keeping the output and replacing the width file). Never
// around a step that may wait on another process (opening a FIFO waits for
// its reader): that wait must stay interruptible. Not nested. On Linux it
// holds the signals off for the calling thread only: a signal sent to the
// process could still run its handler on another thread. That is sound
// only because no helper thread is alive wherever the driver uses it (the
// codec joins its threads before it returns); keep it so.
struct SignalsHeld {
    SignalsHeld();
    ~SignalsHeld();
    SignalsHeld(const SignalsHeld&) = delete;
    SignalsHeld& operator=(const SignalsHeld&) = delete;
};

// From here on the run is done, whatever arrives: the signals above are
// ignored, and any that arrived while held are dropped rather than ending
// a run whose files are already in place. Called while they are held.
void stop_ending_on_signals();

// Guards the new version open as file: a failed or interrupted run removes
// it, or, where it is the old file written in place, empties it (its old
// content is gone, and a half-written one is worth nothing). The
// replacement must outlive the guard. Returns the guard's number, or -1
// when every guard is taken.
int guard_new_version(const Replacement& replacement, std::FILE* file);

// Keeps the file: the run no longer removes or empties it.
void release_guard(int guard);

// Removes (or empties) every guarded file that is still the file it was,
// and releases the guards. Safe in a signal handler.
void remove_guarded_files();

} // namespace tarnwel
