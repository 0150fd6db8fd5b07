#include "compressor_steps.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "byte_io.h"

namespace tarnwel {

namespace {

std::size_t output_waiting(const CompressorSteps& steps) {
    if (!steps.searching) return steps.encoder != nullptr ? encoded_left(*steps.encoder) : 0;
    return steps.stream_whole ? static_cast<std::size_t>(steps.stream.size() - steps.handed_out)
                              : 0;
}

void hand_out(CompressorSteps& steps, StepOutput& output) {
    std::size_t count = std::min(output_waiting(steps), output.size - output.pos);
    if (count == 0) return;
    std::uint8_t* out = output.data + output.pos;
    if (steps.searching) {
        steps.stream.read_at(steps.handed_out, out, count);
        steps.handed_out += count;
    } else {
        std::memcpy(out, encoded_bytes(*steps.encoder), count);
        take_encoded(*steps.encoder, count);
    }
    output.pos += count;
}

void take_input(CompressorSteps& steps, StepInput& in) {
    std::size_t count = std::min(io_block_size - steps.block_used, in.size - in.pos);
    if (count == 0) return;
    std::memcpy(steps.block.data() + steps.block_used, in.data + in.pos, count);
    steps.block_used += count;
    in.pos += count;
}

// Compresses the block gathered; false on a failure, kept in steps.status.
bool compress_gathered_block(CompressorSteps& steps) {
    std::size_t size = steps.block_used;
    steps.block_used = 0;
    bool done = steps.searching ? compress_block(*steps.search, steps.block.data(), size)
                                : encode_block(*steps.encoder, steps.block.data(), size);
    if (!done) {
        // The encoder fails only for memory.
        steps.status =
            steps.searching ? blockwise_failure(*steps.search) : CodecStatus::out_of_memory;
    }
    return done;
}

// The input has ended: writes the stream's end, and lets go of what only
// the parse needed.
bool end_stream(CompressorSteps& steps) {
    steps.stream_whole = true;
    std::vector<std::uint8_t>().swap(steps.block);
    if (!steps.searching) {
        end_encoding(*steps.encoder);
        steps.encoder->dictionary = Dictionary{};
        return true;
    }
    CompressResult choice = finish_blockwise(*steps.search);
    steps.search.reset();
    steps.status = choice.result.status;
    steps.width = choice.width;
    return steps.status == CodecStatus::ok;
}

bool make_block(CompressorSteps& steps) {
    try {
        steps.block.assign(io_block_size + reader_slack, 0);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

} // namespace

bool start_steps_at_width(CompressorSteps& steps, int width) {
    steps.searching = false;
    steps.width = width;
    steps.encoder.reset(new (std::nothrow) WidthEncoder);
    return steps.encoder != nullptr && start_width_encoder(*steps.encoder, width) &&
           make_block(steps);
}

bool start_steps_searching(CompressorSteps& steps, int cap) {
    steps.searching = true;
    CompressOptions options;
    options.cap = cap;
    steps.search = start_blockwise(steps.stream, options);
    return steps.search != nullptr && make_block(steps);
}

CodecStatus compress_step(CompressorSteps& steps, StepInput& in, StepOutput& out, bool& done) {
    done = false;
    if (steps.status != CodecStatus::ok) return steps.status;
    for (;;) {
        hand_out(steps, out);
        if (output_waiting(steps) != 0 || steps.stream_whole) break;
        take_input(steps, in);
        if (steps.block_used == io_block_size) {
            if (!compress_gathered_block(steps)) return steps.status;
            continue;
        }
        // All the input given is taken.
        if (!in.ends) break;
        if (!compress_gathered_block(steps) || !end_stream(steps)) return steps.status;
    }
    done = steps.stream_whole && output_waiting(steps) == 0;
    return CodecStatus::ok;
}

} // namespace tarnwel
