#include "width_file.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>

#include "files.h"
#include "last_error.h"
#include "widths.h"

namespace tarnwel {

namespace {

// Reads the number as "%d" reads it from a stream: to its end, after any
// amount of white space, a character at a time from stdio's buffer, so
// that neither a cap on the length nor the whole file in memory is needed.
WidthFileResult parse_width(std::FILE* file, int& width) {
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
        value = std::min<std::int64_t>(value * 10 + (c - '0'), max_width + 1);
    }
    // A read that failed before the number ended leaves it unknown.
    if (c == EOF && std::ferror(file) != 0) return {WidthFileStatus::unreadable, last_error_or()};
    if (!digits) return {WidthFileStatus::not_a_number, 0};
    if (negative || value < min_width || value > max_width)
        return {WidthFileStatus::out_of_range, 0};
    width = static_cast<int>(value);
    return {};
}

} // namespace

int reserve_width_file(const char* path, StagedWidth& staged) {
    // Never in place: a run that fails must leave the old width.
    return open_new_version(path, false, staged.replacement, staged.file);
}

int write_staged_width(StagedWidth& staged, int width) {
    std::FILE* file = staged.file;
    staged.file = nullptr;
    errno = 0;
    int error = std::fprintf(file, "%d", width) > 0 && std::fflush(file) == 0 ? 0 : last_error_or();
    carry_over_attributes(staged.replacement, file);
    errno = 0;
    if (std::fclose(file) != 0 && error == 0) error = last_error_or();
    return error;
}

int commit_width_file(StagedWidth& staged) {
    int error = commit_new_version(staged.replacement);
    discard_width_file(staged);
    return error;
}

void discard_width_file(StagedWidth& staged) {
    if (staged.file != nullptr) std::fclose(staged.file);
    staged.file = nullptr;
    discard_new_version(staged.replacement);
}

WidthFileResult read_width_file(const char* path, int& width) {
    int open_error = 0;
    std::FILE* file = open_regular_file(path, open_error);
    if (file == nullptr) return {WidthFileStatus::unreadable, open_error};
    WidthFileResult result = parse_width(file, width);
    std::fclose(file);
    return result;
}

} // namespace tarnwel
