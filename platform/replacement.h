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
// not write, another user's file in a folder with the sticky bit, an
// append-only folder) but the file itself may be written, the caller may
// have it written in place: its old content is then lost from the moment
// it is opened.
//
// The new file is its maker's alone (mode 0600) while it is written, so
// that nobody else can open it and read what it holds once complete. What
// it gets beyond its content (owner, extended attributes, access control
// list, mode) is read once, at the start, from a descriptor checked to be
// the file replaced, and given through the new file's own descriptor: a
// path swapped meanwhile for a link to another file changes nothing. On
// Windows the new file takes its folder's inherited access rules, as any
// new file there does, and nothing is carried over.
#pragma once

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

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
    // What the new version gets once complete (POSIX): the old file's mode,
    // owner and extended attributes (its access control list among them),
    // as they were at the start; where there was no old file, the mode any
    // new file made there would get.
    unsigned mode = 0;
    long long owner = -1;
    long long group = -1;
    std::vector<std::pair<std::string, std::string>> extended; // name, value
};

// Opens the new version of path for binary writing: a new file beside the
// file path leads to, or, where in_place_allowed and that cannot replace
// it, the file itself, truncated. 0 with file set; else EISDIR for a
// folder, not_a_regular_file for anything else that is not a regular file
// (a FIFO, a device, a link the system resolves by magic such as /dev/fd/N:
// those are the caller's to write in place), EACCES for a file this run may
// not write, EPERM where no new file can take its place and it may not be
// written in place (an append-only file, or, in an append-only folder, a
// file not there yet), EAGAIN where the file the path led to was replaced
// while the run looked at it, ENOENT for an empty path, or the errno of a
// failed step. Nothing is left behind where it fails.
int open_new_version(const char* path, bool in_place_allowed, Replacement& replacement,
                     std::FILE*& file);

// Gives the new version, after its last write, through its descriptor,
// what the old file had beyond its content when the run started: the owner
// and group where this run may set them, the extended attributes where it
// may set them, the old access control list entry for entry (or none,
// where the old file had none, whatever the folder's default list gave the
// new file), and the mode bits, set-user-ID included, last, since a write
// or a change of owner clears those. A new version of no old file gets the
// mode any new file there would. Best effort: what cannot be kept is not.
void carry_over_attributes(const Replacement& replacement, std::FILE* file);

// Puts the new version in the old one's place. 0, or the errno.
int commit_new_version(Replacement& replacement);

// Removes a new version that will not be kept; the old file stays as it was.
void discard_new_version(Replacement& replacement);

// For tests: called just before a new version takes the old one's place.
void set_commit_hook(void (*hook)());

// For tests: called once a new version's content is complete, before it
// gets its attributes.
void set_carry_over_hook(void (*hook)());

} // namespace tarnwel
