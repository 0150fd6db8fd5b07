// The width file carries BITS from a compressing run to an expanding one: the
// compressed stream itself does not record it. It holds the width in decimal
// and nothing else, not even a line break.
#pragma once

namespace tarnwel {

inline constexpr const char* width_file_name = "bits.txt";

// Replaces the file's content with bits. Returns 0, or the errno of the
// failure (creating, writing or closing).
int write_width_file(const char* path, int bits);

enum class WidthFileStatus {
    ok,           // bits holds the width read
    not_a_number, // no number at the start: bits is left as it was
    out_of_range, // a number, but not a width from 11 to 25
    unreadable,   // the file could not be opened or read; error_number says why
};

struct WidthFileResult {
    WidthFileStatus status = WidthFileStatus::ok;
    int error_number = 0;
};

// Reads a decimal width the way "%d" would: leading white space, an optional
// sign, digits. Anything after the digits is ignored.
WidthFileResult read_width_file(const char* path, int& bits);

} // namespace tarnwel
