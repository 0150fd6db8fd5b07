#include "width/width_file.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <string>

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
    WidthFileResult result;
    int open_error = 0;
    std::FILE* file = open_regular_file(path, open_error);
    if (file == nullptr) return {WidthFileStatus::unreadable, open_error};
    // A width needs a handful of characters; the cap only guards against a
    // huge file of that name.
    std::string text(4096, '\0');
    errno = 0;
    text.resize(std::fread(text.data(), 1, text.size(), file));
    bool failed = std::ferror(file) != 0;
    int error = last_error_or();
    std::fclose(file);
    if (failed) return {WidthFileStatus::unreadable, error};

    std::size_t at = 0;
    while (at < text.size() && std::isspace(static_cast<unsigned char>(text[at])))
        ++at;
    bool negative = false;
    if (at < text.size() && (text[at] == '+' || text[at] == '-')) negative = text[at++] == '-';
    if (at == text.size() || !std::isdigit(static_cast<unsigned char>(text[at])))
        return {WidthFileStatus::not_a_number, 0};
    std::int64_t value = 0;
    for (; at < text.size() && std::isdigit(static_cast<unsigned char>(text[at])); ++at) {
        // Any number past max_bits is refused, however many digits it has.
        value = std::min<std::int64_t>(value * 10 + (text[at] - '0'), max_bits + 1);
    }
    if (negative || value < min_bits || value > max_bits) return {WidthFileStatus::out_of_range, 0};
    bits = static_cast<int>(value);
    return result;
}

} // namespace tarnwel
