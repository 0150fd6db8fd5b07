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
#pragma once

#include "codec/code_stream.h"
#include "codec/widths.h"

namespace tarnwel {

inline void put_stream_end(CodeWriter& writer, std::uint32_t last) {
    put_code(writer, last);
    put_code(writer, end_code(writer.width));
}

inline void put_empty_stream(CodeWriter& writer) {
    put_code(writer, end_code(writer.width));
    put_code(writer, end_code(writer.width));
}

} // namespace tarnwel
