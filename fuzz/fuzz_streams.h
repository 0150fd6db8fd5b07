// Memory-backed stdio streams for the fuzz targets, which hand the codec
// byte arrays rather than files.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace tarnwel::fuzz {

// A read-only stream over data; a zero-length input reads as end of file.
inline std::FILE* open_bytes(const std::uint8_t* data, std::size_t size) {
    static std::uint8_t nothing = 0;
    if (size == 0) {
        std::FILE* file = fmemopen(&nothing, 1, "rb");
        if (file != nullptr) std::fgetc(file);
        return file;
    }
    return fmemopen(const_cast<std::uint8_t*>(data), size, "rb");
}

// The first byte picks a width from 11 to 25.
inline int width_from(std::uint8_t byte) {
    return 11 + byte % 15;
}

} // namespace tarnwel::fuzz
