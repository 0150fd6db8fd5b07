// The width scan (codec/common/width_scan.h): what it costs beside an expansion of
// the same stream, and how often a stream reads at more than one width.
//
// Build: cmake --build build --target width_scan_cost
// Run:   build/bench/width_scan_cost [--runs N] STREAM WIDTH
//        build/bench/width_scan_cost --widths MAX_SIZE
// The first form prints the medians of a scan and of an expansion (output
// dropped) of STREAM, both read from the file as the command reads it, and
// their ratio. The second compresses random and text inputs of every size
// from 0 to MAX_SIZE bytes at every width from 11 to 25, scans each stream
// and prints, by stream size, how many streams fit more than one width.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "compressor.h"
#include "memory_streams.h"
#include "tarnwel.h"
#include "width_scan.h"

namespace {

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<std::uint8_t>;

template <class Run> double median_seconds(int runs, Run run) {
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        Clock::time_point start = Clock::now();
        run();
        times.push_back(std::chrono::duration<double>(Clock::now() - start).count());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

int read_file(void* context, void* buffer, std::size_t capacity, std::size_t* got) {
    *got = std::fread(buffer, 1, capacity, static_cast<std::FILE*>(context));
    return !std::ferror(static_cast<std::FILE*>(context));
}

int drop(void*, unsigned long long, const void*, std::size_t) {
    return 1;
}
int cut(void*, unsigned long long) {
    return 1;
}
int hand_on(void*) {
    return 1;
}

int time_scan(const char* path, int width, int runs) {
    std::FILE* file = std::fopen(path, "rb");
    if (file == nullptr) return 1;
    const tarnwel_source source{file, read_file, -1};
    unsigned widths = 0;
    double scan = median_seconds(runs, [&] {
        std::rewind(file);
        if (tarnwel_scan_widths_stream(&source, &widths) != TARNWEL_OK) std::exit(1);
    });
    const tarnwel_sink sink{nullptr, drop, cut, hand_on};
    double expand = median_seconds(runs, [&] {
        std::rewind(file);
        tarnwel_expander* expander = nullptr;
        if (tarnwel_expander_create(width, &expander) != TARNWEL_OK ||
            tarnwel_expander_expand_stream(expander, &source, &sink, nullptr, nullptr) !=
                TARNWEL_OK)
            std::exit(1);
        tarnwel_expander_free(expander);
    });
    std::fclose(file);
    std::printf("widths found 0x%x\nscan    %.4f s\nexpand  %.4f s\nratio   %.3f\n", widths, scan,
                expand, scan / expand);
    return 0;
}

Bytes text_of(std::size_t size, std::mt19937& generator) {
    static const char* const words[] = {"the ",   "stream ", "of ",    "codes ", "and ", "a ",
                                        "width ", "which ",  "reads ", "file\n", "to ",  "bits "};
    std::string text;
    while (text.size() < size)
        text += words[generator() % std::size(words)];
    return Bytes(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(size));
}

Bytes random_of(std::size_t size, std::mt19937& generator) {
    Bytes bytes(size);
    for (std::uint8_t& byte : bytes)
        byte = static_cast<std::uint8_t>(generator());
    return bytes;
}

Bytes compress_at(const Bytes& input, int width) {
    tarnwel::SpanSource source(input.data(), input.size());
    tarnwel::VectorSink sink;
    tarnwel::CompressOptions options;
    options.width = width;
    if (tarnwel::compress(source, sink, options).result.status != tarnwel::CodecStatus::ok)
        std::exit(1);
    return sink.bytes;
}

// Streams counted by size: bands of stream bytes, doubling.
int band_of(std::size_t size) {
    int band = 0;
    while (size >= (std::size_t{2} << band))
        ++band;
    return band;
}

int count_widths(std::size_t most) {
    constexpr int bands = 40;
    long streams[bands] = {}, several[bands] = {}, foreign[bands] = {};
    std::mt19937 generator(1);
    for (std::size_t size = 0; size <= most; ++size) {
        const Bytes inputs[] = {random_of(size, generator), text_of(size, generator)};
        for (const Bytes& input : inputs) {
            for (int width = tarnwel::min_width; width <= tarnwel::max_width; ++width) {
                Bytes stream = compress_at(input, width);
                std::uint32_t widths = tarnwel::scan_widths(stream.data(), stream.size());
                int band = band_of(stream.size());
                ++streams[band];
                if ((widths & (widths - 1)) != 0) ++several[band];
                if ((widths & (std::uint32_t{1} << width)) == 0) ++foreign[band];
            }
        }
    }
    std::printf("| stream bytes | streams | fit more than one width | miss their own |\n");
    std::printf("|---|---|---|---|\n");
    for (int band = 0; band < bands; ++band)
        if (streams[band] != 0)
            std::printf("| %zu–%zu | %ld | %ld | %ld |\n", std::size_t{1} << band,
                        (std::size_t{2} << band) - 1, streams[band], several[band], foreign[band]);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    int runs = 5;
    int at = 1;
    if (argc >= 3 && std::strcmp(argv[1], "--widths") == 0)
        return count_widths(std::strtoul(argv[2], nullptr, 10));
    if (argc >= 3 && std::strcmp(argv[1], "--runs") == 0) {
        runs = std::atoi(argv[2]);
        at = 3;
    }
    if (argc - at != 2) {
        std::fprintf(stderr, "usage: width_scan [--runs N] STREAM WIDTH | --widths MAX_SIZE\n");
        return 2;
    }
    return time_scan(argv[at], std::atoi(argv[at + 1]), std::max(runs, 1));
}
