#include "codec/expander.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "codec/background_writer.h"
#include "codec/code_stream.h"
#include "codec/prefault.h"
#include "codec/widths.h"
#include "platform/last_error.h"

namespace tarnwel {

namespace {

// Codes decoded ahead of the one being expanded, and how far ahead the
// occurrence table and then the window are asked for.
constexpr std::size_t code_batch = 512;
constexpr std::size_t occurrence_ahead = 32;
constexpr std::size_t window_ahead = 12;
// From the width where the tables take a few megabytes, the other core
// faults their pages in this far ahead of the codes, and writes the output
// in stretches of about this size.
constexpr int helper_bits = 18;
constexpr std::size_t prefault_ahead = std::size_t{4} << 20;
constexpr std::size_t handoff_size = std::size_t{1} << 20;

// The window takes four and a half times the longest string (2^BITS - 256
// bytes; two must fit). With the records that makes 16.5 bytes a code, just
// within one and a half times the straightforward design's tables (9 bytes
// a slot, 1.25 slots a code): history reaches as far back as the memory
// allows.
std::size_t window_size(int bits) {
    return std::size_t{9} << (bits - 1);
}

// Short strings are copied sixteen bytes at a time, reading and writing up
// to this many bytes past their end; the window has that much to spare.
constexpr std::size_t copy_slack = 16;

// Copies a string from earlier in the window. All of a chunk is read before
// it is written, so a source that ends right where the target starts (the
// previous string) is copied correctly; bytes written past length are
// overwritten by the strings that follow.
inline void copy_string(std::uint8_t* target, const std::uint8_t* source, std::size_t length) {
    if (length <= copy_slack) {
        std::uint8_t chunk[copy_slack];
        std::memcpy(chunk, source, copy_slack);
        std::memcpy(target, chunk, copy_slack);
    } else {
        std::memcpy(target, source, length);
    }
}

constexpr std::uint32_t no_code = static_cast<std::uint32_t>(-1);

struct PendingString {
    std::size_t offset; // in the window
    std::uint32_t code;
    std::uint32_t length;
};

// A new code whose last byte is the first of a pending string, completed
// once that string is spelled.
struct PendingEntry {
    std::uint32_t code;
    std::uint32_t length;
    std::size_t offset; // of its string in the window, the pending one's first byte at its end
};

constexpr std::size_t none = static_cast<std::size_t>(-1);

// The output as it is written. The window is filled from the front in laps:
// when a string no longer fits, the next lap starts over at the front with a
// copy of the previous string (the next entry extends it). The bytes of the
// lap before, past those the current lap has written, are still history, so
// the window holds nearly a lap's length of recent output, at the cost of
// one short copy a lap. The first lap takes twice the longest string and
// each lap after twice the one before, up to the whole window: an output
// that needs no more does not touch fresh pages for it.
//
// window[0] is output byte `base`; in the lap before it was `previous_base`.
// Bytes below `flushed` have been handed to the file, or to the background
// writer.
struct Output {
    std::FILE* file = nullptr;
    BackgroundWriter* background = nullptr; // when one runs
    std::size_t handoff = 0;                // least stretch handed to it
    std::uint8_t* window = nullptr;
    std::size_t capacity = 0;
    std::size_t lap_length = 0; // of the current lap, at most capacity
    std::size_t used = 0;
    std::size_t flushed = 0;
    std::uint64_t base = 0;
    std::uint64_t previous_base = unknown_position; // none yet
    int error_number = 0;
    // Strings gone from the window, their places in it reserved, waiting to
    // be spelled from their prefix links together (see spell_pending), in
    // output order; and the entries that wait for them. A code from the
    // first waiting entry on is only read once they are complete, so no
    // pending string's chain passes through one.
    std::vector<PendingString> pending;
    std::vector<PendingEntry> entries;
    std::uint32_t first_waiting_code = no_code;
};

// Strings gone from the window are spelled together once this many wait.
constexpr std::size_t pending_limit = 128;
// Chains followed side by side: each one's next link waits for a cache miss,
// and this many misses are in flight at once.
constexpr std::size_t unwind_lanes = 16;

void note_background_error(Output& out) {
    int error_number = wait_for_writer(*out.background);
    if (out.error_number == 0) out.error_number = error_number;
}

bool write_out(Output& out) {
    if (out.background != nullptr) note_background_error(out);
    if (out.used > out.flushed && out.error_number == 0) {
        errno = 0;
        std::size_t count = out.used - out.flushed;
        if (std::fwrite(out.window + out.flushed, 1, count, out.file) != count)
            out.error_number = last_error_or();
    }
    out.flushed = out.used;
    return out.error_number == 0;
}

// Hands the settled output (up to the first place still waiting to be
// spelled) to the background writer, when there is enough of it and the
// writer is free. Those bytes stay as they are until it is done: the window
// only changes above them, or after write_out has waited for it.
void hand_out(Output& out) {
    if (out.background == nullptr) return;
    std::size_t settled = out.pending.empty() ? out.used : out.pending.front().offset;
    if (settled < out.flushed + out.handoff || !writer_idle(*out.background)) return;
    note_background_error(out);
    if (out.error_number != 0) return;
    hand_to_writer(*out.background, out.window + out.flushed, settled - out.flushed);
    out.flushed = settled;
}

// Makes room for length more bytes, starting a new lap when they do not fit.
// The previous string, at the end of the lap that ends, is copied to the
// front of the new one, where the next entry's string begins with it.
bool make_room(Output& out, std::size_t length, std::uint64_t previous_at,
               std::uint32_t previous_length) {
    if (out.used + length <= out.lap_length) return true;
    if (!write_out(out)) return false;
    std::memmove(out.window, out.window + (previous_at - out.base), previous_length);
    out.previous_base = out.base;
    out.base = previous_at;
    out.used = out.flushed = previous_length;
    out.lap_length = std::min(out.capacity, 2 * out.lap_length);
    return true;
}

// Where a string seen at output position `at` still lies in the lap before,
// or none. Its bytes there are intact if they lie past the first `written`
// bytes of the current lap, which also counts what is about to be written
// (and the bytes short copies write past a string's end).
std::size_t spot_in_previous_lap(const Output& out, std::uint64_t at, std::size_t written) {
    if (at >= out.base || at < out.previous_base || at == unknown_position) return none;
    std::size_t spot = at - out.previous_base;
    return spot >= written + copy_slack ? spot : none;
}

// A record is read whole; the odd one straddles two cache lines.
inline void prefetch_record(const ExpanderTables& tables, std::uint32_t code) {
    const std::uint8_t* record = record_of(tables, code);
    __builtin_prefetch(record);
    __builtin_prefetch(record + record_size - 1);
}

// One link of a chain: writes the code's last byte at last, moving last back,
// and gives the code's prefix.
inline std::uint32_t follow_link(const ExpanderTables& tables, std::uint8_t*& last,
                                 std::uint32_t code) {
    *last-- = last_byte(tables, code);
    return prefix_of(tables, code);
}

// Spells the pending strings, following several chains side by side. False,
// with the output cut back to the first string that failed, for a chain
// that does not end in a byte at its recorded length.
bool spell_pending(Output& out, ExpanderTables& tables) {
    struct Lane {
        std::uint8_t* last;
        std::uint32_t code;
        std::uint32_t left;
        std::size_t offset;
    };
    Lane lanes[unwind_lanes];
    const std::vector<PendingString>& pending = out.pending;
    std::size_t next = 0;
    auto take_next = [&](Lane& lane) {
        const PendingString& string = pending[next++];
        lane = {out.window + string.offset + string.length - 1, string.code, string.length,
                string.offset};
    };
    std::size_t active = 0;
    while (active < unwind_lanes && next < pending.size())
        take_next(lanes[active++]);
    // A chain passes through the prefixes of its string, which are written
    // out with it. A prefix that has appeared again since, in the part of the
    // window before the first place still waiting, gives the rest of the
    // string in one copy. And each prefix passed is recorded at this new
    // spot: strings of the same text share prefixes, and the next chain
    // through one of them can stop there.
    const std::size_t settled = pending.front().offset;
    const std::size_t reserved =
        std::max(out.used, pending.back().offset + std::size_t{pending.back().length});
    auto copy_from_window = [&](Lane& lane, std::uint64_t occurrence) {
        if (is_inline(occurrence) || record_length(occurrence) != lane.left) return false;
        std::uint64_t seen_at = record_position(occurrence);
        std::size_t spot = spot_in_previous_lap(out, seen_at, reserved);
        if (spot == none) {
            if (seen_at < out.base || seen_at == unknown_position ||
                seen_at - out.base + lane.left > settled)
                return false;
            spot = seen_at - out.base;
        }
        std::memcpy(lane.last + 1 - lane.left, out.window + spot, lane.left);
        return true;
    };
    std::size_t failed = none;
    while (active > 0) {
        for (std::size_t j = 0; j < active;) {
            Lane& lane = lanes[j];
            if (lane.left <= inline_length || lane.code < 256) {
                // The rest is one record read, or a broken chain.
                if (!unwind_code(tables, lane.last, lane.code, lane.left))
                    failed = std::min(failed, lane.offset);
            } else {
                // One cache miss gives both words of the record.
                std::uint8_t* record = record_of(tables, lane.code);
                const std::uint64_t occurrence = load_occurrence(record);
                if (!copy_from_window(lane, occurrence)) {
                    const std::uint32_t link = load_link(record);
                    store_occurrence(
                        record, pack_occurrence(occurrence, out.base + lane.offset, lane.left));
                    *lane.last-- = positional_last_byte(occurrence, link);
                    lane.code = link & prefix_mask;
                    --lane.left;
                    prefetch_record(tables, lane.code);
                    ++j;
                    continue;
                }
            }
            // This lane's string is complete: it takes the next one.
            if (next < pending.size()) {
                take_next(lane);
                ++j;
            } else {
                lane = lanes[--active];
            }
        }
    }
    out.pending.clear();
    for (const PendingEntry& entry : out.entries) {
        const std::uint8_t* string = out.window + entry.offset;
        set_last_byte(tables, entry.code, string[entry.length - 1]);
        if (entry.length <= inline_length)
            set_occurrence(tables, entry.code, pack_string(string, entry.length));
    }
    out.entries.clear();
    out.first_waiting_code = no_code;
    if (failed == none) return true;
    out.used = failed;
    return false;
}

CodecResult finish(CodeReader& reader, Output& out, ExpanderTables& tables, CodecStatus status) {
    if (!out.pending.empty() && !spell_pending(out, tables) && status == CodecStatus::ok)
        status = CodecStatus::corrupt_stream;
    CodecResult result;
    result.status = status;
    result.bytes_in = reader.bytes.consumed;
    result.bytes_out = out.base + out.used;
    // Whatever was expanded before a corrupt code stays in the output.
    write_out(out);
    if (out.error_number == 0 && std::fflush(out.file) != 0) out.error_number = last_error_or();
    if (reader.bytes.error_number != 0) {
        result.status = CodecStatus::read_failed;
        result.error_number = reader.bytes.error_number;
    } else if (out.error_number != 0) {
        result.status = CodecStatus::write_failed;
        result.error_number = out.error_number;
    }
    return result;
}

} // namespace

bool allocate_expander(ExpanderTables& tables, int bits) {
    std::size_t codes = std::size_t{1} << bits;
    if (!allocate_zeroed(tables.records, codes * record_size) ||
        !allocate_zeroed(tables.window, window_size(bits) + copy_slack)) {
        tables = ExpanderTables{};
        return false;
    }
    tables.bits = bits;
    return true;
}

bool unwind_code(const ExpanderTables& tables, std::uint8_t* last, std::uint32_t code,
                 std::uint32_t length) {
    for (; length > 1; --length) {
        // Each link is a cache miss that waits for the one before; the last
        // seven bytes are usually a prefix's record, read in one.
        if (length <= inline_length && code >= 256) {
            std::uint64_t record = occurrence_of(tables, code);
            if (is_inline(record) && record_length(record) == length) {
                std::uint64_t bytes = record >> 8;
                std::memcpy(last + 1 - length, &bytes, length);
                return true;
            }
        }
        if (code < 256) return false;
        code = follow_link(tables, last, code);
    }
    if (code > 255) return false;
    *last = static_cast<std::uint8_t>(code);
    return true;
}

CodecResult expand_stream(ExpanderTables& tables, std::FILE* input, std::FILE* output,
                          ProgressHook progress) {
    CodeReader reader = make_code_reader(input, tables.bits, progress);
    Output out;
    out.file = output;
    out.window = tables.window.data();
    out.capacity = tables.window.size - copy_slack;
    out.lap_length = std::min(out.capacity, std::size_t{2} << tables.bits);
    out.pending.reserve(pending_limit);
    out.entries.reserve(pending_limit);
    const std::uint32_t end = end_code(tables.bits);
    const std::uint32_t last = last_code(tables.bits);
    std::uint32_t free_code = first_free_code;

    // The tables and the window fill from the front: their fresh pages are
    // faulted in on the other core, ahead of the codes that fill them.
    enum : std::size_t { records_track, window_track };
    Prefaulter prefaulter;
    add_prefault_track(prefaulter, tables.records.data(), tables.records.size);
    add_prefault_track(prefaulter, tables.window.data(), tables.window.size);
    BackgroundWriter background;
    if (tables.bits >= helper_bits) {
        start_prefault(prefaulter, prefault_ahead);
        if (start_writer(background, output)) {
            out.background = &background;
            out.handoff = std::min(handoff_size, out.capacity / 8);
        }
    }
    std::size_t window_reached = 0;

    std::uint32_t previous = get_code(reader);
    if (previous == end) return finish(reader, out, tables, CodecStatus::ok);
    if (previous > 255) return finish(reader, out, tables, CodecStatus::corrupt_stream);
    out.window[out.used++] = static_cast<std::uint8_t>(previous);
    std::uint64_t previous_at = 0; // output position of the previous string
    std::uint32_t previous_length = 1;

    // Codes are read a batch ahead, so that the tables and the window can be
    // asked for what later codes need while earlier ones are copied.
    std::uint32_t batch[code_batch];
    for (;;) {
        report_reached(prefaulter, records_track, std::size_t{free_code} * record_size);
        window_reached = std::max(window_reached, out.used);
        report_reached(prefaulter, window_track, window_reached);
        wake_prefault(prefaulter);
        hand_out(out);
        std::size_t count = 0;
        while (count < code_batch && (count == 0 || batch[count - 1] != end))
            batch[count++] = get_code(reader);
        // The loop below asks for records a fixed distance ahead; the first
        // ones of a batch are asked for here.
        for (std::size_t i = 0; i < occurrence_ahead && i < count; ++i)
            if (batch[i] >= 256) prefetch_record(tables, batch[i]);
        for (std::size_t i = 0; i < count; ++i) {
            if (i + occurrence_ahead < count && batch[i + occurrence_ahead] >= 256)
                prefetch_record(tables, batch[i + occurrence_ahead]);
            if (i + window_ahead < count) {
                std::uint32_t later = batch[i + window_ahead];
                std::uint64_t record =
                    later >= 256 && later < free_code ? occurrence_of(tables, later) : 0;
                if (record != 0 && !is_inline(record)) {
                    std::uint64_t seen_at = record_position(record);
                    if (seen_at >= out.base && seen_at < out.base + out.used)
                        __builtin_prefetch(out.window + (seen_at - out.base));
                    else if (seen_at >= out.previous_base && seen_at < out.base)
                        __builtin_prefetch(out.window + (seen_at - out.previous_base));
                }
            }

            std::uint32_t code = batch[i];
            if (code == end) return finish(reader, out, tables, CodecStatus::ok);
            if (code > free_code) return finish(reader, out, tables, CodecStatus::corrupt_stream);
            if (code >= out.first_waiting_code && !spell_pending(out, tables))
                return finish(reader, out, tables, CodecStatus::corrupt_stream);
            std::uint32_t length = 1;
            std::uint64_t occurrence = 0;
            if (code >= 256 && code < free_code) {
                occurrence = occurrence_of(tables, code);
                length = record_length(occurrence);
            } else if (code >= 256) {
                length = previous_length + 1;
            }
            // Emptying the window moves it: what waits in it is spelled first.
            if (out.used + length > out.lap_length && !out.pending.empty() &&
                !spell_pending(out, tables))
                return finish(reader, out, tables, CodecStatus::corrupt_stream);
            if (!make_room(out, length, previous_at, previous_length))
                return finish(reader, out, tables, CodecStatus::ok);
            std::uint8_t* target = out.window + out.used;
            const std::uint64_t at = out.base + out.used;
            if (code < 256) {
                *target = static_cast<std::uint8_t>(code);
            } else if (code < free_code && is_inline(occurrence)) {
                std::uint64_t bytes = occurrence >> 8;
                std::memcpy(target, &bytes, sizeof bytes);
            } else if (code < free_code) {
                std::uint64_t seen_at = record_position(occurrence);
                std::size_t spot = spot_in_previous_lap(out, seen_at, out.used + length);
                if (spot != none) {
                    copy_string(target, out.window + spot, length);
                } else if (seen_at >= out.base && seen_at != unknown_position) {
                    std::size_t from = seen_at - out.base;
                    if (!out.pending.empty() && from + length > out.pending.front().offset &&
                        !spell_pending(out, tables))
                        return finish(reader, out, tables, CodecStatus::corrupt_stream);
                    copy_string(target, out.window + from, length);
                } else {
                    out.pending.push_back({out.used, code, length});
                    if (out.pending.size() == pending_limit && !spell_pending(out, tables))
                        return finish(reader, out, tables, CodecStatus::corrupt_stream);
                }
            } else {
                // The code being defined: the previous string and its own
                // first byte. The window always holds the previous string.
                const std::uint8_t* source = out.window + (previous_at - out.base);
                copy_string(target, source, previous_length);
                target[previous_length] = *source;
            }
            out.used += length;
            if (free_code <= last) {
                // The new code's string, the previous one and this one's
                // first byte, lies in the window where the previous began.
                const std::uint32_t new_length = previous_length + 1;
                const std::size_t offset = previous_at - out.base;
                set_prefix(tables, free_code, previous);
                if (new_length > inline_length)
                    set_occurrence(tables, free_code, pack_occurrence(0, previous_at, new_length));
                if (!out.pending.empty() && out.pending.back().offset == offset + previous_length) {
                    // This string waits to be spelled: so does the entry.
                    out.entries.push_back({free_code, new_length, offset});
                    out.first_waiting_code = std::min(out.first_waiting_code, free_code);
                } else {
                    set_last_byte(tables, free_code, *target);
                    if (new_length <= inline_length)
                        set_occurrence(tables, free_code,
                                       pack_string(out.window + offset, new_length));
                }
                ++free_code;
            }
            // The latest spot is the likeliest to still be in the window next time.
            if (length > inline_length)
                set_occurrence(tables, code,
                               pack_occurrence(occurrence_of(tables, code), at, length));
            previous = code;
            previous_at = at;
            previous_length = length;
        }
    }
}

} // namespace tarnwel
