// The caller's step buffers (tarnwel_in_buffer, tarnwel_out_buffer) checked
// and handed to the codec's steps, the same way for both coders. A bad
// buffer gets TARNWEL_BAD_ARGUMENT before any byte of it is read or written.
#pragma once

#include <cstddef>
#include <cstdint>

#include "step_buffers.h"
#include "tarnwel.h"

namespace tarnwel {

// A buffer of the caller's that the library can use: pos within size, and
// no size that no object could have (nor one whose end wraps around).
inline bool buffer_usable(const void* data, std::size_t size, std::size_t pos) {
    if (pos > size || size > static_cast<std::size_t>(PTRDIFF_MAX)) return false;
    if (data == nullptr) return size == 0;
    return size <= UINTPTR_MAX - reinterpret_cast<std::uintptr_t>(data);
}

inline bool buffers_usable(const tarnwel_in_buffer& in, const tarnwel_out_buffer& out) {
    return buffer_usable(in.data, in.size, in.pos) && buffer_usable(out.data, out.size, out.pos);
}

inline StepInput step_input(const tarnwel_in_buffer& in, int input_ends) {
    return {static_cast<const std::uint8_t*>(in.data), in.size, in.pos, input_ends != 0};
}

inline StepOutput step_output(const tarnwel_out_buffer& out) {
    return {static_cast<std::uint8_t*>(out.data), out.size, out.pos};
}

} // namespace tarnwel
