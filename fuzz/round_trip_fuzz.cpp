// Arbitrary bytes compressed at an arbitrary width come back unchanged.
#include <cstdlib>
#include <cstring>

#include "compressor.h"
#include "expander.h"
#include "fuzz_streams.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tarnwel;
    if (size == 0) return 0;
    int width = fuzz::width_from(data[0]);
    static ExpanderTables expanders[26];
    if (expanders[width].records.empty() && !allocate_expander(expanders[width], width))
        std::abort();

    SpanSource input(data + 1, size - 1);
    VectorSink packed;
    CompressOptions options;
    options.width = width;
    options.second_thread = false;
    if (compress(input, packed, options).result.status != CodecStatus::ok) std::abort();

    SpanSource compressed(packed.bytes.data(), packed.bytes.size());
    VectorSink restored;
    if (expand_stream(expanders[width], compressed, restored).status != CodecStatus::ok)
        std::abort();
    if (restored.bytes.size() != size - 1 ||
        (size > 1 && std::memcmp(restored.bytes.data(), data + 1, size - 1) != 0))
        std::abort();
    return 0;
}
