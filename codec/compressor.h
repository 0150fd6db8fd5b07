// The compressor: one dictionary probe per input byte, one code written per
// miss, and the end code after the last one.
#pragma once

#include <cstdio>

#include "codec/byte_io.h"
#include "codec/codec_result.h"
#include "codec/dictionary.h"

namespace tarnwel {

// The library's entry point for compressing at a width the caller chose:
// compresses input from its current position into output at bits, growing
// dictionary, freshly made by init_dictionary. (The command line chooses
// the width and compresses in the same pass instead: search_and_compress in
// width_search.h, whose stream equals this one at the width it chooses.)
CodecResult compress_stream(Dictionary& dictionary, int bits, std::FILE* input, std::FILE* output,
                            ProgressHook progress = {});

} // namespace tarnwel
