// What the run needs to know about files beyond reading and writing them:
// whether two paths name one file and what kind of file a stream is (how a
// file is replaced is in replacement.h).
//
// File identity is the device and file number: every spelling of a path,
// symbolic links and hard links included, leads to the same pair. A path
// that names nothing yet is identified by the folder it would be created in
// and its last name, after following a dangling symbolic link the way
// creating it would.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

namespace tarnwel {

// Creates or truncates path for binary writing. On Windows the file is
// opened so that it can be removed while open, as a run that is
// interrupted must. nullptr on failure, with errno set.
std::FILE* create_output_file(const char* path);

// A new file open for reading and writing that disappears once closed, for
// staging an output: in $TMPDIR (or /tmp when that is unset or empty), and
// on Linux already unlinked, so that nothing is left behind even if the
// process is killed; on Windows in the system's temporary folder. Sets path
// to its name (on failure, to the name it would have had, or its folder);
// nullptr on failure, with error set.
std::FILE* open_staging_file(std::string& path, int& error);

// Moves file's position to position, which may lie past 2 GiB. 0, or the
// errno of the failure.
int seek_file(std::FILE* file, std::uint64_t position);

// Opens path for binary reading; folders are refused with EISDIR, since
// stdio would open them and fail only on the first read. nullptr on
// failure, with errno set.
std::FILE* open_input_file(const char* path);

// True when path exists and is the file open as file.
bool is_same_file(std::FILE* file, const char* path);

// True when the two paths name one file, or, where neither exists yet, one
// place where a file would be created.
bool is_same_place(const char* first, const char* second);

// The size of a regular file; nothing for a pipe, a terminal, a device.
std::optional<std::uint64_t> regular_file_size(std::FILE* file);

// Opens path for binary reading without waiting on it (a FIFO with no
// writer would block an ordinary open) and keeps it only if it is a regular
// file. nullptr on failure, with error set: errno, EISDIR for a folder,
// not_a_regular_file for anything else.
std::FILE* open_regular_file(const char* path, int& error);

// Asks the system to start writing length bytes of file from offset to
// its disk, without waiting for them (Linux; elsewhere it does nothing).
// The bytes must have left stdio's buffer. Best effort: nothing is
// reported.
void start_writeback(std::FILE* file, std::uint64_t offset, std::uint64_t length);

// Flushes file and cuts it to size bytes. 0, or the errno of the failure.
int truncate_file(std::FILE* file, std::uint64_t size);

unsigned long process_id();

} // namespace tarnwel
