// The straightforward expander, spelling each string backwards through the
// prefix links: the oracle the fast expander is checked against.
//
// The expander rebuilds the compressor's dictionary by code number, in the
// order the compressor assigned the codes, and spells each code's string.
//
// Entries are only ever added in code order, each one's prefix below its own
// code, so any code below free_code has a fully defined chain that ends in a
// byte. A stream that names a code above free_code, or starts with anything
// but a byte or the end code, cannot come from the compressor and is refused
// before any table entry is read.
#pragma once

#include <cstdint>
#include <cstdio>

#include "mapped_array.h"

#include "byte_io.h"
#include "codec_result.h"

namespace tarnwel::reference {

struct ExpanderTables {
    int width = 12;
    MappedArray<std::int32_t> prefix_table; // indexed by code; set before it is read
    MappedArray<std::uint8_t> byte_table;   // indexed by code; set before it is read
    // Holds one string spelled backwards. The longest string a valid stream
    // carries at a width is 2^width - 256 bytes (the code one below last_code,
    // extended by its own first byte), so this never has to grow.
    MappedArray<std::uint8_t> unwind_stack;
};

// Sizes the tables for a width from 9 to 25. False when memory runs out.
bool allocate_expander(ExpanderTables& tables, int width);

// Spells the string of code into unwind_stack from position upwards, last
// byte first, and returns the position of its first byte. Returns -1 for a
// chain longer than any the compressor makes.
std::int64_t unwind_code(ExpanderTables& tables, std::size_t position, std::uint32_t code);

// Expands the code stream in input into output until the end code.
CodecResult expand_stream(ExpanderTables& tables, ByteSource& input, ByteSink& output);

} // namespace tarnwel::reference
