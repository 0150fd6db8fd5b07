// The compressor: one dictionary probe per input byte, one code written per
// miss, and the end code after the last one.
#pragma once

#include <cstdio>

#include "codec/byte_io.h"
#include "codec/codec_result.h"
#include "codec/dictionary.h"

namespace tarnwel {

// Compresses input from its current position into output at bits. The
// dictionary is either freshly made by init_dictionary or the one the width
// search grew from this same input; the pass adds what it lacks.
CodecResult compress_stream(Dictionary& dictionary, int bits, std::FILE* input, std::FILE* output,
                            ProgressHook progress = {});

} // namespace tarnwel
