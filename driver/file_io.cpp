#include "file_io.h"

#include <cerrno>

#include "files.h"
#include "last_error.h"

namespace tarnwel {

namespace {

// Writeback is started a stretch at a time: large enough that the calls
// are few, small enough that little is left for the end.
constexpr std::uint64_t writeback_stretch = std::uint64_t{4} << 20;

} // namespace

FileSource::FileSource(std::FILE* file, std::function<void(std::uint64_t)> progress)
    : file_(file), progress_(std::move(progress)), size_(regular_file_size(file)) {
    // A file is read from its first byte, wherever it was left.
    if (size_) error_ = seek_file(file, 0);
}

std::size_t FileSource::read(std::uint8_t* buffer, std::size_t capacity) {
    if (error_ != 0) return 0;
    errno = 0;
    std::size_t got = std::fread(buffer, 1, capacity, file_);
    if (got == 0) {
        if (std::ferror(file_)) error_ = last_error_or();
        return 0;
    }
    if (progress_) progress_(read_);
    read_ += got;
    return got;
}

bool FileSink::failed(int error_number) {
    if (error_ == 0) error_ = error_number;
    return false;
}

bool FileSink::write_at(std::uint64_t position, const std::uint8_t* data, std::size_t count) {
    if (error_ != 0) return false;
    if (position != position_) {
        int error_number = seek_file(file_, position);
        if (error_number != 0) return failed(error_number);
        position_ = position;
    }
    errno = 0;
    if (std::fwrite(data, 1, count, file_) != count) return failed(last_error_or());
    position_ += count;
    if (write_back_early_ && position_ >= written_back_ + writeback_stretch &&
        std::fflush(file_) == 0) {
        start_writeback(file_, written_back_, position_ - written_back_);
        written_back_ = position_;
    }
    return true;
}

bool FileSink::truncate(std::uint64_t size) {
    if (error_ != 0) return false;
    int error_number = truncate_file(file_, size);
    return error_number == 0 || failed(error_number);
}

bool FileSink::flush() {
    if (error_ != 0) return false;
    errno = 0;
    return std::fflush(file_) == 0 || failed(last_error_or());
}

namespace {

int read_from(void* context, void* buffer, std::size_t capacity, std::size_t* got) {
    auto& source = *static_cast<FileSource*>(context);
    *got = source.read(static_cast<std::uint8_t*>(buffer), capacity);
    return *got != 0 || source.error() == 0;
}

int write_to(void* context, unsigned long long position, const void* data, std::size_t count) {
    return static_cast<FileSink*>(context)->write_at(position,
                                                     static_cast<const std::uint8_t*>(data), count);
}

int truncate_to(void* context, unsigned long long size) {
    return static_cast<FileSink*>(context)->truncate(size);
}

int flush_sink(void* context) {
    return static_cast<FileSink*>(context)->flush();
}

} // namespace

tarnwel_source source_of(FileSource& source) {
    std::optional<std::uint64_t> size = source.size();
    return {&source, read_from, size ? static_cast<long long>(*size) : -1};
}

tarnwel_sink sink_of(FileSink& sink) {
    return {&sink, write_to, truncate_to, flush_sink};
}

} // namespace tarnwel
