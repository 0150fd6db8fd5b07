#include "width/width_search.h"

#include <algorithm>
#include <cerrno>
#include <new>
#include <optional>
#include <vector>

#include "codec/code_stream.h"
#include "platform/files.h"
#include "platform/last_error.h"

namespace tarnwel {

namespace {

// The compress pass at the widest width that has overflowed so far: from the
// byte where that width overflowed, its dictionary is frozen.
struct FrozenParse {
    bool active = false;
    int bits = 0;
    std::uint32_t limit = 0;      // end_code(bits): wider codes are not in its dictionary
    Cursor cursor;                // the string being matched
    std::size_t shared = 0;       // codes of the unbounded parse that precede this stream
    std::uint64_t start_byte = 0; // where this stream's first byte goes in the file
    // That first byte, kept so the shared codes' last bits can be ORed into
    // it without reading the output back.
    bool first_known = false;
    std::uint8_t first_byte = 0;
    CodeWriter writer;
};

struct Pass {
    Pass(Dictionary& dictionary, SearchHooks hooks, int cap)
        : dictionary(dictionary), hooks(hooks), cap(cap) {}
    Dictionary& dictionary;
    SearchHooks hooks;
    int cap;
    WidthChoice choice; // last_trial_bits is the trial in progress
    bool compressing = false;
    bool capped = false; // the trial at the cap overflowed: the unbounded parse is over
    std::uint32_t free_code = first_free_code;
    Cursor cursor;                 // the unbounded parse's current string
    int overflowed = min_bits - 1; // widest width whose parse has overflowed
    std::uint32_t overflow_code = end_code(min_bits);
    std::vector<std::uint32_t> codes; // the unbounded parse's codes, while compressing
    std::FILE* output = nullptr;
    std::FILE* frozen_file = nullptr; // where the frozen stream is written
    FrozenParse frozen;
    std::uint64_t input_bytes = 0;       // the input's size, when it tells
    std::uint64_t consumed_at_block = 0; // input read when the table was last planned
    std::size_t stored_at_block = 0;     // the table's entries then
};

void restart_frozen(Pass& pass, int bits, const std::uint8_t* at, const std::uint8_t* end) {
    FrozenParse& frozen = pass.frozen;
    if (frozen.active) frozen.writer.bytes.used = 0; // that width lost: drop its stream
    frozen.active = true;
    frozen.bits = bits;
    frozen.limit = end_code(bits);
    start_string(frozen.cursor, pass.dictionary, at, end);
    frozen.shared = pass.codes.size();
    std::uint64_t start_bit = std::uint64_t{frozen.shared} * static_cast<unsigned>(bits);
    frozen.start_byte = start_bit / 8;
    if (frozen.writer.bytes.buffer.empty())
        frozen.writer = make_code_writer(pass.frozen_file, bits);
    drain_buffer(frozen.writer.bytes);
    frozen.writer.bytes.written = 0;
    frozen.first_known = false;
    frozen.writer.bits = bits;
    // The bits in front belong to the last shared code; they are ORed in at the end.
    frozen.writer.write_buffer = 0;
    frozen.writer.write_count = static_cast<int>(start_bit % 8);
    // In the output itself the stream goes where it will stay; a temporary
    // file holds it from its start.
    long offset = pass.frozen_file == pass.output ? static_cast<long>(frozen.start_byte) : 0;
    errno = 0;
    if (std::fseek(pass.frozen_file, offset, SEEK_SET) != 0 &&
        frozen.writer.bytes.error_number == 0)
        frozen.writer.bytes.error_number = last_error_or();
}

// Writes a code of the frozen stream, noting the stream's first byte once it
// is complete (it is still at the front of the writer's buffer then).
inline void put_frozen_code(FrozenParse& frozen, std::uint32_t code) {
    put_code(frozen.writer, static_cast<std::int32_t>(code));
    if (!frozen.first_known && frozen.writer.bytes.written > 0) {
        frozen.first_byte = frozen.writer.bytes.buffer[0];
        frozen.first_known = true;
    }
}

// A new string met by the unbounded parse at the byte at `at`: its current
// string ends there. False when the parse is over (the cap overflowed) or
// memory ran out.
bool new_string(Pass& pass, const StringPlace& place, const std::uint8_t* at,
                const std::uint8_t* end, std::uint64_t hash) {
    if (pass.compressing) pass.codes.push_back(pass.cursor.code);
    if (pass.free_code == pass.overflow_code) {
        int width = ++pass.overflowed;
        if (pass.compressing) restart_frozen(pass, width, at, end);
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
    if (!add_string(pass.dictionary, place, pass.cursor.code, *at, hash, pass.free_code++)) {
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

// The whole input, one block at a time, from next in the first block. The
// frozen parse's step for a byte comes first and is finished before the
// unbounded parse may grow the table.
template <bool compressing>
void run_pass(Pass& pass, ByteReader& reader, const std::uint8_t* next, const std::uint8_t* end) {
    Dictionary& dictionary = pass.dictionary;
    FrozenParse& frozen = pass.frozen;
    bool searching = true;
    for (;;) {
        for (; next < end; ++next) {
            prefetch_position(dictionary, pass.cursor, next, end);
            std::uint32_t byte = *next;
            if (compressing && frozen.active) {
                Cursor& cursor = frozen.cursor;
                std::uint64_t hash = extend_hash(cursor.hash, byte);
                std::uint32_t code = code_at(find_string(dictionary, cursor.code, byte, hash));
                if (code != absent && code < frozen.limit) {
                    continue_string(cursor, dictionary, code, hash, next, end);
                } else {
                    put_frozen_code(frozen, cursor.code);
                    start_string(cursor, dictionary, next, end);
                }
            }
            if (!searching) continue;
            std::uint64_t hash = extend_hash(pass.cursor.hash, byte);
            StringPlace place = find_string(dictionary, pass.cursor.code, byte, hash);
            std::uint32_t code = code_at(place);
            if (code != absent) {
                continue_string(pass.cursor, dictionary, code, hash, next, end);
            } else if (!new_string(pass, place, next, end, hash)) {
                if (!compressing || pass.choice.result.status != CodecStatus::ok) return;
                searching = false; // the frozen parse at the cap goes on alone
            }
        }
        if (compressing && frozen.writer.bytes.error_number != 0) return;
        if (searching) plan_table(pass, reader.consumed);
        if (!take_block(reader, next, end)) return;
        // The lookaheads pointed into the block just used up.
        pass.cursor.ahead = frozen.cursor.ahead = nullptr;
    }
}

WidthChoice failed(WidthChoice choice, CodecStatus status, int error_number = 0) {
    choice.result.status = status;
    choice.result.error_number = error_number;
    return choice;
}

// Runs the pass over the input and settles the choice.
void search(Pass& pass, std::FILE* input) {
    WidthChoice& choice = pass.choice;
    choice.last_trial_bits = default_bits;
    if (!init_dictionary(pass.dictionary)) {
        choice = failed(choice, CodecStatus::out_of_memory);
        return;
    }
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
    const std::uint8_t* next;
    const std::uint8_t* end;
    bool empty = !take_block(reader, next, end);
    if (!empty) {
        start_string(pass.cursor, pass.dictionary, next++, end);
        // The list of shared codes and the frozen stream's buffer come from
        // the heap: running out there fails the run like the tables do.
        try {
            if (pass.compressing)
                run_pass<true>(pass, reader, next, end);
            else
                run_pass<false>(pass, reader, next, end);
        } catch (const std::bad_alloc&) {
            choice.result.status = CodecStatus::out_of_memory;
        }
    }
    choice.result.bytes_in = reader.consumed;
    if (choice.result.status != CodecStatus::ok) return;
    if (reader.error_number != 0) {
        choice = failed(choice, CodecStatus::read_failed, reader.error_number);
    } else if (pass.frozen.writer.bytes.error_number != 0) {
        choice = failed(choice, CodecStatus::write_failed, pass.frozen.writer.bytes.error_number);
    } else if (pass.capped) {
        choice.bits = pass.cap;
    } else {
        choice.last_trial_fit = true;
        choice.bits = choice.last_trial_bits - 1;
    }
    if (empty) pass.cursor.code = static_cast<std::uint32_t>(-1); // all ones in the stream
}

// Copies the frozen stream of size bytes from a temporary file behind the
// shared codes; an abandoned wider stream may lie beyond it.
bool append_frozen(std::FILE* from, std::uint64_t size, CodeWriter& to, std::uint8_t partial) {
    if (std::fflush(from) != 0 || std::fseek(from, 0, SEEK_SET) != 0) return false;
    ByteReader reader = make_reader(from);
    for (std::uint64_t i = 0; i < size; ++i) {
        int byte = read_byte(reader);
        if (byte < 0) return false;
        write_byte(to.bytes, static_cast<std::uint8_t>(i == 0 ? byte | partial : byte));
    }
    return true;
}

// Packs the shared codes in front of the frozen stream, or writes the whole
// stream when the chosen width never overflowed.
void finish_stream(Pass& pass, std::FILE* output) {
    const int bits = pass.choice.bits;
    FrozenParse& frozen = pass.frozen;
    bool frozen_stream = frozen.active && frozen.bits == bits;
    if (frozen_stream) {
        put_frozen_code(frozen, frozen.cursor.code);
        put_frozen_code(frozen, end_code(bits));
        flush(frozen.writer.bytes);
        if (frozen.writer.bytes.error_number != 0) {
            pass.choice =
                failed(pass.choice, CodecStatus::write_failed, frozen.writer.bytes.error_number);
            return;
        }
    }
    errno = 0;
    if (std::fseek(output, 0, SEEK_SET) != 0 && pass.frozen_file == output) {
        pass.choice = failed(pass.choice, CodecStatus::write_failed, last_error_or());
        return;
    }
    CodeWriter writer = make_code_writer(output, bits);
    std::size_t shared = frozen_stream ? frozen.shared : pass.codes.size();
    for (std::size_t i = 0; i < shared; ++i)
        put_code(writer, static_cast<std::int32_t>(pass.codes[i]));
    std::uint64_t size = writer.bytes.written;
    bool copied = true;
    if (!frozen_stream) {
        put_code(writer, static_cast<std::int32_t>(pass.cursor.code));
        put_code(writer, static_cast<std::int32_t>(end_code(bits)));
        size = writer.bytes.written;
    } else {
        auto partial = static_cast<std::uint8_t>(writer.write_buffer >> 24);
        if (pass.frozen_file == output) {
            // The frozen stream is already in place; its first byte still
            // lacks the shared codes' last bits.
            write_byte(writer.bytes, static_cast<std::uint8_t>(frozen.first_byte | partial));
            size = frozen.start_byte + frozen.writer.bytes.written;
        } else {
            copied = append_frozen(pass.frozen_file, frozen.writer.bytes.written, writer, partial);
            size = writer.bytes.written;
        }
    }
    if (!flush(writer.bytes) || !copied) {
        pass.choice = failed(pass.choice, CodecStatus::write_failed,
                             writer.bytes.error_number != 0 ? writer.bytes.error_number : EIO);
        return;
    }
    // Abandoned frozen streams of narrower widths may have run further.
    int error = pass.frozen_file == output ? truncate_file(output, size) : 0;
    if (error != 0) {
        pass.choice = failed(pass.choice, CodecStatus::write_failed, error);
        return;
    }
    pass.choice.result.bytes_out = size;
}

} // namespace

WidthChoice search_width(std::FILE* input, Dictionary& dictionary, SearchHooks hooks, int cap) {
    Pass pass(dictionary, hooks, cap);
    search(pass, input);
    return pass.choice;
}

WidthChoice search_and_compress(std::FILE* input, std::FILE* output, SearchHooks hooks, int cap) {
    Dictionary dictionary;
    Pass pass(dictionary, hooks, cap);
    pass.compressing = true;
    pass.output = output;
    // The frozen stream is written straight into a regular output file, at
    // the place it will have; anything else gets it through a temporary file.
    pass.frozen_file = regular_file_size(output) ? output : temporary_file();
    if (pass.frozen_file == nullptr) return failed(pass.choice, CodecStatus::write_failed, EIO);
    search(pass, input);
    bool go_on = pass.choice.result.status == CodecStatus::ok &&
                 (hooks.width_chosen == nullptr || hooks.width_chosen(pass.choice, hooks.context));
    if (go_on) {
        try {
            finish_stream(pass, output);
        } catch (const std::bad_alloc&) {
            pass.choice = failed(pass.choice, CodecStatus::out_of_memory);
        }
    } else if (pass.frozen_file == output) {
        truncate_file(output, 0); // the run fails either way
    }
    if (pass.frozen_file != output) std::fclose(pass.frozen_file);
    return pass.choice;
}

} // namespace tarnwel
