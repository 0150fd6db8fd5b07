// The compressor: chooses the code width for one input and compresses it at
// that width in the same pass, reading the input once (so a pipe is
// compressed like a file), or compresses at a width given in advance.
//
// One parse grows the dictionary without bound and answers every trial of
// the width search (codec/compress/width_rule.h). The stream at the width finally
// chosen, b, starts with that parse's codes up to the moment b overflows,
// and from there on the dictionary stays frozen. So beside it runs a parse
// frozen at the widest width that has overflowed so far, writing that
// width's stream from the point where it parts from the shared codes; when
// a wider width overflows, the frozen parse begins again there
// (codec/compress/frozen_parse.h). The frozen parse runs on a second core, handed
// the blocks through a ring (codec/compress/frozen_ring.h), or without one on the
// same core, a ring's length of blocks behind (codec/compress/frozen_following.h),
// and moves between the two as the second core turns out busy or free
// (codec/compress/frozen_switching.h);
// at the end the shared codes are packed in front of its stream
// (codec/compress/stream_assembly.h).
//
// Tried and dropped: for a file, searching alone and then parsing the chosen
// width's frozen stream in a second pass from where that width overflowed,
// because re-reading the file cost more on most inputs than the frozen
// parses it saves, and on two cores those cost the unbounded parse no time;
// see docs/performance.md.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "byte_streams.h"
#include "codec_result.h"
#include "dictionary.h"
#include "frozen_place.h"

namespace tarnwel {

struct CompressOptions {
    int cap = max_width; // the widest width the search may choose, 12 to 25
    int width = 0;       // nonzero: compress at this width (11 to 25), with no search
    // The frozen parse runs on a second thread where there is one, unless
    // this is false; the stream is the same.
    bool second_thread = true;
    // For tests: the frozen parse runs on a second thread even where the run
    // may use one processor only, whatever second_thread says, so that the
    // hand-off through the ring is tested on any machine.
    bool force_second_thread = false;
    // For tests: where the second thread runs, says before each block is
    // handed over (numbered from 0) where the frozen parse runs from that
    // block on, in place of what the run measures
    // (codec/compress/frozen_switching.h).
    std::function<FrozenPlace(std::uint64_t block)> second_thread_plan;
    // Told as each trial begins, with its width.
    std::function<void(int width)> trial_started;
    // The caller's dictionary, left as the pass leaves it; otherwise the
    // pass makes its own.
    Dictionary* dictionary = nullptr;
};

struct CompressResult {
    CodecResult result;          // status, and the input and output sizes
    int width = default_width;   // the width compressed at
    int last_trial_width = 0;    // width of the last trial made
    bool last_trial_fit = false; // the last trial ended without overflowing
    // The search ended and width is the stream's, whether or not the stream
    // was then written whole.
    bool width_known = false;
    // The frozen parse started on a second thread (compress only); it may
    // have come back to this one as the run went (frozen_switching.h).
    bool second_thread = false;
};

// Compresses input into output, which must take positioned writes (see
// byte_streams.h) and is cut to the stream's size at the end.
CompressResult compress(ByteSource& input, ByteSink& output, const CompressOptions& options = {});

// The width search alone, writing nothing: the parse that grows dictionary
// (made afresh here).
CompressResult search_width(ByteSource& input, Dictionary& dictionary,
                            const CompressOptions& options = {});

// The same compression with the input handed over by the caller a block
// at a time, rather than read from a source, for a caller that is handed
// the input piece by piece (the library's steps). The stream is compress's:
// the frozen parse runs on the caller's thread, following, and the input's
// size is not known ahead, as for a pipe. It holds the dictionary, the
// unbounded parse's codes, the ring of blocks the frozen parse follows
// behind (4 MiB, growing to 16 MiB while another width is expected to
// overflow), and whatever output keeps of the stream written so far.
struct BlockwiseCompression;
struct BlockwiseDeleter {
    void operator()(BlockwiseCompression* run) const;
};
using BlockwiseCompressor = std::unique_ptr<BlockwiseCompression, BlockwiseDeleter>;

// A run writing into output (which must take positioned writes, as for
// compress), with options' cap or width; options.dictionary and the thread
// settings are not used. Null when memory runs out.
BlockwiseCompressor start_blockwise(ByteSink& output, const CompressOptions& options);

// Compresses the next size bytes of the input. The parse reads up to
// reader_slack bytes past them (byte_io.h), which must be readable; the
// block need not outlive the call. False once the run has failed:
// blockwise_failure then says why.
bool compress_block(BlockwiseCompression& run, const std::uint8_t* data, std::size_t size);

// Why compress_block failed: memory ran out, or the frozen stream's write.
CodecStatus blockwise_failure(const BlockwiseCompression& run);

// The input has ended: writes the stream into output and cuts it to size.
CompressResult finish_blockwise(BlockwiseCompression& run);

} // namespace tarnwel
