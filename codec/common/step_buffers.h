// The caller's buffers for one step of either coder, as the step calls of
// the C interface hand them over: a step moves pos past what it used, and
// touches nothing outside [pos, size).
#pragma once

#include <cstddef>
#include <cstdint>

namespace tarnwel {

// The caller's input: data[pos, size) not yet taken.
struct StepInput {
    const std::uint8_t* data = nullptr;
    std::size_t size = 0;
    std::size_t pos = 0;
    bool ends = false; // data holds the last of the input
};

// The caller's output: data[pos, size) still free.
struct StepOutput {
    std::uint8_t* data = nullptr;
    std::size_t size = 0;
    std::size_t pos = 0;
};

} // namespace tarnwel
