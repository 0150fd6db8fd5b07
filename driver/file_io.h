// The files behind the library's source and sink (tarnwel_source and
// tarnwel_sink): the driver owns every file decision, the library sees only
// bytes.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>

#include "tarnwel.h"

namespace tarnwel {

// Reads a file from its first byte (a pipe: from where it stands), and
// reports before each block the bytes read before it. A failure ends the
// input and keeps its error number.
class FileSource {
public:
    explicit FileSource(std::FILE* file, std::function<void(std::uint64_t)> progress = {});
    // Up to capacity bytes; 0 at the end or on a failure.
    std::size_t read(std::uint8_t* buffer, std::size_t capacity);
    int error() const { return error_; }
    // A regular file's size, known ahead; none for a pipe.
    std::optional<std::uint64_t> size() const { return size_; }

private:
    std::FILE* file_;
    std::function<void(std::uint64_t)> progress_;
    std::optional<std::uint64_t> size_;
    std::uint64_t read_ = 0;
    int error_ = 0;
};

// Writes into a file through stdio, seeking only when a write does not go
// where the last one ended: an output that cannot seek takes any number of
// writes from front to back. Each call is false on a failure, and the
// first failure's error number is kept.
class FileSink {
public:
    explicit FileSink(std::FILE* file) : file_(file) {}
    // For a new file that will replace an existing one. A file system that
    // allocates a file's blocks only as it writes them out (ext4) does all
    // of that for the new file when it takes the old one's name, and the
    // run would wait for it at the very end; started as the file grows, it
    // is done on the writer's thread while the run goes on.
    void write_back_early() { write_back_early_ = true; }
    bool write_at(std::uint64_t position, const std::uint8_t* data, std::size_t count);
    bool truncate(std::uint64_t size);
    bool flush();
    int error() const { return error_; }

private:
    bool failed(int error_number);
    std::FILE* file_;
    std::uint64_t position_ = 0;
    bool write_back_early_ = false;
    std::uint64_t written_back_ = 0; // writeback is started for the bytes below it
    int error_ = 0;
};

// The file source and sink as the library takes them; they stay the
// files', which keep the error number of a failure for the messages.
tarnwel_source source_of(FileSource& source);
tarnwel_sink sink_of(FileSink& sink);

} // namespace tarnwel
