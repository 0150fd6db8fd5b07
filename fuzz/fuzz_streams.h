// Memory-backed stdio streams for the fuzz targets, which hand the codec
// byte arrays rather than files.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace tarnwel::fuzz {

// A read-only stream over data. A zero-length input is /dev/null, which,
// unlike a memory stream, stays empty when it is rewound.
inline std::FILE* open_bytes(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return std::fopen("/dev/null", "rb");
    return fmemopen(const_cast<std::uint8_t*>(data), size, "rb");
}

// The first byte picks a width from 11 to 25.
inline int width_from(std::uint8_t byte) {
    return 11 + byte % 15;
}

} // namespace tarnwel::fuzz
