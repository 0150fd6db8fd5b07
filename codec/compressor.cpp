#include "codec/compressor.h"

#include <algorithm>
#include <new>
#include <span>

#include "codec/byte_io.h"
#include "codec/frozen_parse.h"
#include "codec/invariant.h"
#include "codec/mapped_array.h"
#include "codec/parse_step.h"
#include "codec/width_rule.h"

namespace tarnwel {

namespace {

// One pass's state, written by the unbounded parse's thread alone. The
// second thread reads two things of it, under the hand-over of blocks
// (frozen_parse.h): the codes up to those of the blocks it has been handed,
// to pack the shared codes ahead, and the dictionary entries stored before
// its frozen parse began. The frozen parse's own fields are in FrozenWorker,
// which says who owns what.
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
    // widest width that has overflowed so far.
    FrozenWorker* frozen = nullptr;
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

// What the width rule makes of a new string that overflows a width. False
// when the unbounded parse is over (the cap overflowed). shared_codes is
// how many codes the unbounded parse has written.
bool width_overflowed(Pass& pass, const std::uint8_t* at, std::size_t shared_codes) {
    Overflow said = overflow(pass.rule);
    if (said.restart_width != 0 && pass.frozen != nullptr)
        restart_frozen(*pass.frozen, said.restart_width, shared_codes, pass.codes.data(),
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
[[gnu::noinline]] bool new_string(Pass& pass, std::uint32_t code, std::uint64_t hash,
                                  const std::uint8_t* at) {
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
    if (pass.free_code == pass.rule.overflow_code && !width_overflowed(pass, at, shared_codes))
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
template <bool compressing>
[[gnu::always_inline]] inline AfterString add_new_string(Pass& pass, const StringEnd& miss,
                                                         const std::uint8_t* at) {
    std::uint32_t code = miss.code;
    // Read once: for all the compiler knows, storing a code could change it.
    std::uint32_t free_code = pass.free_code;
    if (free_code >= pass.quiet_until) [[unlikely]]
        return new_string(pass, code, miss.hash, at) ? AfterString::go_on_regrown
                                                     : AfterString::stop;
    pass.free_code = free_code + 1;
    if (compressing) pass.codes[free_code - first_free_code] = code;
    add_string_quietly(pass.dictionary, miss.place, miss.keyed, miss.hash, free_code);
    return AfterString::go_on;
}

// What the frozen parse, when it runs on this thread, follows the unbounded
// parse's strings by.
void tell_codes(Pass& pass) {
    tell_unbounded_codes(*pass.frozen, pass.codes.data(), pass.free_code - first_free_code,
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

// Past the cap the dictionary is final, and every other block is scouted
// for the frozen parse (see frozen_parse.h): the frozen parse's limit, or 0.
std::uint32_t scout_limit(Pass& pass, bool searching) {
    if (searching || (++pass.blocks_after_cap & 1) != 0) return 0;
    return end_code(pass.rule.cap);
}

// The whole input, one block at a time. A frozen parse, when compressing,
// is handed each block before the unbounded parse reads it, and goes on
// alone once the trial at the cap overflows.
template <bool compressing> void run_pass(Pass& pass, ByteReader& reader) {
    Dictionary& dictionary = pass.dictionary;
    bool searching = true;
    const std::uint8_t* next;
    const std::uint8_t* end;
    while (take_block(reader, next, end)) {
        if (compressing) tell_codes(pass);
        if (compressing &&
            !hand_over_block(*pass.frozen, next, static_cast<std::size_t>(end - next),
                             restart_likely(pass, searching, reader.consumed),
                             scout_limit(pass, searching)))
            return;
        bool first = pass.block == nullptr;
        pass.block = next;
        if (first) start_string(pass.cursor, next++); // the input's first byte
        if (searching && parse_block(pass.cursor, dictionary, no_code_limit, next, end,
                                     [&](const StringEnd& miss, const std::uint8_t* at) {
                                         return add_new_string<compressing>(pass, miss, at);
                                     }) != end) {
            if (!compressing || pass.choice.result.status != CodecStatus::ok) return;
            searching = false; // the frozen parse at the cap goes on alone
        }
        if (searching) plan_table(pass, reader.consumed);
    }
}

CompressResult failed(CompressResult choice, CodecStatus status, int error_number = 0) {
    choice.result.status = status;
    choice.result.error_number = error_number;
    return choice;
}

// Settles the choice once the input has ended.
void settle(Pass& pass, const ByteReader& reader) {
    CompressResult& choice = pass.choice;
    int frozen_error = pass.frozen != nullptr ? frozen_stream_error(pass.frozen->parse.stream) : 0;
    if (reader.error_number != 0) {
        choice = failed(choice, CodecStatus::read_failed, reader.error_number);
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

// Runs the pass over the input, with a dictionary freshly made, and settles
// the choice.
void search(Pass& pass, ByteSource& input) {
    CompressResult& choice = pass.choice;
    choice.last_trial_width = pass.rule.fixed ? 0 : pass.rule.trial;
    // A pipe's size is not known ahead: the table then grows as it fills.
    pass.input_bytes = input.size().value_or(0);
    ByteReader reader = make_reader(input);
    if (!pass.rule.fixed && pass.options.trial_started) pass.options.trial_started(pass.rule.trial);
    if (pass.frozen != nullptr && !reserve_codes(pass)) {
        choice.result.status = CodecStatus::out_of_memory;
        return;
    }
    // The frozen stream's buffer comes from the heap, and a sink in memory
    // grows as it is written, on either thread: running out there fails the
    // run like the tables do.
    try {
        if (pass.frozen == nullptr)
            run_pass<false>(pass, reader);
        else
            run_pass<true>(pass, reader);
    } catch (const std::bad_alloc&) {
        choice.result.status = CodecStatus::out_of_memory;
    }
    if (pass.frozen != nullptr) {
        tell_codes(pass);
        try {
            finish_frozen_worker(*pass.frozen);
        } catch (const std::bad_alloc&) {
            choice.result.status = CodecStatus::out_of_memory;
        }
    }
    choice.result.bytes_in = reader.consumed;
    if (choice.result.status == CodecStatus::ok) settle(pass, reader);
}

// Puts the stream together: the shared codes in front of the frozen stream,
// or the unbounded parse's codes alone when the chosen width never
// overflowed (then no frozen parse ran: it runs at the widest width that
// overflowed, which is the one chosen).
void finish_stream(Pass& pass, ByteSink& output) {
    FrozenParse& frozen = pass.frozen->parse;
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

} // namespace

CompressResult search_width(ByteSource& input, Dictionary& dictionary,
                            const CompressOptions& options) {
    Pass pass(dictionary, options);
    if (!init_dictionary(dictionary)) return failed(pass.choice, CodecStatus::out_of_memory);
    search(pass, input);
    return pass.choice;
}

CompressResult compress(ByteSource& input, ByteSink& output, const CompressOptions& options) {
    Dictionary own_dictionary;
    Dictionary& dictionary = options.dictionary != nullptr ? *options.dictionary : own_dictionary;
    Pass pass(dictionary, options);
    FrozenWorker frozen;
    pass.frozen = &frozen;
    if (!init_dictionary(dictionary) ||
        !start_frozen_worker(frozen, dictionary, output, options.second_thread))
        return failed(pass.choice, CodecStatus::out_of_memory);
    search(pass, input);
    if (pass.choice.result.status != CodecStatus::ok) return pass.choice;
    try {
        finish_stream(pass, output);
    } catch (const std::bad_alloc&) {
        pass.choice = failed(pass.choice, CodecStatus::out_of_memory);
    }
    return pass.choice;
}

} // namespace tarnwel
