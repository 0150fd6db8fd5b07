// Where the output goes.
//
// A regular output, or one that does not exist yet, is written as a new
// file beside the file its name leads to, which takes that file's place
// only once complete: until then the old file keeps its content under
// every name it has, and a failed or interrupted run removes only the new
// file. Where no new file can take its place (a folder this run may not
// write, another user's file in a folder with the sticky bit, an
// append-only folder) but the file itself may be written, it is written in
// place, and a run that fails empties it. Anything else (a pipe, a FIFO,
// a device) is written where it is. A run refuses an output it can neither
// replace nor write before it reads any input.
//
// A compressing run writes its stream into a regular output as it goes
// (the codec goes back for the front of the stream at the end). An output
// that cannot seek gets the stream through a staging file, copied out once
// the stream is complete.
#pragma once

#include <cstdio>
#include <optional>
#include <string>

#include "file_io.h"
#include "replacement.h"

namespace tarnwel {

struct OutputFile {
    const char* path = nullptr; // as the command line names it
    std::FILE* file = nullptr;  // open from open_output_file to keep_output_file
    bool replacing = false;     // a regular file (or none yet), not a pipe or device
    Replacement replacement;    // where replacing: the new version
    int guard = -1;
};

// True when the output is a new file that will take an existing one's name.
inline bool replaces_existing_file(const OutputFile& output) {
    return output.replacing && output.replacement.exists && !output.replacement.in_place;
}

// Opens the output for writing. Opening a FIFO waits for its reader, and
// that wait stays interruptible. 0, or the errno (not_a_regular_file never
// comes back: such outputs are written in place).
int open_output_file(OutputFile& output);

// After the last write: gives a new version the old file's attributes and
// closes the output (a file written in place stays open until it is kept,
// for its guard). 0, or the errno, where a full disk may show itself only
// now.
int finish_output_file(OutputFile& output);

// Puts a finished output in its place for good; the caller holds the
// signals. 0, or the errno.
int keep_output_file(OutputFile& output);

// At the run's end, after the guarded files were dealt with: closes what
// is open and removes a new version that was not kept.
void release_output_file(OutputFile& output);

// Where a compressing run's stream goes: the output itself when it is a
// regular file, else a staging file.
struct StreamOutput {
    std::FILE* output = nullptr;
    bool staged = false;          // the output cannot seek
    std::FILE* staging = nullptr; // the staging file, while open
    std::string staging_path;
    int staging_error = 0; // of making the staging file, or of copying from it
    std::optional<FileSink> sink;
};

// False when the output needs a staging file and none can be made
// (staging_error and staging_path say why and where).
bool open_stream_output(StreamOutput& stream, std::FILE* output);

// Copies a staged stream to the output and closes the staging file.
// 0, or the errno of a failed write to the output; a failure to read the
// staging file back sets staging_error instead.
int finish_stream_output(StreamOutput& stream);

// Closes a staging file left open by a run that failed.
void close_stream_output(StreamOutput& stream);

} // namespace tarnwel
