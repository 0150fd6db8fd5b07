// How a stream ends, and the empty input's stream: the one place that says
// so (docs/format.md has the layout).
//
// A stream ends with the code of the string still open when the input ran
// out, then the end code. The bits that do not fill a byte are dropped: the
// writer never flushes its accumulator, and a reader takes every byte past
// the end of the file as 0xFF, which completes the end code.
//
// An empty input has no open string: its stream is two end codes, which at
// any width are two whole bytes of ones.
//
// So a writer's file holds every code but the end code whole, and at least
// width - 7 bits of the end code: a reader that meets any other code
// reaching past the end of the file, or an end code lacking more bits, has
// a stream cut short, never one a writer made.
#pragma once

#include <cstdint>

#include "code_stream.h"
#include "widths.h"

namespace tarnwel {

// The most bits of the end code the writer leaves out: those that would
// start a byte of their own.
inline constexpr int unwritten_end_bits = 7;

// Whether a code that lacks `missing` bits past the end of the file (read as
// ones) may be the writer's: any code written whole, or the end code lacking
// at most the bits the writer leaves out.
inline bool whole_as_written(std::uint32_t code, int width, std::uint64_t missing) {
    return missing == 0 || (code == end_code(width) && missing <= unwritten_end_bits);
}

inline void put_stream_end(CodeWriter& writer, std::uint32_t last) {
    put_code(writer, last);
    put_code(writer, end_code(writer.width));
}

inline void put_empty_stream(CodeWriter& writer) {
    put_code(writer, end_code(writer.width));
    put_code(writer, end_code(writer.width));
}

} // namespace tarnwel
