// The C interface over the codec (include/tarnwel.h). Each object gathers
// its input in memory and runs the codec over it at finish, through the
// in-memory source and sink; the output then waits in the object to be
// taken. Gathering first is forced on the compressor (the width is known
// only at the end of the input) and keeps the expander as simple. An
// expander driven by steps gathers nothing (lib/capi_expander_step.cpp).
//
// Nothing may leave an extern "C" function as an exception: every entry
// point that can allocate runs inside guarded(), which turns what escapes
// into a status.
#include "tarnwel.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <new>
#include <optional>
#include <vector>

#include "capi_compressor_step.h"
#include "capi_expander_step.h"
#include "compressor.h"
#include "expander.h"
#include "memory_streams.h"
#include "width_scan.h"
#include "widths.h"

// One object's state, for both directions: the input gathered, then the
// output and how much of it the caller has taken.
struct Gathered {
    std::vector<std::uint8_t> input;
    tarnwel::VectorSink output;
    std::size_t taken = 0;
    bool finished = false;
};

struct tarnwel_compressor {
    Gathered gathered;
    int max_width = tarnwel::max_width;
    int width = 0;            // the stream's, once finished; the given one from the start
    bool width_given = false; // made by tarnwel_compressor_create_width
    bool fed = false;
    tarnwel::SteppedCompressor stepped; // driven by steps instead
};

struct tarnwel_expander {
    Gathered gathered;
    int width = 0;
    tarnwel::ExpanderTables tables;
    std::unique_ptr<tarnwel::ExpanderSteps> steps; // from the first step on
};

namespace {

// The expander has been fed bytes or finished (or run over a source): it
// is driven by feed/finish/take, and steps refuse it.
bool gathering(const tarnwel_expander& expander) {
    return expander.gathered.finished || !expander.gathered.input.empty();
}

template <class Call> tarnwel_status guarded(Call call) noexcept {
    try {
        return call();
    } catch (const std::bad_alloc&) {
        return TARNWEL_OUT_OF_MEMORY;
    } catch (...) {
        return TARNWEL_INTERNAL_ERROR;
    }
}

tarnwel_status status_of(tarnwel::CodecStatus status) {
    switch (status) {
    case tarnwel::CodecStatus::ok:
        return TARNWEL_OK;
    case tarnwel::CodecStatus::corrupt_stream:
        return TARNWEL_CORRUPT_STREAM;
    case tarnwel::CodecStatus::out_of_memory:
        return TARNWEL_OUT_OF_MEMORY;
    // Only the caller's own source and sink fail (the in-memory ones never do).
    case tarnwel::CodecStatus::read_failed:
        return TARNWEL_READ_FAILED;
    case tarnwel::CodecStatus::write_failed:
        return TARNWEL_WRITE_FAILED;
    }
    return TARNWEL_INTERNAL_ERROR;
}

// The caller's functions as the codec's source and sink. The codec takes a
// nonzero error number as the mark of a failure and passes it on; the
// caller keeps its own account of why, so any nonzero value will do.
constexpr int caller_failed = -1;

class CallerSource : public tarnwel::ByteSource {
public:
    explicit CallerSource(const tarnwel_source& source) : source_(source) {}
    std::size_t read(std::uint8_t* buffer, std::size_t capacity) override {
        std::size_t got = 0;
        if (error_ != 0) return 0;
        if (source_.read(source_.context, buffer, capacity, &got) == 0) {
            error_ = caller_failed;
            return 0;
        }
        return std::min(got, capacity);
    }
    int error() const override { return error_; }
    std::optional<std::uint64_t> size() const override {
        if (source_.size < 0) return std::nullopt;
        return static_cast<std::uint64_t>(source_.size);
    }

private:
    const tarnwel_source& source_;
    int error_ = 0;
};

class CallerSink : public tarnwel::ByteSink {
public:
    explicit CallerSink(const tarnwel_sink& sink) : sink_(sink) {}
    bool write_at(std::uint64_t position, const std::uint8_t* data, std::size_t count) override {
        return kept(sink_.write_at(sink_.context, position, data, count));
    }
    bool truncate(std::uint64_t size) override { return kept(sink_.truncate(sink_.context, size)); }
    bool flush() override { return kept(sink_.flush(sink_.context)); }
    int error() const override { return error_; }

private:
    bool kept(int done) {
        if (done == 0 && error_ == 0) error_ = caller_failed;
        return done != 0;
    }
    const tarnwel_sink& sink_;
    int error_ = 0;
};

bool source_usable(const tarnwel_source* source) {
    return source != nullptr && source->read != nullptr;
}

bool sink_usable(const tarnwel_sink* sink) {
    return sink != nullptr && sink->write_at != nullptr && sink->truncate != nullptr &&
           sink->flush != nullptr;
}

bool cap_allowed(int max_width) {
    return max_width >= 12 && max_width <= tarnwel::max_width;
}

bool width_allowed(int width) {
    return width >= tarnwel::min_width && width <= tarnwel::max_width;
}

tarnwel_status feed(Gathered& gathered, const void* data, std::size_t size) {
    if (data == nullptr && size != 0) return TARNWEL_BAD_ARGUMENT;
    if (gathered.finished) return TARNWEL_BAD_SEQUENCE;
    // More than a vector can hold, checked before any pointer past the
    // caller's buffer is formed.
    if (size > gathered.input.max_size() - gathered.input.size()) return TARNWEL_OUT_OF_MEMORY;
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    if (size != 0) gathered.input.insert(gathered.input.end(), bytes, bytes + size);
    return TARNWEL_OK;
}

tarnwel_status take(Gathered& gathered, void* output, std::size_t capacity, std::size_t* taken) {
    if (taken == nullptr || (output == nullptr && capacity != 0)) return TARNWEL_BAD_ARGUMENT;
    const std::vector<std::uint8_t>& bytes = gathered.output.bytes;
    std::size_t count = std::min(capacity, bytes.size() - gathered.taken);
    if (count != 0) std::memcpy(output, bytes.data() + gathered.taken, count);
    gathered.taken += count;
    *taken = count;
    return TARNWEL_OK;
}

// The codec's compressor with widths up to cap: what every compressing call
// runs.
tarnwel::CompressResult compress_capped(tarnwel::ByteSource& input, tarnwel::ByteSink& output,
                                        int cap, std::function<void(int)> trial_started = {},
                                        int width = 0) {
    tarnwel::CompressOptions options;
    options.cap = cap;
    options.width = width;
    options.trial_started = std::move(trial_started);
    return tarnwel::compress(input, output, options);
}

// The codec's runs over the gathered input; the output is left in the sink
// whatever the status, as far as it got.
tarnwel_status compress_gathered(tarnwel_compressor& compressor) {
    Gathered& gathered = compressor.gathered;
    gathered.finished = true;
    tarnwel::SpanSource source(gathered.input.data(), gathered.input.size());
    tarnwel::CompressResult choice =
        compress_capped(source, gathered.output, compressor.max_width, {},
                        compressor.width_given ? compressor.width : 0);
    // The input is no longer needed: give its memory back now.
    std::vector<std::uint8_t>().swap(gathered.input);
    if (choice.result.status != tarnwel::CodecStatus::ok) {
        gathered.output.bytes.clear();
        return status_of(choice.result.status);
    }
    compressor.width = choice.width;
    return TARNWEL_OK;
}

tarnwel_status expand_gathered(tarnwel_expander& expander) {
    Gathered& gathered = expander.gathered;
    gathered.finished = true;
    tarnwel::SpanSource source(gathered.input.data(), gathered.input.size());
    tarnwel::CodecResult result = tarnwel::expand_stream(expander.tables, source, gathered.output);
    std::vector<std::uint8_t>().swap(gathered.input);
    return status_of(result.status);
}

// Copies a one-shot call's output into the caller's buffer, whole or not at all.
tarnwel_status copy_out(const std::vector<std::uint8_t>& bytes, void* output, std::size_t capacity,
                        std::size_t* output_size) {
    if (bytes.size() > capacity) return TARNWEL_OUTPUT_TOO_SMALL;
    if (!bytes.empty()) std::memcpy(output, bytes.data(), bytes.size());
    *output_size = bytes.size();
    return TARNWEL_OK;
}

} // namespace

extern "C" {

const char* tarnwel_status_name(tarnwel_status status) {
    // A C caller may pass any int; as a C++ enum only the statuses' values
    // are valid, so the value is taken from the bytes.
    int value = 0;
    std::memcpy(&value, &status, sizeof value);
    static_assert(sizeof value == sizeof status, "the status is an int's size");
    switch (value) {
    case TARNWEL_OK:
        return "TARNWEL_OK";
    case TARNWEL_BAD_ARGUMENT:
        return "TARNWEL_BAD_ARGUMENT";
    case TARNWEL_BAD_WIDTH:
        return "TARNWEL_BAD_WIDTH";
    case TARNWEL_BAD_SEQUENCE:
        return "TARNWEL_BAD_SEQUENCE";
    case TARNWEL_OUT_OF_MEMORY:
        return "TARNWEL_OUT_OF_MEMORY";
    case TARNWEL_CORRUPT_STREAM:
        return "TARNWEL_CORRUPT_STREAM";
    case TARNWEL_OUTPUT_TOO_SMALL:
        return "TARNWEL_OUTPUT_TOO_SMALL";
    case TARNWEL_INTERNAL_ERROR:
        return "TARNWEL_INTERNAL_ERROR";
    case TARNWEL_READ_FAILED:
        return "TARNWEL_READ_FAILED";
    case TARNWEL_WRITE_FAILED:
        return "TARNWEL_WRITE_FAILED";
    }
    return "unknown status";
}

int tarnwel_version(void) {
    return TARNWEL_VERSION_NUMBER;
}

const char* tarnwel_version_string(void) {
    return TARNWEL_VERSION_STRING;
}

tarnwel_status tarnwel_compressor_create(int max_width, tarnwel_compressor** compressor) {
    if (compressor == nullptr) return TARNWEL_BAD_ARGUMENT;
    *compressor = nullptr;
    if (!cap_allowed(max_width)) return TARNWEL_BAD_WIDTH;
    auto* made = new (std::nothrow) tarnwel_compressor;
    if (made == nullptr) return TARNWEL_OUT_OF_MEMORY;
    made->max_width = max_width;
    *compressor = made;
    return TARNWEL_OK;
}

tarnwel_status tarnwel_compressor_create_width(int width, tarnwel_compressor** compressor) {
    if (compressor == nullptr) return TARNWEL_BAD_ARGUMENT;
    *compressor = nullptr;
    if (!width_allowed(width)) return TARNWEL_BAD_WIDTH;
    auto* made = new (std::nothrow) tarnwel_compressor;
    if (made == nullptr) return TARNWEL_OUT_OF_MEMORY;
    made->max_width = made->width = width;
    made->width_given = true;
    *compressor = made;
    return TARNWEL_OK;
}

tarnwel_status tarnwel_compressor_feed(tarnwel_compressor* compressor, const void* data,
                                       size_t size) {
    if (compressor == nullptr) return TARNWEL_BAD_ARGUMENT;
    if (compressor->stepped.begun) return TARNWEL_BAD_SEQUENCE;
    compressor->fed = true;
    return guarded([&] { return feed(compressor->gathered, data, size); });
}

tarnwel_status tarnwel_compressor_finish(tarnwel_compressor* compressor) {
    if (compressor == nullptr) return TARNWEL_BAD_ARGUMENT;
    if (compressor->gathered.finished || compressor->stepped.begun) return TARNWEL_BAD_SEQUENCE;
    return guarded([&] { return compress_gathered(*compressor); });
}

tarnwel_status tarnwel_compressor_take(tarnwel_compressor* compressor, void* output,
                                       size_t capacity, size_t* taken) {
    if (compressor == nullptr) return TARNWEL_BAD_ARGUMENT;
    if (compressor->stepped.begun) return TARNWEL_BAD_SEQUENCE;
    return take(compressor->gathered, output, capacity, taken);
}

tarnwel_status tarnwel_compressor_step(tarnwel_compressor* compressor, tarnwel_in_buffer* in,
                                       tarnwel_out_buffer* out, int input_ends, int* done) {
    if (compressor == nullptr || in == nullptr || out == nullptr || done == nullptr)
        return TARNWEL_BAD_ARGUMENT;
    *done = 0;
    if (compressor->fed || compressor->gathered.finished) return TARNWEL_BAD_SEQUENCE;
    return guarded([&] {
        return tarnwel::step_compressor(
            compressor->stepped, compressor->width_given ? compressor->width : 0,
            compressor->max_width, *in, *out, input_ends, *done, compressor->width);
    });
}

int tarnwel_compressor_width(const tarnwel_compressor* compressor) {
    return compressor == nullptr ? 0 : compressor->width;
}

void tarnwel_compressor_free(tarnwel_compressor* compressor) {
    delete compressor;
}

tarnwel_status tarnwel_expander_create(int width, tarnwel_expander** expander) {
    if (expander == nullptr) return TARNWEL_BAD_ARGUMENT;
    *expander = nullptr;
    if (!width_allowed(width)) return TARNWEL_BAD_WIDTH;
    auto* made = new (std::nothrow) tarnwel_expander;
    if (made == nullptr) return TARNWEL_OUT_OF_MEMORY;
    made->width = width;
    if (!tarnwel::allocate_expander(made->tables, width)) {
        delete made;
        return TARNWEL_OUT_OF_MEMORY;
    }
    *expander = made;
    return TARNWEL_OK;
}

tarnwel_status tarnwel_expander_feed(tarnwel_expander* expander, const void* data, size_t size) {
    if (expander == nullptr) return TARNWEL_BAD_ARGUMENT;
    if (expander->steps != nullptr) return TARNWEL_BAD_SEQUENCE;
    return guarded([&] { return feed(expander->gathered, data, size); });
}

tarnwel_status tarnwel_expander_finish(tarnwel_expander* expander) {
    if (expander == nullptr) return TARNWEL_BAD_ARGUMENT;
    if (expander->gathered.finished || expander->steps != nullptr) return TARNWEL_BAD_SEQUENCE;
    return guarded([&] { return expand_gathered(*expander); });
}

tarnwel_status tarnwel_expander_take(tarnwel_expander* expander, void* output, size_t capacity,
                                     size_t* taken) {
    if (expander == nullptr) return TARNWEL_BAD_ARGUMENT;
    if (expander->steps != nullptr) return TARNWEL_BAD_SEQUENCE;
    return take(expander->gathered, output, capacity, taken);
}

tarnwel_status tarnwel_expander_step(tarnwel_expander* expander, tarnwel_in_buffer* in,
                                     tarnwel_out_buffer* out, int input_ends, int* done) {
    if (expander == nullptr || in == nullptr || out == nullptr || done == nullptr)
        return TARNWEL_BAD_ARGUMENT;
    *done = 0;
    return guarded([&] {
        return tarnwel::step_expander(expander->steps, expander->tables, gathering(*expander), *in,
                                      *out, input_ends, *done);
    });
}

void tarnwel_expander_free(tarnwel_expander* expander) {
    delete expander;
}

size_t tarnwel_compress_bound(size_t input_size) {
    // At most one code per input byte, then the last string's code and the
    // end code (an empty input has two end codes), each at most 25 bits.
    constexpr std::size_t most = SIZE_MAX / tarnwel::max_width - 2;
    if (input_size > most) return 0;
    return ((input_size + 2) * tarnwel::max_width + 7) / 8;
}

tarnwel_status tarnwel_compress(const void* input, size_t input_size, void* output, size_t capacity,
                                int max_width, size_t* output_size, int* width) {
    if ((input == nullptr && input_size != 0) || (output == nullptr && capacity != 0) ||
        output_size == nullptr || width == nullptr)
        return TARNWEL_BAD_ARGUMENT;
    *output_size = 0;
    *width = 0;
    if (!cap_allowed(max_width)) return TARNWEL_BAD_WIDTH;
    return guarded([&] {
        tarnwel::SpanSource source(static_cast<const std::uint8_t*>(input), input_size);
        tarnwel::VectorSink sink;
        tarnwel::CompressResult choice = compress_capped(source, sink, max_width);
        if (choice.result.status != tarnwel::CodecStatus::ok)
            return status_of(choice.result.status);
        tarnwel_status status = copy_out(sink.bytes, output, capacity, output_size);
        if (status == TARNWEL_OK) *width = choice.width;
        return status;
    });
}

tarnwel_status tarnwel_expand(const void* stream, size_t stream_size, int width, void* output,
                              size_t capacity, size_t* output_size) {
    if ((stream == nullptr && stream_size != 0) || (output == nullptr && capacity != 0) ||
        output_size == nullptr)
        return TARNWEL_BAD_ARGUMENT;
    *output_size = 0;
    if (!width_allowed(width)) return TARNWEL_BAD_WIDTH;
    return guarded([&] {
        tarnwel::ExpanderTables tables;
        if (!tarnwel::allocate_expander(tables, width)) return TARNWEL_OUT_OF_MEMORY;
        tarnwel::SpanSource source(static_cast<const std::uint8_t*>(stream), stream_size);
        tarnwel::VectorSink sink;
        tarnwel_status status = status_of(tarnwel::expand_stream(tables, source, sink).status);
        tarnwel_status copied = copy_out(sink.bytes, output, capacity, output_size);
        return copied != TARNWEL_OK ? copied : status;
    });
}

tarnwel_status tarnwel_compress_stream(const tarnwel_source* source, const tarnwel_sink* sink,
                                       int max_width,
                                       void (*trial_started)(void* trial_context, int width),
                                       void* trial_context, tarnwel_compress_report* report) {
    if (!source_usable(source) || !sink_usable(sink) || report == nullptr)
        return TARNWEL_BAD_ARGUMENT;
    *report = tarnwel_compress_report{};
    if (!cap_allowed(max_width)) return TARNWEL_BAD_WIDTH;
    return guarded([&] {
        CallerSource input(*source);
        CallerSink output(*sink);
        std::function<void(int)> trial;
        if (trial_started != nullptr)
            trial = [trial_started, trial_context](int width) {
                trial_started(trial_context, width);
            };
        tarnwel::CompressResult choice =
            compress_capped(input, output, max_width, std::move(trial));
        report->width = choice.width;
        report->width_known = choice.width_known;
        report->last_trial_width = choice.last_trial_width;
        report->last_trial_fit = choice.last_trial_fit;
        report->bytes_in = choice.result.bytes_in;
        report->bytes_out = choice.result.bytes_out;
        return status_of(choice.result.status);
    });
}

tarnwel_status tarnwel_expander_expand_stream(tarnwel_expander* expander,
                                              const tarnwel_source* source,
                                              const tarnwel_sink* sink,
                                              unsigned long long* bytes_in,
                                              unsigned long long* bytes_out) {
    if (expander == nullptr || !source_usable(source) || !sink_usable(sink))
        return TARNWEL_BAD_ARGUMENT;
    if (gathering(*expander) || expander->steps != nullptr) return TARNWEL_BAD_SEQUENCE;
    expander->gathered.finished = true;
    return guarded([&] {
        CallerSource input(*source);
        CallerSink output(*sink);
        tarnwel::CodecResult result = tarnwel::expand_stream(expander->tables, input, output);
        if (bytes_in != nullptr) *bytes_in = result.bytes_in;
        if (bytes_out != nullptr) *bytes_out = result.bytes_out;
        return status_of(result.status);
    });
}

tarnwel_status tarnwel_scan_widths(const void* stream, size_t size, unsigned* widths) {
    if ((stream == nullptr && size != 0) || widths == nullptr) return TARNWEL_BAD_ARGUMENT;
    *widths = 0;
    if (size == 0) return TARNWEL_OK;
    *widths = tarnwel::scan_widths(static_cast<const std::uint8_t*>(stream), size);
    return TARNWEL_OK;
}

tarnwel_status tarnwel_scan_widths_stream(const tarnwel_source* source, unsigned* widths) {
    if (!source_usable(source) || widths == nullptr) return TARNWEL_BAD_ARGUMENT;
    *widths = 0;
    return guarded([&] {
        CallerSource input(*source);
        std::uint32_t found = 0;
        tarnwel::CodecResult result = tarnwel::scan_widths(input, found);
        *widths = found;
        return status_of(result.status);
    });
}

} // extern "C"
