#include "width/width_file.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <string>

#include "codec/widths.h"

namespace tarnwel {

namespace {

int error_or(int fallback) {
    return errno != 0 ? errno : fallback;
}

} // namespace

int write_width_file(const char* path, int bits) {
    errno = 0;
    std::FILE* file = std::fopen(path, "w");
    if (file == nullptr) return error_or(EIO);
    bool written = std::fprintf(file, "%d", bits) > 0;
    int error = written ? 0 : error_or(EIO);
    errno = 0;
    if (std::fclose(file) != 0 && error == 0) error = error_or(EIO);
    return error;
}

WidthFileResult read_width_file(const char* path, int& bits) {
    WidthFileResult result;
    errno = 0;
    std::FILE* file = std::fopen(path, "r");
    if (file == nullptr) return {WidthFileStatus::unreadable, error_or(ENOENT)};
    // A width needs a handful of characters; the cap only guards against a
    // huge file of that name.
    std::string text(4096, '\0');
    errno = 0;
    text.resize(std::fread(text.data(), 1, text.size(), file));
    bool failed = std::ferror(file) != 0;
    int error = error_or(EIO);
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
