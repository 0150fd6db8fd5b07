#include "width/width_search.h"

#include <algorithm>
#include <cerrno>
#include <new>
#include <optional>
#include <vector>

#include "codec/code_stream.h"
#include "codec/frozen_parse.h"
#include "codec/invariant.h"
#include "codec/parse_step.h"
#include "platform/files.h"
#include "platform/last_error.h"

namespace tarnwel {

namespace {

struct Pass {
    Pass(Dictionary& dictionary, SearchHooks hooks, int cap)
        : dictionary(dictionary), hooks(hooks), cap(cap) {}
    Dictionary& dictionary;
    SearchHooks hooks;
    int cap;
    WidthChoice choice;  // last_trial_bits is the trial in progress
    bool capped = false; // the trial at the cap overflowed: the unbounded parse is over
    std::uint32_t free_code = first_free_code;
    Cursor cursor;                 // the unbounded parse's current string
    int overflowed = min_bits - 1; // widest width whose parse has overflowed
    std::uint32_t overflow_code = end_code(min_bits);
    // Compressing: the unbounded parse's codes, and the parse frozen at the
    // widest width that has overflowed so far.
    FrozenWorker* frozen = nullptr;
    std::vector<std::uint32_t> codes;
    const std::uint8_t* block = nullptr; // the start of the block being parsed
    std::uint64_t blocks_after_cap = 0;
    std::uint64_t input_bytes = 0;       // the input's size, when it tells
    std::uint64_t consumed_at_block = 0; // input read when the table was last planned
    std::size_t stored_at_block = 0;     // the table's entries then
};

// A new string met by the unbounded parse at the byte at `at`: its current
// string ends there. False when the parse is over (the cap overflowed) or
// memory ran out.
bool new_string(Pass& pass, const StringEnd& miss, const std::uint8_t* at,
                const std::uint8_t* end) {
    if (pass.frozen != nullptr) pass.codes.push_back(pass.cursor.code);
    if (pass.free_code == pass.overflow_code) {
        int width = ++pass.overflowed;
        if (pass.frozen != nullptr)
            restart_frozen(*pass.frozen, width, pass.codes.size(),
                           static_cast<std::size_t>(at - pass.block));
        if (width >= default_bits) {
            if (width >= pass.cap) {
                pass.capped = true;
                return false;
            }
            pass.choice.last_trial_bits = width + 1;
            if (pass.hooks.trial_started != nullptr)
                pass.hooks.trial_started(width + 1, pass.hooks.context);
        }
        pass.overflow_code = end_code(width + 1);
    }
    if (!add_string(pass.dictionary, miss.place, pass.cursor.code, *at, miss.hash,
                    pass.free_code++)) {
        pass.choice.result.status = CodecStatus::out_of_memory;
        return false;
    }
    start_string(pass.cursor, pass.dictionary, at, end);
    return true;
}

// Foresees how many strings the table will hold by the end of the input,
// from the rate the parse met them over the last block, so that growing
// the table goes straight to its final size instead of doubling (and
// moving every entry) step by step. Most inputs meet new strings ever more
// rarely as the dictionary learns them, so the rate of the latest block
// overestimates less than the overall one.
void plan_table(Pass& pass, std::uint64_t consumed) {
    Dictionary& dictionary = pass.dictionary;
    std::uint64_t block = consumed - pass.consumed_at_block;
    if (block == 0 || consumed >= pass.input_bytes) return;
    std::uint64_t met = dictionary.stored - std::min(dictionary.stored, pass.stored_at_block);
    double ahead = static_cast<double>(met) * static_cast<double>(pass.input_bytes - consumed) /
                   static_cast<double>(block);
    double most = static_cast<double>((std::uint64_t{1} << pass.cap) - first_free_code);
    dictionary.planned =
        static_cast<std::size_t>(std::min(static_cast<double>(dictionary.stored) + ahead, most));
    pass.consumed_at_block = consumed;
    pass.stored_at_block = dictionary.stored;
}

// Past the cap the dictionary is final, and every other block is scouted
// for the frozen parse (see frozen_parse.h): the frozen parse's limit, or 0.
std::uint32_t scout_limit(Pass& pass, bool searching) {
    if (searching || (++pass.blocks_after_cap & 1) != 0) return 0;
    return end_code(pass.cap);
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
        if (compressing &&
            !hand_over_block(*pass.frozen, next, static_cast<std::size_t>(end - next),
                             scout_limit(pass, searching)))
            return;
        bool first = pass.block == nullptr;
        pass.block = next;
        if (first)
            start_string(pass.cursor, dictionary, next++, end); // the input's first byte
        else
            pass.cursor.ahead = nullptr; // it pointed into the block just used up
        if (searching) {
            for (; next < end; ++next) {
                StringEnd miss;
                if (extend_string(pass.cursor, dictionary, no_code_limit, next, end, miss))
                    continue;
                if (!new_string(pass, miss, next, end)) {
                    if (!compressing || pass.choice.result.status != CodecStatus::ok) return;
                    searching = false; // the frozen parse at the cap goes on alone
                    break;
                }
            }
        }
        if (compressing) block_parsed(*pass.frozen);
        if (searching) plan_table(pass, reader.consumed);
    }
}

WidthChoice failed(WidthChoice choice, CodecStatus status, int error_number = 0) {
    choice.result.status = status;
    choice.result.error_number = error_number;
    return choice;
}

// Runs the pass over the input, with a dictionary freshly made, and settles
// the choice.
void search(Pass& pass, std::FILE* input) {
    WidthChoice& choice = pass.choice;
    choice.last_trial_bits = default_bits;
    // A file is searched from its first byte, wherever it was left; a pipe
    // from where it stands. A pipe's size is not known ahead: the table
    // then grows as it fills.
    std::optional<std::uint64_t> size = regular_file_size(input);
    errno = 0;
    if (size && std::fseek(input, 0, SEEK_SET) != 0) {
        choice = failed(choice, CodecStatus::read_failed, last_error_or());
        return;
    }
    pass.input_bytes = size.value_or(0);
    ByteReader reader = make_reader(input, {pass.hooks.progress, pass.hooks.context});
    if (pass.hooks.trial_started != nullptr)
        pass.hooks.trial_started(choice.last_trial_bits, pass.hooks.context);
    // The list of shared codes and the frozen stream's buffer come from
    // the heap: running out there fails the run like the tables do.
    try {
        if (pass.frozen == nullptr)
            run_pass<false>(pass, reader);
        else
            run_pass<true>(pass, reader);
    } catch (const std::bad_alloc&) {
        choice.result.status = CodecStatus::out_of_memory;
    }
    if (pass.frozen != nullptr) finish_frozen_worker(*pass.frozen);
    choice.result.bytes_in = reader.consumed;
    if (choice.result.status != CodecStatus::ok) return;
    int frozen_error =
        pass.frozen != nullptr ? pass.frozen->parse.stream.writer.bytes.error_number : 0;
    if (reader.error_number != 0) {
        choice = failed(choice, CodecStatus::read_failed, reader.error_number);
    } else if (frozen_error != 0) {
        choice = failed(choice, CodecStatus::write_failed, frozen_error);
    } else if (pass.capped) {
        choice.bits = pass.cap;
    } else {
        choice.last_trial_fit = true;
        choice.bits = choice.last_trial_bits - 1;
    }
    // An empty input's stream is one all-ones code and the end code.
    if (reader.consumed == 0) pass.cursor.code = static_cast<std::uint32_t>(-1);
}

// Puts the stream together: the shared codes in front of the frozen stream,
// or the unbounded parse's codes alone when the chosen width never
// overflowed (then no frozen parse ran: it runs at the widest width that
// overflowed, which is the one chosen).
void finish_stream(Pass& pass, std::FILE* output) {
    FrozenParse& frozen = pass.frozen->parse;
    TARNWEL_INVARIANT(!frozen.active || frozen.stream.bits == pass.choice.bits);
    AssembledStream assembled = assemble_stream(
        output, pass.choice.bits, pass.codes, frozen.active ? &frozen.stream : nullptr,
        frozen.active ? frozen.cursor.code : pass.cursor.code);
    if (assembled.error_number != 0)
        pass.choice = failed(pass.choice, CodecStatus::write_failed, assembled.error_number);
    else
        pass.choice.result.bytes_out = assembled.size;
}

} // namespace

WidthChoice search_width(std::FILE* input, Dictionary& dictionary, SearchHooks hooks, int cap) {
    Pass pass(dictionary, hooks, cap);
    if (!init_dictionary(dictionary)) return failed(pass.choice, CodecStatus::out_of_memory);
    search(pass, input);
    return pass.choice;
}

WidthChoice search_and_compress(std::FILE* input, std::FILE* output, SearchHooks hooks, int cap,
                                bool allow_second_thread) {
    Dictionary dictionary;
    Pass pass(dictionary, hooks, cap);
    // The frozen stream is written straight into a regular output file, at
    // the place it will have; anything else gets it through a temporary file.
    bool in_place = regular_file_size(output).has_value();
    std::FILE* frozen_file = in_place ? output : temporary_file();
    if (frozen_file == nullptr) return failed(pass.choice, CodecStatus::write_failed, EIO);
    {
        FrozenWorker frozen;
        pass.frozen = &frozen;
        if (init_dictionary(dictionary) &&
            start_frozen_worker(frozen, dictionary, frozen_file, in_place, allow_second_thread))
            search(pass, input);
        else
            pass.choice = failed(pass.choice, CodecStatus::out_of_memory);
        bool go_on =
            pass.choice.result.status == CodecStatus::ok &&
            (hooks.width_chosen == nullptr || hooks.width_chosen(pass.choice, hooks.context));
        if (go_on) {
            try {
                finish_stream(pass, output);
            } catch (const std::bad_alloc&) {
                pass.choice = failed(pass.choice, CodecStatus::out_of_memory);
            }
        } else if (in_place) {
            truncate_file(output, 0); // the run fails either way
        }
    }
    if (!in_place) std::fclose(frozen_file);
    return pass.choice;
}

} // namespace tarnwel
