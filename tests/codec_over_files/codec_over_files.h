// The driver's file source and sink as the codec's own ByteSource and
// ByteSink. The command hands its files to the library through the C
// interface; tests and bench programs that drive the codec directly, and
// check the error numbers it passes on, wrap them with these.
#pragma once

#include "byte_streams.h"
#include "file_io.h"

namespace tarnwel::test {

class CodecSourceOver : public ByteSource {
public:
    explicit CodecSourceOver(FileSource& file) : file_(file) {}
    std::size_t read(std::uint8_t* buffer, std::size_t capacity) override {
        return file_.read(buffer, capacity);
    }
    int error() const override { return file_.error(); }
    std::optional<std::uint64_t> size() const override { return file_.size(); }

private:
    FileSource& file_;
};

class CodecSinkOver : public ByteSink {
public:
    explicit CodecSinkOver(FileSink& file) : file_(file) {}
    bool write_at(std::uint64_t position, const std::uint8_t* data, std::size_t count) override {
        return file_.write_at(position, data, count);
    }
    bool truncate(std::uint64_t size) override { return file_.truncate(size); }
    bool flush() override { return file_.flush(); }
    int error() const override { return file_.error(); }

private:
    FileSink& file_;
};

} // namespace tarnwel::test
