#include "width/width_file.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>

#include "codec/widths.h"
#include "platform/files.h"
#include "platform/last_error.h"

namespace tarnwel {

namespace {

int write_width(const char* path, int bits) {
    errno = 0;
    std::FILE* file = open_file(path, "wb");
    if (file == nullptr) return last_error_or();
    bool written = std::fprintf(file, "%d", bits) > 0;
    int error = written ? 0 : last_error_or();
    errno = 0;
    if (std::fclose(file) != 0 && error == 0) error = last_error_or();
    return error;
}

// The file is read a block at a time, up to the block that holds the
// number's end: the number may follow any amount of white space, so neither
// a cap on the length nor the whole file in memory will do.
struct WidthReader {
    std::FILE* file;
    std::array<char, 4096> block{};
    std::size_t size = 0; // characters of block read from the file
    std::size_t at = 0;   // the next character to look at; at == size means none left
    int error = 0;        // the errno of a failed read, which ends the reading
};

// The next character without taking it, or EOF at the end of the file or
// after a failed read.
int peek(WidthReader& reader) {
    if (reader.at == reader.size) {
        if (reader.error != 0 || std::feof(reader.file) != 0) return EOF;
        errno = 0;
        reader.size = std::fread(reader.block.data(), 1, reader.block.size(), reader.file);
        reader.at = 0;
        if (std::ferror(reader.file) != 0) reader.error = last_error_or();
        if (reader.size == 0) return EOF;
    }
    return static_cast<unsigned char>(reader.block[reader.at]);
}

bool is_space(int c) {
    return c != EOF && std::isspace(c) != 0;
}

bool is_digit(int c) {
    return c != EOF && std::isdigit(c) != 0;
}

WidthFileResult parse_width(WidthReader& reader, int& bits) {
    while (is_space(peek(reader)))
        ++reader.at;
    bool negative = false;
    if (peek(reader) == '+' || peek(reader) == '-') negative = reader.block[reader.at++] == '-';
    if (!is_digit(peek(reader))) {
        if (reader.error != 0) return {WidthFileStatus::unreadable, reader.error};
        return {WidthFileStatus::not_a_number, 0};
    }
    std::int64_t value = 0;
    for (int c = peek(reader); is_digit(c); c = peek(reader)) {
        // Any number past max_bits is refused, however many digits it has.
        value = std::min<std::int64_t>(value * 10 + (c - '0'), max_bits + 1);
        ++reader.at;
    }
    // A read that failed inside the number leaves its end unknown.
    if (reader.error != 0) return {WidthFileStatus::unreadable, reader.error};
    if (negative || value < min_bits || value > max_bits) return {WidthFileStatus::out_of_range, 0};
    bits = static_cast<int>(value);
    return {};
}

} // namespace

int reserve_width_file(const char* path, StagedWidth& staged) {
    int error = check_regular_or_absent(path);
    if (error == 0) error = create_unique_file(path, staged.temporary);
    return error;
}

int write_staged_width(const StagedWidth& staged, int bits) {
    return write_width(staged.temporary.c_str(), bits);
}

int commit_width_file(StagedWidth& staged, const char* path) {
    int error = replace_file(staged.temporary.c_str(), path);
    if (error == 0)
        staged.temporary.clear();
    else
        discard_width_file(staged);
    return error;
}

void discard_width_file(StagedWidth& staged) {
    if (!staged.temporary.empty()) remove_file(staged.temporary.c_str());
    staged.temporary.clear();
}

WidthFileResult read_width_file(const char* path, int& bits) {
    int open_error = 0;
    std::FILE* file = open_regular_file(path, open_error);
    if (file == nullptr) return {WidthFileStatus::unreadable, open_error};
    WidthReader reader{file};
    WidthFileResult result = parse_width(reader, bits);
    std::fclose(file);
    return result;
}

} // namespace tarnwel
