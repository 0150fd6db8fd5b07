// Arbitrary bytes expanded at an arbitrary width must end cleanly or as a
// corrupt stream: never a crash, a hang, or a read outside the tables.
#include <cstdlib>

#include "expander.h"
#include "fuzz_streams.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tarnwel;
    if (size == 0) return 0;
    int width = fuzz::width_from(data[0]);
    // Tables are reused across inputs, so entries left by an earlier stream
    // are there to be (wrongly) read.
    static ExpanderTables tables[26];
    if (tables[width].records.empty() && !allocate_expander(tables[width], width)) std::abort();
    SpanSource input(data + 1, size - 1);
    VectorSink output;
    CodecResult result = expand_stream(tables[width], input, output);
    if (result.status != CodecStatus::ok && result.status != CodecStatus::corrupt_stream)
        std::abort();
    return 0;
}
