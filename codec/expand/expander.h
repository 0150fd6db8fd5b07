// The expander rebuilds the compressor's dictionary by code number, in the
// order the compressor assigned the codes, and writes each code's string.
//
// Every string in the dictionary has already been written out once: code k
// is the string of the code before it followed by one byte, and that string
// sits in the output where the two codes were expanded. So rather than
// spelling a string backwards link by link, the expander keeps short
// strings whole in their code's record, remembers where each longer one
// last appeared and copies it from there, as long as that spot is still in
// the window of recent output it keeps. Older spots fall back to following
// the prefix links, which are kept as well. Each link waits for a cache miss,
// so such strings get their place in the window reserved and are spelled a
// batch at a time, many chains side by side; a new entry that needs such a
// string's first byte waits with it.
//
// Entries are only ever added in code order, each one's prefix below its own
// code, so any code below free_code has a fully defined chain that ends in a
// byte. A stream that names a code above free_code, or starts with anything
// but a byte or the end code, cannot come from the compressor and is refused
// before any table entry is read.
#pragma once

#include <cstdint>

#include "byte_io.h"
#include "codec_result.h"
#include "expander_tables.h"

namespace tarnwel {

// Expands the code stream from input into output until the end code,
// writing output from front to back. Running out of memory throws
// std::bad_alloc here, whether on this thread or on the writer's (an
// output in memory grows as it is written).
CodecResult expand_stream(ExpanderTables& tables, ByteSource& input, ByteSink& output);

} // namespace tarnwel
