// Shared by the fuzz targets, which hand the codec byte arrays through the
// memory source and sink.
#pragma once

#include <cstdint>

#include "memory_streams.h"

namespace tarnwel::fuzz {

// The first byte picks a width from 11 to 25.
inline int width_from(std::uint8_t byte) {
    return 11 + byte % 15;
}

} // namespace tarnwel::fuzz
