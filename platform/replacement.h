// A new version of a file, put together beside it and put in its place in
// one step, so that until then the old file keeps its content under every
// name it has, and a reader sees the old file or the new one, never a
// mixture.
//
// The file replaced is the one a path leads to through its symbolic links,
// so a link stays a link to the new file. The new file is made in that
// file's folder under a short name of its own ("tarnwel.PID.N.tmp"), and
// every step works relative to the folder, held open: a name at the file
// system's length limit, or a path at the system's, works as well as a
// short one.
//
// Where a new file cannot take the old one's place (a folder this run may
// not write, another user's file in a folder with the sticky bit) but the
// file itself may be written, the caller may have it written in place: its
// old content is then lost from the moment it is opened.
#pragma once

#include <cstdio>
#include <string>

namespace tarnwel {

struct Replacement {
    std::string target;    // the file replaced, links followed (Windows: its full path)
    bool exists = false;   // target existed when the run looked
    bool in_place = false; // target is written where it is, not replaced
    // The new file while it exists beside target, as a name in its folder
    // (Windows: the full path); empty once committed or discarded.
    std::string temporary;
    int folder = -1;         // POSIX: target's folder, held open; -1 elsewhere
    std::string target_name; // target's last name, within folder
    // The old file's owner and mode, carried over to the new one.
    unsigned mode = 0;
    long long owner = -1;
    long long group = -1;
};

// Opens the new version of path for binary writing: a new file beside the
// file path leads to, or, where in_place_allowed and that cannot replace
// it, the file itself, truncated. 0 with file set; else EISDIR for a
// folder, not_a_regular_file for anything else that is not a regular file
// (a FIFO, a device, a link the system resolves by magic such as /dev/fd/N:
// those are the caller's to write in place), EACCES for a file this run may
// not write, ENOENT for an empty path, or the errno of a failed step.
int open_new_version(const char* path, bool in_place_allowed, Replacement& replacement,
                     std::FILE*& file);

// Gives the new version, after its last write, what the old file had
// beyond its content and the owner and group (given where this run may
// set them when the file was made): the extended attributes (access
// control lists among them) where it may set them, and the mode bits,
// set-user-ID included, last, since a write or a change of owner clears
// those. Best effort: what cannot be kept is not.
void carry_over_attributes(const Replacement& replacement, std::FILE* file);

// Puts the new version in the old one's place. 0, or the errno.
int commit_new_version(Replacement& replacement);

// Removes a new version that will not be kept; the old file stays as it was.
void discard_new_version(Replacement& replacement);

// For tests: called just before a new version takes the old one's place.
void set_commit_hook(void (*hook)());

} // namespace tarnwel
