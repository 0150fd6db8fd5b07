#include "width/width_file.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>

#include "platform/files.h"
#include "platform/last_error.h"
#include "tarnwel.h"

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

// Reads the number as "%d" reads it from a stream: to its end, after any
// amount of white space, a character at a time from stdio's buffer, so
// that neither a cap on the length nor the whole file in memory is needed.
WidthFileResult parse_width(std::FILE* file, int& bits) {
    errno = 0;
    int c = std::getc(file);
    while (c != EOF && std::isspace(c) != 0)
        c = std::getc(file);
    bool negative = c == '-';
    if (c == '+' || c == '-') c = std::getc(file);
    bool digits = c != EOF && std::isdigit(c) != 0;
    std::int64_t value = 0;
    for (; c != EOF && std::isdigit(c) != 0; c = std::getc(file)) {
        // Any number past the widest width is refused, however many digits it has.
        value = std::min<std::int64_t>(value * 10 + (c - '0'), TARNWEL_MAX_WIDTH + 1);
    }
    // A read that failed before the number ended leaves it unknown.
    if (c == EOF && std::ferror(file) != 0) return {WidthFileStatus::unreadable, last_error_or()};
    if (!digits) return {WidthFileStatus::not_a_number, 0};
    if (negative || value < TARNWEL_MIN_WIDTH || value > TARNWEL_MAX_WIDTH)
        return {WidthFileStatus::out_of_range, 0};
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
    WidthFileResult result = parse_width(file, bits);
    std::fclose(file);
    return result;
}

} // namespace tarnwel
