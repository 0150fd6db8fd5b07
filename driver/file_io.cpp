#include "driver/file_io.h"

#include <cerrno>
#include <vector>

#include "platform/files.h"
#include "platform/last_error.h"

namespace tarnwel {

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

bool open_stream_output(StreamOutput& stream, std::FILE* output) {
    stream.output = output;
    if (regular_file_size(output)) {
        stream.sink.emplace(output);
        return true;
    }
    stream.staged = true;
    stream.staging = open_staging_file(stream.staging_path, stream.staging_error);
    if (stream.staging == nullptr) return false;
    stream.sink.emplace(stream.staging);
    return true;
}

namespace {

// Copies the staging file, from its start, to the output.
int copy_staged(StreamOutput& stream) {
    stream.staging_error = seek_file(stream.staging, 0);
    std::vector<std::uint8_t> block(1 << 16);
    while (stream.staging_error == 0) {
        errno = 0;
        std::size_t got = std::fread(block.data(), 1, block.size(), stream.staging);
        if (got == 0) {
            if (std::ferror(stream.staging)) stream.staging_error = last_error_or();
            break;
        }
        errno = 0;
        if (std::fwrite(block.data(), 1, got, stream.output) != got) return last_error_or();
    }
    if (stream.staging_error != 0) return 0;
    errno = 0;
    return std::fflush(stream.output) == 0 ? 0 : last_error_or();
}

} // namespace

int finish_stream_output(StreamOutput& stream) {
    if (stream.staging == nullptr) return 0;
    int error_number = copy_staged(stream);
    close_stream_output(stream);
    return error_number;
}

void close_stream_output(StreamOutput& stream) {
    if (stream.staging != nullptr) std::fclose(stream.staging);
    stream.staging = nullptr;
}

} // namespace tarnwel
