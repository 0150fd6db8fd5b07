#include "messages.h"

#include <cstdio>

#include "console.h"
#include "last_error.h"
#include "tarnwel.h"

namespace tarnwel {

void clear_console() {
    if (output_is_terminal()) std::fputs("\033[H\033[2J", stdout);
}

void announce_trial(int width) {
    std::printf("Testing for BITS = %d\n", width);
    std::fflush(stdout);
}

void announce_last_trial_fit(int last_trial_width) {
    int width = last_trial_width;
    std::printf("\nDictionary Table is not full for BITS = %d\n", width);
    std::printf("Tarnwel BITS = %d if last filled value is used\n", width - 1);
    std::printf("Tarnwel BITS = %d if first not filled value is used\n", width);
    std::printf("This program uses the first approach so the Tarnwel BITS = %d \n", width - 1);
}

void announce_compressing(int width) {
    std::printf("\nCompressing with BITS = %d ...  \n", width);
    std::fflush(stdout);
}

void print_run_report(const char* input_path, std::uint64_t bytes_in, const char* output_path,
                      std::uint64_t bytes_out, double seconds) {
    // The ratio is computed in single precision; an empty input gives infinity.
    float ratio = static_cast<float>(bytes_out) / static_cast<float>(bytes_in) * 100.0f;
    std::printf("\nCOMPRESSING FROM %s WHICH IS %lld BYTES \nTO %s WHICH IS %lld BYTES TAKES = "
                "%1.2f sn. and \nCOMPRESSION RATIO = %4.2f\n",
                input_path, static_cast<long long>(bytes_in), output_path,
                static_cast<long long>(bytes_out), seconds, static_cast<double>(ratio));
}

void announce_expanding() {
    std::printf("\nExpanding... \n");
    std::fflush(stdout);
}

void report_out_of_memory(int width) {
    std::printf("tarnwel: not enough memory for the tables at BITS = %d\n", width);
}

void report_corrupt_stream() {
    std::printf("Fatal error during code expansion.\n");
}

void print_usage() {
    std::printf("\nUSAGE : Tarnwel c/d input output\t\t(c:compress, d:decompress)\n");
}

void report_same_file(const char* input_path, const char* output_path) {
    std::printf("tarnwel: input %s and output %s are the same file\n", input_path, output_path);
}

void report_input_is_width_file(const char* input_path, const char* width_path) {
    std::printf("tarnwel: input %s is the width file %s, which this run rewrites\n", input_path,
                width_path);
}

void report_output_is_width_file(const char* output_path, const char* width_path) {
    std::printf("tarnwel: output %s is the width file %s\n", output_path, width_path);
}

void report_no_width(const char* width_path) {
    std::printf("tarnwel: width file %s holds no width from %d to %d\n", width_path,
                TARNWEL_MIN_WIDTH, TARNWEL_MAX_WIDTH);
}

void suggest_width(const char* width_path, int width) {
    std::printf("tarnwel: the stream reads as a whole only at BITS = %d; write %d to %s to "
                "expand it\n",
                width, width, width_path);
}

void report_input_changed(const char* input_path) {
    std::printf("tarnwel: input %s changed while being read\n", input_path);
}

void report_file_error(const char* what, const char* path, int error_number) {
    std::printf("tarnwel: %s %s: %s\n", what, path, error_text(error_number));
}

void report_staging_error(const char* staging_path, const char* output_path, int error_number) {
    std::printf("tarnwel: cannot write staging file %s for output %s: %s\n", staging_path,
                output_path, error_text(error_number));
}

std::string trial_phase(int width) {
    return "Testing BITS = " + std::to_string(width);
}

std::string expanding_phase() {
    return "Expanding";
}

namespace {

std::string format(const char* pattern, double a, double b = 0) {
    char text[64];
    std::snprintf(text, sizeof text, pattern, a, b);
    return text;
}

} // namespace

std::string progress_text(const std::string& phase, std::uint64_t done, std::uint64_t total,
                          double elapsed) {
    double megabytes = static_cast<double>(done) / 1e6;
    double rate = elapsed > 0 ? megabytes / elapsed : 0;
    std::string text = phase;
    if (total == 0) return text + format(": %.1f MB, %.1f MB/s", megabytes, rate);
    double share = static_cast<double>(done) / static_cast<double>(total);
    text += format(": %3.0f%%, %.1f MB/s", 100 * share, rate);
    // Below a second or a percent the rate is still too rough to predict from.
    if (elapsed >= 1 && share >= 0.01 && share < 1)
        text += format(", about %.0f s left", elapsed * (1 - share) / share);
    return text;
}

std::string fit_progress_text(std::string text, std::size_t width) {
    while (text.size() > width) {
        std::size_t last_part = text.rfind(", ");
        if (last_part == std::string::npos) break;
        text.resize(last_part);
    }
    if (text.size() > width) text.resize(width);
    return text;
}

} // namespace tarnwel
