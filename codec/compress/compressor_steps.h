// Compression in steps, for a caller that runs the loop itself: each step
// takes what input it can and hands out what output it has, into buffers of
// any size. One of two ways, chosen at the start:
// - At a width given in advance, the stream comes out as the input goes in
//   (width_encoder.h). The input is gathered into a block; a full block is
//   parsed once the codes of the one before have all been handed out, so a
//   step takes no more input while they wait. It holds the dictionary for
//   that width and two fixed buffers: the block (64 KiB) and its codes
//   (encoder_buffer_size, about 200 KiB).
// - With the width search, nothing can come out before the input ends,
//   when the width is chosen: every step takes all its input, a block at a
//   time into the compressor's pass (compressor.h), which keeps the stream
//   written so far in memory (chunked_sink.h) rather than the input; at
//   the end the stream is put together there and handed out. It holds, on
//   top of the block, what the pass holds (compressor.h) and the stream.
// The stream either way is compress's for the same input and width.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "chunked_sink.h"
#include "codec_result.h"
#include "compressor.h"
#include "step_buffers.h"
#include "width_encoder.h"

namespace tarnwel {

struct CompressorSteps {
    bool searching = false;
    std::unique_ptr<WidthEncoder> encoder; // at a given width, until the stream is handed out
    BlockwiseCompressor search;            // with the search, until the input ends
    ChunkedSink stream;                    // the search's stream
    std::uint64_t handed_out = 0;          // of it
    int width = 0;                         // given, or chosen once the input has ended
    std::vector<std::uint8_t> block;       // io_block_size bytes and the parse's slack
    std::size_t block_used = 0;
    bool stream_whole = false;            // the input has ended and the stream is written
    CodecStatus status = CodecStatus::ok; // a failure, which ends the run
};

// Readies steps at width (11 to 25), or searching with widths up to cap (12
// to 25). False when memory runs out.
bool start_steps_at_width(CompressorSteps& steps, int width);
bool start_steps_searching(CompressorSteps& steps, int cap);

// One step; in.ends: the caller's input ends with what in holds.
// Returns the run's status (a failure ends it and is returned again by
// every later step); done is set once the stream is written whole and all
// of it handed out.
CodecStatus compress_step(CompressorSteps& steps, StepInput& in, StepOutput& out, bool& done);

} // namespace tarnwel
