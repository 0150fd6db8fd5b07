#include "compressor.h"

#include <algorithm>
#include <new>
#include <optional>
#include <span>
#include <type_traits>

#include "byte_io.h"
#include "frozen_following.h"
#include "frozen_parse.h"
#include "frozen_ring.h"
#include "frozen_switching.h"
#include "invariant.h"
#include "mapped_array.h"
#include "parse_step.h"
#include "processors.h"
#include "width_rule.h"

namespace tarnwel {

namespace {

// One pass's state, written by the unbounded parse's thread alone. Of it,
// a second thread reads only the shared codes, the first `shared` of codes,
// which a restart hands it under the ring's lock (frozen_ring.h) to pack
// ahead: a code is stored once, at its index, and a list outgrown is kept
// to the end, so they stay as they are. It also probes the dictionary,
// which the pass grows but does not own (dictionary.h says why that is
// safe). The frozen parse's own fields are in FrozenRing, which says who
// owns what.
struct Pass {
    Pass(Dictionary& dictionary, const CompressOptions& options)
        : dictionary(dictionary), options(options),
          rule(options.width != 0 ? fixed_rule(options.width) : search_rule(options.cap)) {}
    Dictionary& dictionary;
    const CompressOptions& options;
    WidthRule rule;
    CompressResult choice;
    std::uint32_t free_code = first_free_code;
    Cursor cursor; // the unbounded parse's current string
    // Compressing: the unbounded parse's codes, and the parse frozen at the
    // widest width that has overflowed so far, whichever hand-off runs it.
    FrozenParse* frozen = nullptr;
    // The code of the string that ended where the string given code c was
    // met is at codes[c - first_free_code]. Mapped ahead for all the codes
    // the input can make (see reserve_codes), so that the parse only stores
    // and the codes never move.
    MappedArray<std::uint32_t> codes;
    // What codes held before the input outgrew them, kept to the end (see
    // grow_codes).
    MappedArray<std::uint32_t> outgrown_codes;
    // Below this free code, a new string only takes the code and its place:
    // no width overflows, the table neither grows nor widens, and (when
    // compressing) codes has room. Worked out again after each new string
    // the parse adds out of line; 0 sends the first one there.
    std::uint32_t quiet_until = 0;
    const std::uint8_t* block = nullptr; // the start of the block being parsed
    std::uint64_t blocks_after_cap = 0;
    std::uint64_t input_bytes = 0;                 // the input's size, when it tells
    std::uint64_t consumed_at_block = 0;           // input read when the table was last planned
    std::size_t stored_at_block = 0;               // the table's entries then
    std::uint32_t free_at_block = first_free_code; // and the next code then
    // New strings met over the span between the last two plans, and its
    // bytes: the rate restart_likely goes by.
    std::uint64_t recent_strings = 0;
    std::uint64_t recent_bytes = 0;
};

// The width search alone: no frozen parse runs. Otherwise a pass's
// functions take the hand-off chosen as it starts, FrozenRing or
// FrozenFollowing, which have the same calls (frozen_parse.h).
struct SearchAlone {};
template <class HandOff> constexpr bool compressing = !std::is_same_v<HandOff, SearchAlone>;

// What the width rule makes of a new string that overflows a width. False
// when the unbounded parse is over (the cap overflowed). shared_codes is
// how many codes the unbounded parse has written.
template <class HandOff>
bool width_overflowed(Pass& pass, HandOff& frozen, const std::uint8_t* at,
                      std::size_t shared_codes) {
    Overflow said = overflow(pass.rule);
    if constexpr (compressing<HandOff>)
        if (said.restart_width != 0)
            restart_frozen(frozen, said.restart_width, shared_codes, pass.codes.data(),
                           static_cast<std::size_t>(at - pass.block));
    if (said.trial_width != 0) {
        pass.choice.last_trial_width = said.trial_width;
        if (pass.options.trial_started) pass.options.trial_started(said.trial_width);
    }
    return !said.capped;
}

// The code below which new strings are quiet (see Pass::quiet_until). One
// comparison in the parse stands for the tests of the overflow, the table's
// fill, the per-code records and the room for codes, so that a new string
// that needs nothing but its place costs one test.
std::uint32_t quiet_until(const Pass& pass) {
    std::uint64_t until = std::min<std::uint64_t>(pass.rule.overflow_code,
                                                  quiet_codes_end(pass.dictionary, pass.free_code));
    if (pass.frozen != nullptr)
        until = std::min<std::uint64_t>(until, first_free_code + pass.codes.size);
    return static_cast<std::uint32_t>(until);
}

// The most codes the unbounded parse can write: one a string, so no more
// than the input's bytes, and none past the cap's overflow, where it stops.
std::size_t most_codes(const Pass& pass, std::uint64_t input_bytes) {
    std::size_t most = end_code(pass.rule.cap) - first_free_code + 1;
    if (input_bytes == 0) return most; // a pipe: its length is not known
    return static_cast<std::size_t>(std::min<std::uint64_t>(most, input_bytes));
}

// Maps the list of codes for all the input can make: its pages are only
// made as the parse reaches them, and it never moves. (Doubling a vector
// copied and cleared it at each step, and kept it from a second thread.)
bool reserve_codes(Pass& pass) {
    return allocate_zeroed(pass.codes, most_codes(pass, pass.input_bytes), PageSize::small);
}

// A file that grows while it is read outruns the list made for its size:
// the list is mapped again for the most codes a run can make. The old one
// is kept, whole, until the run ends.
bool grow_codes(Pass& pass) {
    MappedArray<std::uint32_t> codes;
    if (!allocate_zeroed(codes, most_codes(pass, 0), PageSize::small)) return false;
    std::copy_n(pass.codes.data(), pass.codes.size, codes.data());
    pass.outgrown_codes = std::move(pass.codes);
    pass.codes = std::move(codes);
    return true;
}

// A new string met by the unbounded parse at the byte at `at`, where the
// string `code` ends, out of line: whatever it needs first. (It finds the
// string's place again rather than take it from the parse, which would then
// keep the place in memory at every new string.) False when the parse is
// over (the cap overflowed) or memory ran out.
template <class HandOff>
[[gnu::noinline]] bool new_string(Pass& pass, HandOff& frozen, std::uint32_t code,
                                  std::uint64_t hash, const std::uint8_t* at) {
    std::size_t shared_codes = 0;
    if (pass.frozen != nullptr) {
        std::size_t written = pass.free_code - first_free_code;
        if (written >= pass.codes.size && !grow_codes(pass)) {
            pass.choice.result.status = CodecStatus::out_of_memory;
            return false;
        }
        pass.codes[written] = code;
        shared_codes = written + 1;
    }
    if (pass.free_code == pass.rule.overflow_code &&
        !width_overflowed(pass, frozen, at, shared_codes))
        return false;
    StringPlace place = find_string(pass.dictionary, code, *at, hash);
    if (!add_string(pass.dictionary, place, code, *at, hash, pass.free_code++)) {
        pass.choice.result.status = CodecStatus::out_of_memory;
        return false;
    }
    pass.quiet_until = quiet_until(pass);
    return true;
}

// new_string inline in the parse, for the case of nearly every new string:
// no width overflows and the table neither grows nor widens, so the string
// only takes the next code. Only the rare string that needs more goes out
// of line, so the common miss path stays in the loop's registers.
template <class HandOff>
[[gnu::always_inline]] inline AfterString
add_new_string(Pass& pass, HandOff& frozen, const StringEnd& miss, const std::uint8_t* at) {
    std::uint32_t code = miss.code;
    // Read once: for all the compiler knows, storing a code could change it.
    std::uint32_t free_code = pass.free_code;
    if (free_code >= pass.quiet_until) [[unlikely]]
        return new_string(pass, frozen, code, miss.hash, at) ? AfterString::go_on_regrown
                                                             : AfterString::stop;
    pass.free_code = free_code + 1;
    if (compressing<HandOff>) pass.codes[free_code - first_free_code] = code;
    add_string_quietly(pass.dictionary, miss.place, miss.keyed, miss.hash, free_code);
    return AfterString::go_on;
}

// What the frozen parse, when it runs on this thread, follows the unbounded
// parse's strings by.
template <class HandOff> void tell_codes(Pass& pass, HandOff& frozen) {
    tell_unbounded_codes(frozen, pass.codes.data(), pass.free_code - first_free_code,
                         pass.codes.size);
}

// Foresees how many strings the table will hold by the end of the input,
// from the rate the parse met them over the last block, so that growing
// the table goes straight to its final size instead of doubling (and
// moving every entry) step by step. Most inputs meet new strings ever more
// rarely as the dictionary learns them, so the rate of the latest block
// overestimates less than the overall one. Keeps that rate, in codes, for
// restart_likely.
void plan_table(Pass& pass, std::uint64_t consumed) {
    Dictionary& dictionary = pass.dictionary;
    std::uint64_t block = consumed - pass.consumed_at_block;
    if (block == 0 || consumed >= pass.input_bytes) return;
    std::uint64_t met = dictionary.stored - std::min(dictionary.stored, pass.stored_at_block);
    double ahead = static_cast<double>(met) * static_cast<double>(pass.input_bytes - consumed) /
                   static_cast<double>(block);
    double most = static_cast<double>((std::uint64_t{1} << pass.rule.cap) - first_free_code);
    dictionary.planned =
        static_cast<std::size_t>(std::min(static_cast<double>(dictionary.stored) + ahead, most));
    prepare_growth(dictionary);
    pass.recent_strings = pass.free_code - pass.free_at_block;
    pass.recent_bytes = block;
    pass.consumed_at_block = consumed;
    pass.stored_at_block = dictionary.stored;
    pass.free_at_block = pass.free_code;
}

// Whether the unbounded parse, going on at its latest rate of new strings,
// would overflow another width before the input ends (always, for an input
// of unknown size): then the frozen parse at the present width is likely
// to be thrown away, and had better not run ahead.
bool restart_likely(const Pass& pass, bool searching, std::uint64_t consumed) {
    if (!searching) return false;
    if (pass.input_bytes == 0) return true;
    if (consumed >= pass.input_bytes || pass.recent_bytes == 0) return false;
    std::uint64_t needed = pass.rule.overflow_code - pass.free_code;
    return pass.recent_strings * (pass.input_bytes - consumed) >= needed * pass.recent_bytes;
}

// Past the cap the dictionary is final, and every other block may be
// scouted for the frozen parse (see frozen_ring.h): the frozen parse's
// limit, or 0.
std::uint32_t scout_limit(Pass& pass, bool searching) {
    if (searching || (++pass.blocks_after_cap & 1) != 0) return 0;
    return end_code(pass.rule.cap);
}

// One block of the input, from next to end, where consumed bytes of the
// input have been read through end. A frozen parse, when compressing, is
// handed the block before the unbounded parse reads it, and goes on alone
// once the trial at the cap overflows: searching, true at the first block,
// turns false there. False when the pass is over before the input ends: a
// failure, or the cap reached when searching alone.
template <class HandOff>
[[gnu::always_inline]] inline bool pass_block(Pass& pass, HandOff& frozen, bool& searching,
                                              const std::uint8_t* next, const std::uint8_t* end,
                                              std::uint64_t consumed) {
    if constexpr (compressing<HandOff>) {
        tell_codes(pass, frozen);
        BlockNotes notes = {restart_likely(pass, searching, consumed),
                            scout_limit(pass, searching)};
        if (!hand_over_block(frozen, next, static_cast<std::size_t>(end - next), notes))
            return false;
    }
    bool first = pass.block == nullptr;
    pass.block = next;
    if (first) start_string(pass.cursor, next++); // the input's first byte
    if (searching && parse_block(pass.cursor, pass.dictionary, no_code_limit, next, end,
                                 [&](const StringEnd& miss, const std::uint8_t* at) {
                                     return add_new_string(pass, frozen, miss, at);
                                 }) != end) {
        if (!compressing<HandOff> || pass.choice.result.status != CodecStatus::ok) return false;
        searching = false; // the frozen parse at the cap goes on alone
    }
    if (searching) plan_table(pass, consumed);
    return true;
}

// The whole input, one block at a time.
// Kept out of line: inlined into the compressor's entry point, its one
// caller for each hand-off, the unbounded parse's loop compiled to more
// instructions.
template <class HandOff>
[[gnu::noinline]] void run_pass(Pass& pass, HandOff& frozen, ByteReader& reader) {
    bool searching = true;
    const std::uint8_t* next;
    const std::uint8_t* end;
    while (take_block(reader, next, end))
        if (!pass_block(pass, frozen, searching, next, end, reader.consumed)) return;
}

CompressResult failed(CompressResult choice, CodecStatus status, int error_number = 0) {
    choice.result.status = status;
    choice.result.error_number = error_number;
    return choice;
}

// Settles the choice once the input has ended; read_error is the error
// number of a failure that ended it.
void settle(Pass& pass, int read_error) {
    CompressResult& choice = pass.choice;
    int frozen_error = pass.frozen != nullptr ? frozen_stream_error(pass.frozen->stream) : 0;
    if (read_error != 0) {
        choice = failed(choice, CodecStatus::read_failed, read_error);
        return;
    }
    if (frozen_error != 0) {
        choice = failed(choice, CodecStatus::write_failed, frozen_error);
        return;
    }
    choice.width = chosen_width(pass.rule);
    choice.last_trial_fit = last_trial_fit(pass.rule);
    choice.last_trial_width = pass.rule.fixed ? 0 : pass.rule.trial;
    choice.width_known = true;
}

// Readies the pass for an input of input_bytes (0: not known ahead, as a
// pipe's: the table then grows as it fills). False when memory ran out.
bool begin_search(Pass& pass, std::uint64_t input_bytes) {
    CompressResult& choice = pass.choice;
    choice.last_trial_width = pass.rule.fixed ? 0 : pass.rule.trial;
    pass.input_bytes = input_bytes;
    if (!pass.rule.fixed && pass.options.trial_started) pass.options.trial_started(pass.rule.trial);
    if (pass.frozen != nullptr && !reserve_codes(pass)) {
        choice.result.status = CodecStatus::out_of_memory;
        return false;
    }
    return true;
}

// The input has ended, after consumed bytes (read_error as for settle): the
// frozen parse, when compressing, runs to its end, and the choice is settled.
template <class HandOff>
void end_search(Pass& pass, HandOff& frozen, std::uint64_t consumed, int read_error) {
    CompressResult& choice = pass.choice;
    if constexpr (compressing<HandOff>) {
        tell_codes(pass, frozen);
        try {
            finish_frozen(frozen);
        } catch (const std::bad_alloc&) {
            choice.result.status = CodecStatus::out_of_memory;
        }
    }
    choice.result.bytes_in = consumed;
    if (choice.result.status == CodecStatus::ok) settle(pass, read_error);
}

// Runs the pass over the input, with a dictionary freshly made, and settles
// the choice.
template <class HandOff> void search(Pass& pass, HandOff& frozen, ByteSource& input) {
    ByteReader reader = make_reader(input);
    if (!begin_search(pass, input.size().value_or(0))) return;
    // The frozen stream's buffer comes from the heap, and a sink in memory
    // grows as it is written, on either thread: running out there fails the
    // run like the tables do.
    try {
        run_pass(pass, frozen, reader);
    } catch (const std::bad_alloc&) {
        pass.choice.result.status = CodecStatus::out_of_memory;
    }
    end_search(pass, frozen, reader.consumed, reader.error_number);
}

// Puts the stream together: the shared codes in front of the frozen stream,
// or the unbounded parse's codes alone when the chosen width never
// overflowed (then no frozen parse ran: it runs at the widest width that
// overflowed, which is the one chosen).
void finish_stream(Pass& pass, ByteSink& output) {
    FrozenParse& frozen = *pass.frozen;
    int width = pass.choice.width;
    // The unbounded parse's codes, all of them when no frozen stream
    // follows: the chosen width never overflowed, nor did the cap.
    std::span<const std::uint32_t> codes(
        pass.codes.data(), frozen.active ? frozen.stream.shared : pass.free_code - first_free_code);
    TARNWEL_INVARIANT(!frozen.active || frozen.stream.width == width);
    AssembledStream assembled =
        pass.choice.result.bytes_in == 0
            ? write_empty_stream(output, width)
            : assemble_stream(output, width, codes, frozen.active ? &frozen.stream : nullptr,
                              frozen.active ? frozen.cursor.code : pass.cursor.code);
    if (assembled.error_number != 0)
        pass.choice = failed(pass.choice, CodecStatus::write_failed, assembled.error_number);
    else
        pass.choice.result.bytes_out = assembled.size;
}

// Puts the stream together once the pass has run without a failure.
CompressResult write_stream(Pass& pass, ByteSink& output) {
    if (pass.choice.result.status != CodecStatus::ok) return pass.choice;
    try {
        finish_stream(pass, output);
    } catch (const std::bad_alloc&) {
        pass.choice = failed(pass.choice, CodecStatus::out_of_memory);
    }
    return pass.choice;
}

// The pass with the frozen parse run by the hand-off given, started
// already, and the stream put together.
template <class HandOff>
CompressResult compress_through(Pass& pass, HandOff& frozen, ByteSource& input, ByteSink& output) {
    pass.frozen = &frozen.parse;
    search(pass, frozen, input);
    return write_stream(pass, output);
}

// Whether to run the frozen parse on a second thread. One processor gains
// nothing from the hand-off (the two threads would only take turns), and an
// input known to fit in one block is parsed before a thread would be under
// way: starting one would cost more than it saves.
bool wants_second_thread(const CompressOptions& options, const ByteSource& input) {
    if (options.force_second_thread) return true;
    std::optional<std::uint64_t> size = input.size();
    if (size && *size <= io_block_size) return false;
    return options.second_thread && usable_processors() >= 2;
}

} // namespace

CompressResult search_width(ByteSource& input, Dictionary& dictionary,
                            const CompressOptions& options) {
    Pass pass(dictionary, options);
    if (!init_dictionary(dictionary)) return failed(pass.choice, CodecStatus::out_of_memory);
    SearchAlone alone;
    search(pass, alone, input);
    return pass.choice;
}

CompressResult compress(ByteSource& input, ByteSink& output, const CompressOptions& options) {
    Dictionary own_dictionary;
    Dictionary& dictionary = options.dictionary != nullptr ? *options.dictionary : own_dictionary;
    Pass pass(dictionary, options);
    if (!init_dictionary(dictionary)) return failed(pass.choice, CodecStatus::out_of_memory);
    // The hand-off is chosen here: where a second thread may help, the
    // switching one, which moves the frozen parse between the threads as the
    // run goes; a thread that cannot be had leaves it on this one.
    if (wants_second_thread(options, input)) {
        FrozenSwitching switching;
        RingStart started =
            start_frozen_switching(switching, dictionary, output, options.second_thread_plan);
        if (started == RingStart::out_of_memory)
            return failed(pass.choice, CodecStatus::out_of_memory);
        if (started == RingStart::started) {
            pass.choice.second_thread = true;
            return compress_through(pass, switching, input, output);
        }
    }
    FrozenFollowing following;
    if (!start_frozen_following(following, dictionary, output))
        return failed(pass.choice, CodecStatus::out_of_memory);
    return compress_through(pass, following, input, output);
}

// One run fed by its caller: the pass, with the frozen parse following on
// the caller's thread (the calls return with no thread of the library's
// running), over the caller's blocks as they come.
struct BlockwiseCompression {
    BlockwiseCompression(ByteSink& output, const CompressOptions& given)
        : options(given), pass(dictionary, options), output(output) {}
    CompressOptions options;
    Dictionary dictionary;
    Pass pass;
    FrozenFollowing following;
    ByteSink& output;
    std::uint64_t consumed = 0;
    bool searching = true; // as in run_pass
    bool over = false;     // the pass stopped before the input ended: a failure
};

void BlockwiseDeleter::operator()(BlockwiseCompression* run) const {
    delete run;
}

BlockwiseCompressor start_blockwise(ByteSink& output, const CompressOptions& options) {
    BlockwiseCompressor run(new (std::nothrow) BlockwiseCompression(output, options));
    if (run == nullptr || !init_dictionary(run->dictionary) ||
        !start_frozen_following(run->following, run->dictionary, output))
        return nullptr;
    run->pass.frozen = &run->following.parse;
    // Its size is not known ahead: the table grows as it fills, as for a pipe.
    if (!begin_search(run->pass, 0)) return nullptr;
    return run;
}

bool compress_block(BlockwiseCompression& run, const std::uint8_t* data, std::size_t size) {
    if (run.over) return false;
    if (size == 0) return true;
    run.consumed += size;
    try {
        run.over =
            !pass_block(run.pass, run.following, run.searching, data, data + size, run.consumed);
    } catch (const std::bad_alloc&) {
        run.pass.choice.result.status = CodecStatus::out_of_memory;
        run.over = true;
    }
    return !run.over;
}

CodecStatus blockwise_failure(const BlockwiseCompression& run) {
    CodecStatus status = run.pass.choice.result.status;
    return status != CodecStatus::ok ? status : CodecStatus::write_failed;
}

CompressResult finish_blockwise(BlockwiseCompression& run) {
    end_search(run.pass, run.following, run.consumed, 0);
    return write_stream(run.pass, run.output);
}

} // namespace tarnwel
