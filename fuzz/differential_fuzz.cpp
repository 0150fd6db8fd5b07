// The fast paths against the straightforward ones, on arbitrary bytes at an
// arbitrary width: the same compressed stream, the same width choice and
// stream from the one-pass search, and the same expansion (status and
// bytes) of arbitrary data read as a stream.
#include <cstdlib>

#include "codec/compressor.h"
#include "codec/expander.h"
#include "fuzz_streams.h"
#include "reference/reference_compressor.h"
#include "reference/reference_expander.h"
#include "reference/reference_width_search.h"

namespace {

using namespace tarnwel;

void check_compressor(const std::uint8_t* data, std::size_t size, int bits) {
    static reference::Dictionary references[26];
    if (references[bits].slot_count == 0 && !reference::allocate_tables(references[bits], bits))
        std::abort();
    SpanSource input(data, size);
    VectorSink fast;
    CompressOptions options;
    options.bits = bits;
    options.second_thread = size % 2 == 0;
    if (compress(input, fast, options).result.status != CodecStatus::ok) std::abort();
    SpanSource again(data, size);
    VectorSink straight;
    reference::compress_stream(references[bits], again, straight);
    if (fast.bytes != straight.bytes) std::abort();
}

void check_search(const std::uint8_t* data, std::size_t size, int cap) {
    SpanSource input(data, size);
    VectorSink fast;
    CompressOptions options;
    options.cap = cap;
    // The frozen parse on a second thread, or after each block on this one.
    options.second_thread = size % 2 == 0;
    WidthChoice one_pass = compress(input, fast, options);
    WidthChoice trials = reference::search_width(data, size, {}, cap);
    reference::Dictionary dictionary;
    if (!reference::allocate_tables(dictionary, trials.bits)) std::abort();
    SpanSource again(data, size);
    VectorSink straight;
    reference::compress_stream(dictionary, again, straight);
    if (one_pass.result.status != CodecStatus::ok || one_pass.bits != trials.bits ||
        one_pass.last_trial_bits != trials.last_trial_bits ||
        one_pass.last_trial_fit != trials.last_trial_fit || fast.bytes != straight.bytes)
        std::abort();
}

void check_expander(const std::uint8_t* data, std::size_t size, int bits) {
    static ExpanderTables fast_tables[26];
    static reference::ExpanderTables straight_tables[26];
    if (fast_tables[bits].records.empty() && !allocate_expander(fast_tables[bits], bits))
        std::abort();
    if (straight_tables[bits].unwind_stack.empty() &&
        !reference::allocate_expander(straight_tables[bits], bits))
        std::abort();
    SpanSource input(data, size);
    VectorSink fast;
    CodecStatus fast_status = expand_stream(fast_tables[bits], input, fast).status;
    SpanSource again(data, size);
    VectorSink straight;
    CodecStatus straight_status =
        reference::expand_stream(straight_tables[bits], again, straight).status;
    if (fast_status != straight_status || fast.bytes != straight.bytes) std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    int bits = fuzz::width_from(data[0]);
    // Caps from 12 to 14 make the search stop early on small inputs too.
    int cap = 12 + data[1] % 3;
    check_compressor(data + 2, size - 2, bits);
    check_search(data + 2, size - 2, cap);
    check_expander(data + 2, size - 2, bits);
    return 0;
}
