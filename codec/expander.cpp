// The decode loop. Plan: read codes a batch ahead and ask for the records
// and window lines later codes need while earlier ones are placed; place
// each code's string in the window in one of four ways (a byte, a string
// kept whole in its record, a copy from where it last appeared, or the
// code being defined: the previous string and its own first byte); a
// string gone from the window waits to be spelled with others (pending.h).
// Then the next code is defined from the previous string.
//
// Tried and dropped: keeping the window's second half when it filled (a
// 32 MiB move every 32 MiB of output at width 25, and only 1 to 2 times the
// longest string of history: laps hold nearly all of the window); spelling
// every string from its prefix links (a cache miss a byte); two tables, an
// occurrence and a link, instead of one record (two misses a step).
#include "codec/expander.h"

#include <algorithm>
#include <cstring>

#include "codec/code_stream.h"
#include "codec/pending.h"
#include "codec/prefault.h"
#include "codec/widths.h"
#include "codec/window.h"

namespace tarnwel {

namespace {

// Tuning. Codes decoded ahead of the one being expanded, and how far ahead
// the records and then the window are asked for.
constexpr std::size_t code_batch = 512;
constexpr std::size_t record_ahead = 32;
constexpr std::size_t window_ahead = 12;
// From the width where the tables take a few megabytes, the other core
// faults their pages in this far ahead of the codes, and writes the output.
constexpr int helper_bits = 18;
constexpr std::size_t prefault_ahead = std::size_t{4} << 20;

// One stream's expansion: what the out-of-line parts (spelling, laps, the
// reader's refills) share with the decode loop.
struct Expansion {
    ExpanderTables& tables;
    CodeReader reader;
    Window window;
    Pending pending;
};

// The decode loop's own state. It is kept apart from Expansion and never
// handed to an out-of-line function, so the compiler knows that the bytes
// written to the window cannot change it and can keep it in registers.
struct Decoder {
    std::uint32_t end;             // the end code
    std::uint32_t last_assignable; // the highest code an entry may get
    std::uint32_t free_code = first_free_code;
    // The string placed last: its code, its output position and length.
    std::uint32_t previous = 0;
    std::uint64_t previous_at = 0;
    std::uint32_t previous_length = 1;
};

// Asks for what the codes record_ahead and window_ahead places later need.
// (A waiting entry's record may be incomplete; here it only steers a request.)
TARNWEL_PREFETCH_HELPER void prefetch_later(const Expansion& e, const Decoder& d,
                                            const std::uint32_t* batch, std::size_t i,
                                            std::size_t count) {
    if (i + record_ahead < count && batch[i + record_ahead] >= 256)
        prefetch_record(e.tables, batch[i + record_ahead]);
    if (i + window_ahead >= count) return;
    std::uint32_t later = batch[i + window_ahead];
    if (later < 256 || later >= d.free_code) return;
    std::uint64_t occurrence = occurrence_of(e.tables, later);
    if (!is_inline(occurrence)) prefetch_spot(e.window, record_position(occurrence));
}

// A string last seen at an output position: copied from the window where it
// still is there, else left to be spelled from its links.
bool place_seen_string(Expansion& e, std::uint8_t* target, std::uint32_t code,
                       std::uint64_t occurrence, std::uint32_t length) {
    Window& window = e.window;
    std::uint64_t seen_at = record_position(occurrence);
    std::size_t spot = spot_in_previous_lap(window, seen_at, window.used + length);
    if (spot == no_spot) {
        spot = spot_in_this_lap(window, seen_at);
        if (spot == no_spot) {
            return !defer_string(e.pending, window.used, code, length) ||
                   spell_pending(e.pending, window, e.tables);
        }
        // A copy from bytes still waiting to be spelled waits for them.
        if (!e.pending.strings.empty() && spot + length > settled_end(e.pending, window) &&
            !spell_pending(e.pending, window, e.tables))
            return false;
    }
    copy_string(target, window.bytes + spot, length);
    return true;
}

// The code being defined, the one code a stream may use before it is in
// the dictionary: the previous string and its own first byte. The window
// always holds the previous string.
void place_code_being_defined(const Expansion& e, const Decoder& d, std::uint8_t* target) {
    const std::uint8_t* source = e.window.bytes + (d.previous_at - e.window.base);
    copy_string(target, source, d.previous_length);
    target[d.previous_length] = *source;
}

// Defines the next code: the previous string, which lies in the window
// where it began, and the first byte of the string just placed at target.
void define_next_code(Expansion& e, Decoder& d, const std::uint8_t* target) {
    ExpanderTables& tables = e.tables;
    const std::uint32_t code = d.free_code++;
    const std::uint32_t length = d.previous_length + 1;
    const std::size_t offset = d.previous_at - e.window.base;
    set_prefix(tables, code, d.previous);
    if (length > inline_length)
        set_occurrence(tables, code, pack_occurrence(0, d.previous_at, length));
    if (waits_at(e.pending, offset + d.previous_length)) {
        // Its last byte is the first of a string still waiting: so it waits too.
        defer_entry(e.pending, code, length, offset);
        return;
    }
    set_last_byte(tables, code, *target);
    if (length <= inline_length)
        set_occurrence(tables, code, pack_string(e.window.bytes + offset, length));
}

// Expands one code that is not the end code. ok to go on; otherwise why
// the stream stops.
CodecStatus expand_code(Expansion& e, Decoder& d, std::uint32_t code) {
    ExpanderTables& tables = e.tables;
    Window& window = e.window;
    // Check the code and find its length.
    if (code > d.free_code) return CodecStatus::corrupt_stream;
    if (code >= e.pending.first_waiting_code && !spell_pending(e.pending, window, tables))
        return CodecStatus::corrupt_stream;
    TARNWEL_INVARIANT(code < 256 || code < e.pending.first_waiting_code);
    std::uint32_t length = 1;
    std::uint64_t occurrence = 0;
    if (code >= 256 && code < d.free_code) {
        occurrence = occurrence_of(tables, code);
        length = record_length(occurrence);
    } else if (code >= 256) {
        length = d.previous_length + 1;
    }
    // Make room; a new lap moves the window, so what waits in it is spelled first.
    if (window.used + length > window.lap_length && !e.pending.strings.empty() &&
        !spell_pending(e.pending, window, tables))
        return CodecStatus::corrupt_stream;
    if (!make_room(window, length, d.previous_at, d.previous_length))
        return CodecStatus::write_failed;
    // Place the string.
    std::uint8_t* target = window.bytes + window.used;
    const std::uint64_t at = window.base + window.used;
    if (code < 256) {
        *target = static_cast<std::uint8_t>(code);
    } else if (code == d.free_code) {
        place_code_being_defined(e, d, target);
    } else if (is_inline(occurrence)) {
        std::uint64_t bytes = occurrence >> 8;
        std::memcpy(target, &bytes, sizeof bytes);
    } else if (!place_seen_string(e, target, code, occurrence, length)) {
        return CodecStatus::corrupt_stream;
    }
    window.used += length;
    // Define the next code, and remember where this string was seen: the
    // latest spot is the likeliest to still be in the window next time.
    if (d.free_code <= d.last_assignable) define_next_code(e, d, target);
    if (length > inline_length)
        set_occurrence(tables, code, pack_occurrence(occurrence_of(tables, code), at, length));
    d.previous = code;
    d.previous_at = at;
    d.previous_length = length;
    return CodecStatus::ok;
}

CodecResult finish(Expansion& e, CodecStatus status) {
    if (!e.pending.strings.empty() && !spell_pending(e.pending, e.window, e.tables) &&
        status == CodecStatus::ok)
        status = CodecStatus::corrupt_stream;
    // Whatever was expanded before a corrupt code stays in the output.
    write_out(e.window);
    CodecResult result = pass_result(e.reader.bytes, e.window.file);
    if (result.status == CodecStatus::ok) result.status = status;
    return result;
}

// How many of the codes read so far lie wholly in bytes the source gave.
// Past a failed read the reader goes on with ones, as past the end of a
// stream; but a stream cut short by a failure did not end there, and a
// code partly made of those ones is not the stream's (it may well be a
// valid code, whose string would go to the output as if it were).
std::uint64_t whole_codes(const CodeReader& reader) {
    return reader.bytes.consumed * 8 / static_cast<unsigned>(reader.width);
}

bool source_failed(const CodeReader& reader) {
    return reader.bytes.error_number != 0;
}

} // namespace

bool allocate_expander(ExpanderTables& tables, int width) {
    std::size_t codes = std::size_t{1} << width;
    if (!allocate_zeroed(tables.records, codes * record_size) ||
        !allocate_zeroed(tables.window, window_size(width) + copy_slack)) {
        tables = ExpanderTables{};
        return false;
    }
    tables.width = width;
    return true;
}

bool unwind_code(const ExpanderTables& tables, std::uint8_t* string_end, std::uint32_t code,
                 std::uint32_t length) {
    for (; length > 1; --length) {
        // Each link is a cache miss that waits for the one before; the last
        // seven bytes are usually a prefix's record, read in one.
        if (length <= inline_length && code >= 256) {
            std::uint64_t record = occurrence_of(tables, code);
            if (is_inline(record) && record_length(record) == length) {
                std::uint64_t bytes = record >> 8;
                std::memcpy(string_end + 1 - length, &bytes, length);
                return true;
            }
        }
        if (code < 256) return false;
        *string_end-- = last_byte(tables, code);
        code = prefix_of(tables, code);
    }
    if (code > 255) return false;
    *string_end = static_cast<std::uint8_t>(code);
    return true;
}

CodecResult expand_stream(ExpanderTables& tables, ByteSource& input, ByteSink& output) {
    Expansion e{tables, make_code_reader(input, tables.width),
                make_window(tables.window.data(), tables.width, output), make_pending()};
    Decoder d{end_code(tables.width), last_code(tables.width)};
    // The tables and the window fill from the front: their fresh pages are
    // faulted in on the other core, ahead of the codes that fill them.
    enum : std::size_t { records_track, window_track };
    Prefaulter prefaulter;
    add_prefault_track(prefaulter, tables.records.data(), tables.records.size);
    add_prefault_track(prefaulter, tables.window.data(), tables.window.size);
    BackgroundWriter background;
    if (tables.width >= helper_bits) {
        start_prefault(prefaulter, prefault_ahead);
        if (start_writer(background, output)) use_background_writer(e.window, background);
    }
    std::size_t window_reached = 0;

    // The first code is a byte or the end code. Once the source has failed,
    // only the codes read whole are expanded.
    d.previous = get_code(e.reader);
    std::uint64_t codes_read = 1;
    if (d.previous == d.end) return finish(e, CodecStatus::ok);
    if (source_failed(e.reader) && whole_codes(e.reader) < codes_read)
        return finish(e, CodecStatus::ok);
    if (d.previous > 255) return finish(e, CodecStatus::corrupt_stream);
    e.window.bytes[e.window.used++] = static_cast<std::uint8_t>(d.previous);

    std::uint32_t batch[code_batch];
    for (;;) {
        // Between batches: the helpers hear how far the tables have come.
        report_reached(prefaulter, records_track, std::size_t{d.free_code} * record_size);
        window_reached = std::max(window_reached, e.window.used);
        report_reached(prefaulter, window_track, window_reached);
        wake_prefault(prefaulter);
        hand_out(e.window, settled_end(e.pending, e.window));
        // Read a batch, and ask for the records of its first codes.
        std::size_t count = 0;
        while (count < code_batch && (count == 0 || batch[count - 1] != d.end))
            batch[count++] = get_code(e.reader);
        const bool failed = source_failed(e.reader);
        if (failed) {
            std::uint64_t whole = whole_codes(e.reader);
            count = whole > codes_read ? std::min<std::uint64_t>(count, whole - codes_read) : 0;
        }
        codes_read += count;
        for (std::size_t i = 0; i < record_ahead && i < count; ++i)
            if (batch[i] >= 256) prefetch_record(tables, batch[i]);
        // Expand it.
        for (std::size_t i = 0; i < count; ++i) {
            prefetch_later(e, d, batch, i, count);
            if (batch[i] == d.end) return finish(e, CodecStatus::ok);
            CodecStatus status = expand_code(e, d, batch[i]);
            if (status != CodecStatus::ok) return finish(e, status);
        }
        if (failed) return finish(e, CodecStatus::ok); // which reports the failed read
    }
}

} // namespace tarnwel
