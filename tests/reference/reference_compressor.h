// The straightforward compressor, over the reference dictionary: the oracle
// the fast compressor is checked against.
//
// The compressor: one dictionary probe per input byte, one code written per
// miss, and the end code after the last one.
#pragma once

#include "byte_io.h"
#include "codec_result.h"
#include "reference_dictionary.h"

namespace tarnwel::reference {

// Compresses the rest of input into output at dictionary.bits, using tables
// already allocated for that width.
CodecResult compress_stream(Dictionary& dictionary, ByteSource& input, ByteSink& output);

} // namespace tarnwel::reference
