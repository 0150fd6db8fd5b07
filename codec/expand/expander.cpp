// The pull loop: reads the codes from a source a batch at a time, expands
// them (expansion.h) and writes the window to a sink as its laps fill, with
// helper threads for the output and the tables' fresh pages at the wider
// widths.
//
// Tried and dropped: keeping the window's second half when it filled (a
// 32 MiB move every 32 MiB of output at width 25, and only 1 to 2 times the
// longest string of history: laps hold nearly all of the window); spelling
// every string from its prefix links (a cache miss a byte); a thread that
// reads the input ahead (on two cores it takes time from this one); a
// window larger than four and a half times 2^width bytes (less to
// spell on text, but a fifth more memory).
#include "expander.h"

#include <algorithm>
#include <cstring>

#include "code_stream.h"
#include "expansion.h"
#include "prefault.h"
#include "stream_ends.h"

namespace tarnwel {

namespace {

// From the width where the tables take a few megabytes, the other core
// faults their pages in this far ahead of the codes, and writes the output.
constexpr int helper_bits = 18;
constexpr std::size_t prefault_ahead = std::size_t{4} << 20;

CodecResult finish(Expansion& e, const CodeReader& reader, CodecStatus status) {
    if (!settle_pending(e.pending, e.window, e.tables) && status == CodecStatus::ok)
        status = CodecStatus::corrupt_stream;
    // Whatever was expanded before a corrupt code stays in the output.
    write_out(e.window);
    CodecResult result = pass_result(reader.bytes, e.window.file);
    if (result.status == CodecStatus::ok) result.status = status;
    return result;
}

// How many of the codes read so far lie wholly in bytes the source gave.
std::uint64_t whole_codes(const CodeReader& reader) {
    return reader.bytes.consumed * 8 / static_cast<unsigned>(reader.width);
}

bool source_failed(const CodeReader& reader) {
    return reader.bytes.error_number != 0;
}

// Of count codes just read after codes_read others, how many are the
// stream's; cut is set when the stream was cut short. Past the end of the
// input, or a failed read, the reader goes on with ones. A code partly made
// of them may well be a valid code, whose string would go to the output as
// if it were the stream's: only the end code lacking no more bits than the
// writer leaves out is. A failed read is reported as such, not as a cut.
std::size_t codes_in_stream(const CodeReader& reader, const std::uint32_t* codes,
                            std::uint64_t codes_read, std::size_t count, bool& cut) {
    cut = false;
    const std::uint64_t whole = whole_codes(reader);
    if (codes_read + count <= whole) return count;
    const std::size_t kept = whole > codes_read ? static_cast<std::size_t>(whole - codes_read) : 0;
    if (source_failed(reader)) return kept;
    const std::uint64_t missing = bits_past_input(reader, codes_read + kept + 1);
    if (whole_as_written(codes[kept], reader.width, missing)) return kept + 1;
    cut = true;
    return kept;
}

// Why the pull loop stops at a code (it never sees lap_full).
CodecStatus status_of(Placement placed) {
    return placed == Placement::write_failed ? CodecStatus::write_failed
                                             : CodecStatus::corrupt_stream;
}

} // namespace

CodecResult expand_stream(ExpanderTables& tables, ByteSource& input, ByteSink& output) {
    CodeReader reader = make_code_reader(input, tables.width);
    Expansion e{tables, make_window(tables.window.data(), tables.width, output), make_pending()};
    Decoder d{end_code(tables.width), last_code(tables.width)};
    // The tables and the window fill from the front: their fresh pages are
    // faulted in on the other core, ahead of the codes that fill them.
    // Links are written only for long strings: their pages are faulted in
    // ahead only while long strings are being defined.
    enum : std::size_t { records_track, links_track, window_track };
    Prefaulter prefaulter;
    add_prefault_track(prefaulter, tables.records.data(), tables.records.size);
    add_prefault_track(prefaulter, tables.links.data(), tables.links.size);
    add_prefault_track(prefaulter, tables.window.data(), tables.window.size);
    BackgroundWriter background;
    if (tables.width >= helper_bits) {
        start_prefault(prefaulter, prefault_ahead);
        if (start_writer(background, output)) use_background_writer(e.window, background);
    }
    std::size_t window_reached = 0;

    // The first code is a byte or the end code, if the stream holds it.
    const std::uint32_t first = get_code(reader);
    bool cut = false;
    if (codes_in_stream(reader, &first, 0, 1, cut) == 0)
        return finish(e, reader, cut ? CodecStatus::corrupt_stream : CodecStatus::ok);
    std::uint64_t codes_read = 1;
    switch (place_first_code(e, d, first)) {
    case FirstCode::ended:
        return finish(e, reader, CodecStatus::ok);
    case FirstCode::corrupt:
        return finish(e, reader, CodecStatus::corrupt_stream);
    case FirstCode::placed:
        break;
    }

    std::uint32_t batch[code_batch + batch_padding];
    for (;;) {
        // Between batches: the helpers hear how far the tables have come.
        report_reached(prefaulter, records_track, std::size_t{d.free_code} * occurrence_size);
        if (d.previous_length >= inline_length)
            report_reached(prefaulter, links_track, std::size_t{d.free_code} * link_size);
        window_reached = std::max(window_reached, e.window.used);
        report_reached(prefaulter, window_track, window_reached);
        wake_prefault(prefaulter);
        hand_out(e.window, settled_end(e.pending, e.window));
        // Read a batch, and ask for the records of its first codes.
        std::size_t count = get_codes(reader, batch, code_batch, d.end);
        while (count < code_batch && (count == 0 || batch[count - 1] != d.end))
            batch[count++] = get_code(reader);
        count = codes_in_stream(reader, batch, codes_read, count, cut);
        const bool failed = source_failed(reader);
        codes_read += count;
        // A batch ends at the end code: it is looked for once, not at each code.
        const bool ends = count != 0 && batch[count - 1] == d.end;
        if (ends) --count;
        ready_batch(tables, batch, count);
        // Expand it.
        std::size_t i = 0;
        const Placement placed = expand_codes<false>(e, d, batch, i, count);
        if (placed != Placement::placed) return finish(e, reader, status_of(placed));
        if (cut) return finish(e, reader, CodecStatus::corrupt_stream);
        if (ends || failed) return finish(e, reader, CodecStatus::ok); // failed: reports the read
    }
}

} // namespace tarnwel
