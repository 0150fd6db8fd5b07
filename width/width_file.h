// The width file carries the width from a compressing run to an expanding one: the
// compressed stream itself does not record it. It holds the width in decimal
// and nothing else, not even a line break.
//
// A compressing run never rewrites it in place: the new width goes to a
// new file beside it (beside the file it leads to, where it is a symbolic
// link), which takes its place in one step once the stream is complete. A
// reader meanwhile sees the old width or the new one, and a run that fails
// leaves the old one, which may belong to another file compressed in the
// same folder.
#pragma once

#include <cstdio>
#include <string>

#include "replacement.h"

namespace tarnwel {

inline constexpr const char* width_file_name = "bits.txt";

struct StagedWidth {
    Replacement replacement;   // the new width's file, beside the old one
    std::FILE* file = nullptr; // open on it until the width is written
};

// Creates an empty new file beside path, to take its place later, and so
// shows before anything else is done that path can be replaced. Refuses a
// path that names anything but a regular file (a folder, a FIFO). Returns
// 0, or the error number.
int reserve_width_file(const char* path, StagedWidth& staged);

// Writes bits to the reserved file and closes it, with the old width
// file's permissions. Returns 0, or the error number.
int write_staged_width(StagedWidth& staged, int width);

// Puts the staged width in place of the old one (or, on a failure, removes
// it). Returns 0, or the errno.
int commit_width_file(StagedWidth& staged);

// Removes the staged width, leaving the old one as it was.
void discard_width_file(StagedWidth& staged);

enum class WidthFileStatus {
    ok,           // bits holds the width read
    not_a_number, // no number at the start: bits is left as it was
    out_of_range, // a number, but not a width from 11 to 25
    unreadable,   // not a readable regular file; error_number says why
};

struct WidthFileResult {
    WidthFileStatus status = WidthFileStatus::ok;
    int error_number = 0;
};

// Reads a decimal width the way "%d" would: any amount of white space, an
// optional sign, digits. Anything after the digits is ignored. The file is
// opened once and never waited on: a FIFO or a device is refused, not read.
WidthFileResult read_width_file(const char* path, int& width);

} // namespace tarnwel
