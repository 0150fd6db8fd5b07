// What the run needs to know about files beyond reading and writing them:
// whether two paths name one file, what kind of file a stream is, and how a
// file is replaced in one step.
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

// stdio's fopen for a path in UTF-8, whatever the system's own encoding.
std::FILE* open_file(const char* path, const char* mode);

// Creates or truncates path for binary writing. On Windows the file is
// opened so that it can be removed while open, as a run that is
// interrupted must. nullptr on failure, with errno set.
std::FILE* create_output_file(const char* path);

// Removes a file. 0, or the errno of the failure.
int remove_file(const char* path);

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

// 0 when path names nothing or a regular file (through links); else EISDIR
// for a folder, not_a_regular_file for anything else, or stat's errno.
int check_regular_or_absent(const char* path);

// Flushes file and cuts it to size bytes. 0, or the errno of the failure.
int truncate_file(std::FILE* file, std::uint64_t size);

// Creates a new empty file whose path starts with prefix, so in the same
// folder, and sets path to it: prefix.PID.N.tmp. 0, or the errno of the failure.
int create_unique_file(const char* prefix, std::string& path);

// Creates path as a new empty file: EEXIST when it exists already.
int create_new_file(const char* path);
unsigned long process_id();

// Where a new version of the output named by path is put together: the
// file path leads to through its symbolic links, existing or not, so that
// a link stays a link to the new file. 0 with target set when that is a
// regular file this run may write, or nothing yet; not_a_regular_file for a
// FIFO, a device or anything else that must be written in place (also a
// link the system resolves by magic, such as /dev/fd/N, whose target cannot
// be named); EISDIR for a folder; EACCES for a file this run may not write;
// or the errno of a failed look.
int replaceable_target(const char* path, std::string& target);

// Gives file the permission bits (and, where allowed, the owner) of the
// existing file at path, so that replacing path changes nothing but its
// content. Best effort: nothing happens where that is not possible.
void copy_permissions(const char* path, std::FILE* file);

// Puts from in the place of to in one step: a reader of to sees the old
// file or the new one, never a mixture. 0, or the errno of the failure.
int replace_file(const char* from, const char* to);

} // namespace tarnwel
