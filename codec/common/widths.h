// Code widths and the codes that every width reserves.
#pragma once

#include <cstdint>

namespace tarnwel {

// Compress mode chooses from this range; the stream format holds codes of at
// most 25 bits (see code_stream.h).
inline constexpr int min_width = 11;
inline constexpr int max_width = 25;

// The width a run starts from before the search or the width file moves it.
inline constexpr int default_width = 12;

// Codes 0..255 are the single bytes; 256..last_code are given to longer
// strings in the order they are first met; end_code closes every stream.
inline constexpr std::uint32_t first_free_code = 256;
inline constexpr std::uint32_t last_code(int width) {
    return (1u << width) - 2;
}
inline constexpr std::uint32_t end_code(int width) {
    return (1u << width) - 1;
}

} // namespace tarnwel
