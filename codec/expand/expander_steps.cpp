// The resumable decode loop. Its state lives in ExpanderSteps between
// calls: the bits read but not yet a code, the batch of codes read ahead
// and how far it has been expanded, the decoder, the window and what waits
// in it. A step alternates two things until it can do neither: hand out
// the window's settled bytes, and decode ("a spell") until as many bytes
// wait as the output has room for, the lap is full, or the input runs dry.
// Each spell ends with the waiting strings spelled, so everything it
// expanded can be handed out.
#include "expander_steps.h"

#include <algorithm>
#include <cstring>

#include "stream_ends.h"

namespace tarnwel {

namespace {

enum class Take {
    none, // its bits are not all in hand yet
    code,
    cut, // the stream was cut short in the code (stream_ends.h)
};

// Takes the next code when its bits are all in hand (past the input's end,
// once the caller has said it ends, every bit is a one). Bytes are taken
// one at a time, and no further than the code needs, so those after the
// end code stay the caller's. Only once the input ends can a code hold
// ones past it, to be checked: until then the loop carries no such test.
template <bool input_ended>
Take take_code(StepBits& bits, StepInput& in, int width, std::uint32_t& code) {
    while (bits.count < width) {
        std::uint64_t byte;
        if (in.pos < in.size) {
            byte = in.data[in.pos++];
        } else if (input_ended) {
            byte = 0xFF;
            bits.ones += 8;
        } else {
            return Take::none;
        }
        bits.bits |= byte << (56 - bits.count);
        bits.count += 8;
    }
    code = static_cast<std::uint32_t>(bits.bits >> (64 - width));
    bits.bits <<= width;
    bits.count -= width;
    if (input_ended && bits.ones > bits.count) {
        const int missing = bits.ones - bits.count;
        bits.ones = bits.count;
        if (!whole_as_written(code, width, static_cast<std::uint64_t>(missing))) return Take::cut;
    }
    return Take::code;
}

// Tops the bits up to at least 32 with one eight-byte load, where eight
// bytes are left: a byte at a time, take_code spends a test and a shift on
// each. It may take bytes past what the codes need; give_back_whole_bytes
// returns them.
void top_up_fast(StepBits& bits, StepInput& in) {
    std::uint64_t word;
    std::memcpy(&word, in.data + in.pos, sizeof word);
    const int take = (64 - bits.count) / 8;
    const int kept = 8 * take;
    word = __builtin_bswap64(word) >> (64 - kept) << (64 - kept);
    bits.bits |= word >> bits.count;
    bits.count += kept;
    in.pos += static_cast<std::size_t>(take);
}

// Hands the whole bytes held past a code just taken back to the input, as
// take_code would never have taken them: the bytes past the end code stay
// the caller's. They all came from this input, by top_up_fast, since the
// bits held were last under a byte.
void give_back_whole_bytes(StepBits& bits, StepInput& in) {
    const int whole = bits.count / 8;
    in.pos -= static_cast<std::size_t>(whole);
    bits.count -= 8 * whole;
    bits.bits = bits.count == 0 ? 0 : bits.bits >> (64 - bits.count) << (64 - bits.count);
}

// Reads codes into the batch, up to a batch or the end code.
template <bool input_ended> void read_codes(ExpanderSteps& s, StepInput& in) {
    const int width = s.e.tables.width;
    std::uint32_t code = 0;
    bool short_of_a_code = false;
    while (s.batch_count < code_batch) {
        if (s.bits.count < width && in.size - in.pos >= sizeof(std::uint64_t))
            top_up_fast(s.bits, in);
        const Take took = take_code<input_ended>(s.bits, in, width, code);
        if (took != Take::code) {
            // Short of a code's bits, or at a cut: the input is all taken.
            short_of_a_code = true;
            s.cut = took == Take::cut;
            break;
        }
        s.batch[s.batch_count++] = code;
        if (code == s.d.end) break;
    }
    // Short of a code, the input is all taken, and the bits held are the
    // next code's, as take_code alone would hold them.
    if (!short_of_a_code) give_back_whole_bytes(s.bits, in);
}

// Reads a batch of codes. False when none could be read.
bool read_batch(ExpanderSteps& s, StepInput& in) {
    s.batch_count = s.batch_next = 0;
    if (s.input_ended)
        read_codes<true>(s, in);
    else
        read_codes<false>(s, in);
    ready_batch(s.e.tables, s.batch, s.batch_count);
    return s.batch_count != 0;
}

// The first code is a byte or the end code. False when its bits are not
// all in yet.
bool expand_first_code(ExpanderSteps& s, StepInput& in) {
    std::uint32_t code = 0;
    const int width = s.e.tables.width;
    const Take took = s.input_ended ? take_code<true>(s.bits, in, width, code)
                                    : take_code<false>(s.bits, in, width, code);
    if (took == Take::none) return false;
    if (took == Take::cut) {
        s.phase = StepPhase::faulted;
        return true;
    }
    switch (place_first_code(s.e, s.d, code)) {
    case FirstCode::ended:
        s.phase = StepPhase::ended;
        break;
    case FirstCode::corrupt:
        s.phase = StepPhase::faulted;
        break;
    case FirstCode::placed:
        s.phase = StepPhase::codes;
        break;
    }
    return true;
}

// Decodes until `wanted` bytes wait to be handed out (checked between
// batches), the lap is full of bytes not yet handed out, the stream ends or
// faults, or no whole code is left in the input. False only in the last
// case, when nothing more can happen without more input.
bool decode_spell(ExpanderSteps& s, StepInput& in, std::size_t wanted) {
    if (s.phase == StepPhase::first_code && !expand_first_code(s, in)) return false;
    if (s.phase != StepPhase::codes) return true;
    Expansion& e = s.e;
    Decoder d = s.d; // a copy the compiler may keep in registers
    bool more_input = true;
    for (;;) {
        if (s.batch_next == s.batch_count) {
            if (e.window.used - e.window.flushed >= wanted) break;
            if (!read_batch(s, in)) {
                if (s.cut)
                    s.phase = StepPhase::faulted;
                else
                    more_input = false;
                break;
            }
        }
        // A batch ends at the end code: it is looked for once, not at each code.
        const bool ends = s.batch[s.batch_count - 1] == d.end;
        const std::size_t count = s.batch_count - (ends ? 1 : 0);
        std::size_t i = s.batch_next;
        const Placement placed = expand_codes<true>(e, d, s.batch, i, count);
        if (ends && i == count) s.phase = StepPhase::ended;
        // The whole codes before a cut are expanded; then it is a fault.
        if (s.cut && i == count) s.phase = StepPhase::faulted;
        s.batch_next = i;
        if (placed == Placement::lap_full) break;
        if (placed != Placement::placed) s.phase = StepPhase::faulted;
        if (s.phase != StepPhase::codes) break;
    }
    s.d = d;
    if (!settle_pending(e.pending, e.window, e.tables)) s.phase = StepPhase::faulted;
    return more_input || s.phase != StepPhase::codes;
}

// Copies the window's settled bytes not yet handed out into out, as many
// as fit. Returns their count.
std::size_t hand_over(Expansion& e, StepOutput& out) {
    Window& window = e.window;
    std::size_t count =
        std::min(settled_end(e.pending, window) - window.flushed, out.size - out.pos);
    if (count != 0) std::memcpy(out.data + out.pos, window.bytes + window.flushed, count);
    window.flushed += count;
    out.pos += count;
    return count;
}

} // namespace

ExpanderSteps::ExpanderSteps(ExpanderTables& tables)
    : e{tables, make_window(tables.window.data(), tables.width, no_sink), make_pending()},
      d{end_code(tables.width), last_code(tables.width)} {}

CodecStatus expand_step(ExpanderSteps& s, StepInput& in, StepOutput& out, bool& done) {
    done = false;
    if (in.ends) s.input_ended = true;
    const Window& window = s.e.window;
    std::size_t handed = 0;
    for (;;) {
        handed += hand_over(s.e, out);
        if (s.phase == StepPhase::ended || s.phase == StepPhase::faulted) break;
        // A full output with bytes still waiting for it: decoding on would
        // only take input the next step can take as well.
        if (out.pos == out.size && window.flushed < window.used) break;
        if (!decode_spell(s, in, std::max<std::size_t>(out.size - out.pos, 1))) {
            handed += hand_over(s.e, out);
            break;
        }
    }
    const bool all_handed = window.flushed == window.used;
    if (s.phase == StepPhase::ended && all_handed) done = true;
    if (s.phase == StepPhase::faulted && all_handed && handed == 0)
        return CodecStatus::corrupt_stream;
    return CodecStatus::ok;
}

} // namespace tarnwel
