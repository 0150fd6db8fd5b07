// How close compression comes to its floor: times, for each file, the
// unbounded parse alone (the width search without a stream), compression
// with the frozen parse on the same core, and compression with it on a
// second core. The search's parse sets the pace; the other two show what
// the frozen parse adds on one core and on two.
//
// Build: cmake --build build --target search_floor
// Run:   build/bench/search_floor [--runs N] FILE...
//        build/bench/search_floor --one-core FILE OUTPUT
// The second form compresses once, the frozen parse on the same core, and
// prints nothing: for counting instructions phase by phase, the same on
// every run (bench/instructions.sh).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "codec_over_files.h"
#include "compressor.h"

namespace {

using CodecSource = tarnwel::test::CodecSourceOver;
using CodecSink = tarnwel::test::CodecSinkOver;
using Clock = std::chrono::steady_clock;

template <class Run> double median_seconds(int runs, Run run) {
    std::vector<double> seconds;
    for (int i = 0; i < runs; ++i) {
        auto start = Clock::now();
        run();
        seconds.push_back(std::chrono::duration<double>(Clock::now() - start).count());
    }
    std::sort(seconds.begin(), seconds.end());
    return seconds[seconds.size() / 2];
}

bool succeeded(const tarnwel::CompressResult& choice) {
    return choice.result.status == tarnwel::CodecStatus::ok;
}

// Compresses one open file into another, the frozen parse on a second
// thread or not.
bool compress_file(std::FILE* input, std::FILE* output, bool second_thread) {
    tarnwel::FileSource input_file(input);
    tarnwel::FileSink output_file(output);
    CodecSource source(input_file);
    CodecSink sink(output_file);
    tarnwel::CompressOptions options;
    options.second_thread = second_thread;
    return succeeded(tarnwel::compress(source, sink, options));
}

} // namespace

// Compresses input to output once, on one core.
int compress_once(const char* input_path, const char* output_path) {
    std::FILE* input = std::fopen(input_path, "rb");
    std::FILE* output = std::fopen(output_path, "wb");
    if (input == nullptr || output == nullptr) {
        std::perror(input == nullptr ? input_path : output_path);
        return 2;
    }
    bool ok = compress_file(input, output, false);
    std::fclose(input);
    ok = std::fclose(output) == 0 && ok;
    return ok ? 0 : 2;
}

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "--one-core") == 0)
        return compress_once(argv[2], argv[3]);
    int runs = 5;
    int first = 1;
    if (argc > 2 && std::strcmp(argv[1], "--runs") == 0) {
        runs = std::atoi(argv[2]);
        first = 3;
    }
    std::printf("| input | BITS | search alone | compress, one core | compress, two cores |\n");
    std::printf("|-------|-----:|------:|------:|------:|\n");
    for (int i = first; i < argc; ++i) {
        std::FILE* input = std::fopen(argv[i], "rb");
        if (input == nullptr) {
            std::perror(argv[i]);
            return 2;
        }
        bool ok = true;
        int width = 0;
        double alone = median_seconds(runs, [&] {
            tarnwel::Dictionary dictionary;
            tarnwel::FileSource input_file(input);
            CodecSource source(input_file);
            tarnwel::CompressResult choice = tarnwel::search_width(source, dictionary);
            ok = ok && succeeded(choice);
            width = choice.width;
        });
        auto compress = [&](bool second_thread) {
            return median_seconds(runs, [&] {
                std::FILE* output = std::tmpfile();
                if (output == nullptr) {
                    ok = false;
                    return;
                }
                ok = compress_file(input, output, second_thread) && ok;
                std::fclose(output);
            });
        };
        double one_core = compress(false);
        double two_cores = compress(true);
        std::fclose(input);
        if (!ok) {
            std::fprintf(stderr, "%s: a run failed\n", argv[i]);
            return 2;
        }
        std::printf("| %s | %d | %.3f | %.3f | %.3f |\n", argv[i], width, alone, one_core,
                    two_cores);
    }
    return 0;
}
