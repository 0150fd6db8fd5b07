// Arbitrary bytes compressed at an arbitrary width come back unchanged.
#include <cstdlib>
#include <cstring>

#include "codec/compressor.h"
#include "codec/expander.h"
#include "fuzz_streams.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tarnwel;
    if (size == 0) return 0;
    int bits = fuzz::width_from(data[0]);
    static ExpanderTables expanders[26];
    if (expanders[bits].records.empty() && !allocate_expander(expanders[bits], bits)) std::abort();
    Dictionary dictionary;
    if (!init_dictionary(dictionary)) std::abort();

    char* stream = nullptr;
    std::size_t stream_size = 0;
    std::FILE* input = fuzz::open_bytes(data + 1, size - 1);
    std::FILE* packed = open_memstream(&stream, &stream_size);
    if (compress_stream(dictionary, bits, input, packed).status != CodecStatus::ok) std::abort();
    std::fclose(input);
    std::fclose(packed);

    char* restored = nullptr;
    std::size_t restored_size = 0;
    std::FILE* compressed = fuzz::open_bytes(reinterpret_cast<std::uint8_t*>(stream), stream_size);
    std::FILE* output = open_memstream(&restored, &restored_size);
    if (expand_stream(expanders[bits], compressed, output).status != CodecStatus::ok) std::abort();
    std::fclose(compressed);
    std::fclose(output);
    if (restored_size != size - 1 || (size > 1 && std::memcmp(restored, data + 1, size - 1) != 0))
        std::abort();
    std::free(stream);
    std::free(restored);
    return 0;
}
