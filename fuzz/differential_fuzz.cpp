// The fast paths against the straightforward ones, on arbitrary bytes at an
// arbitrary width: the same compressed stream, the same width choice and
// stream from the one-pass search, and the same expansion (status and
// bytes) of arbitrary data read as a stream.
#include <cstdlib>

#include "compressor.h"
#include "expander.h"
#include "fuzz_streams.h"
#include "reference_compressor.h"
#include "reference_expander.h"
#include "reference_width_search.h"

namespace {

using namespace tarnwel;

void check_compressor(const std::uint8_t* data, std::size_t size, int width) {
    static reference::Dictionary references[26];
    if (references[width].slot_count == 0 && !reference::allocate_tables(references[width], width))
        std::abort();
    SpanSource input(data, size);
    VectorSink fast;
    CompressOptions options;
    options.width = width;
    options.second_thread = options.force_second_thread = size % 2 == 0;
    if (compress(input, fast, options).result.status != CodecStatus::ok) std::abort();
    SpanSource again(data, size);
    VectorSink straight;
    reference::compress_stream(references[width], again, straight);
    if (fast.bytes != straight.bytes) std::abort();
}

void check_search(const std::uint8_t* data, std::size_t size, int cap) {
    SpanSource input(data, size);
    VectorSink fast;
    CompressOptions options;
    options.cap = cap;
    // The frozen parse on a second thread, even where one processor is all
    // the fuzzer has, or a ring behind on this one.
    options.second_thread = options.force_second_thread = size % 2 == 0;
    CompressResult one_pass = compress(input, fast, options);
    CompressResult trials = reference::search_width(data, size, {}, cap);
    reference::Dictionary dictionary;
    if (!reference::allocate_tables(dictionary, trials.width)) std::abort();
    SpanSource again(data, size);
    VectorSink straight;
    reference::compress_stream(dictionary, again, straight);
    if (one_pass.result.status != CodecStatus::ok || one_pass.width != trials.width ||
        one_pass.last_trial_width != trials.last_trial_width ||
        one_pass.last_trial_fit != trials.last_trial_fit || fast.bytes != straight.bytes)
        std::abort();
}

void check_expander(const std::uint8_t* data, std::size_t size, int width) {
    static ExpanderTables fast_tables[26];
    static reference::ExpanderTables straight_tables[26];
    if (fast_tables[width].records.empty() && !allocate_expander(fast_tables[width], width))
        std::abort();
    if (straight_tables[width].unwind_stack.empty() &&
        !reference::allocate_expander(straight_tables[width], width))
        std::abort();
    SpanSource input(data, size);
    VectorSink fast;
    CodecStatus fast_status = expand_stream(fast_tables[width], input, fast).status;
    SpanSource again(data, size);
    VectorSink straight;
    CodecStatus straight_status =
        reference::expand_stream(straight_tables[width], again, straight).status;
    if (fast_status != straight_status || fast.bytes != straight.bytes) std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    int width = fuzz::width_from(data[0]);
    // Caps from 12 to 14 make the search stop early on small inputs too.
    int cap = 12 + data[1] % 3;
    check_compressor(data + 2, size - 2, width);
    check_search(data + 2, size - 2, cap);
    check_expander(data + 2, size - 2, width);
    return 0;
}
