// Helpers shared by the tests: in-memory runs of the library, a reference
// coder that is slow but obviously right, input generators, and running the
// executable in a scratch folder.
#pragma once

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "codec_over_files.h"
#include "codec_result.h"
#include "compressor.h"
#include "expander.h"
#include "widths.h"

namespace tarnwel::test {

using Bytes = std::vector<std::uint8_t>;
using Codes = std::vector<std::uint32_t>;

Bytes bytes_of(const std::string& text);

// The library's compressor and expander at a given width, through temporary files.
Bytes compress_bytes(const Bytes& input, int width);
struct Expanded {
    CodecStatus status = CodecStatus::ok;
    Bytes bytes;
};
Expanded expand_bytes(const Bytes& stream, int width);
// Reuses tables from an earlier stream: entries left over must never be read.
Expanded expand_bytes(const Bytes& stream, ExpanderTables& tables);

// The one-pass search and compression, and the straightforward separate
// trials followed by a compress pass, with the trials each one reported.
struct Searched {
    CompressResult choice;
    std::vector<int> trials;
    Bytes stream;
};
Searched search_and_compress_bytes(const Bytes& input, int cap = max_width,
                                   bool second_thread = true);
Searched reference_search_and_compress(const Bytes& input, int cap = max_width);
Expanded reference_expand_bytes(const Bytes& stream, int width);
Bytes reference_compress_bytes(const Bytes& input, int width);

// Reference LZW over a std::map: the codes the compressor must write at
// bits, the end code included.
Codes reference_codes(const Bytes& input, int width);
// How many new strings an unbounded parse of input meets.
std::uint64_t reference_new_strings(const Bytes& input);
// Packs codes MSB first bit by bit, dropping the bits that do not fill a byte.
Bytes reference_pack(const Codes& codes, int width);

// Inputs.
Bytes random_bytes(std::size_t size, std::uint32_t seed);
Bytes text_like(std::size_t size, std::uint32_t seed);
// Random stretches, runs, small alphabets, repeats and text, mixed.
Bytes mixed_input(std::size_t size, std::uint32_t seed);
// The shortest prefix of source whose parse meets exactly new_strings new strings.
Bytes prefix_with_new_strings(const Bytes& source, std::uint64_t new_strings);

// Hands the input over a few bytes at a time, as a pipe may: every string
// and every lookahead then meets block ends at every point.
class TricklingSource : public ByteSource {
public:
    explicit TricklingSource(const Bytes& bytes) : bytes_(bytes) {}
    std::size_t read(std::uint8_t* buffer, std::size_t capacity) override {
        std::size_t count = std::min({capacity, bytes_.size() - at_, 1 + reads_++ % 7});
        std::copy_n(bytes_.data() + at_, count, buffer);
        at_ += count;
        return count;
    }
    int error() const override { return 0; }

private:
    const Bytes& bytes_;
    std::size_t at_ = 0;
    std::size_t reads_ = 0;
};

// A scratch folder, removed with everything in it at the end of the test.
struct ScratchFolder {
    std::filesystem::path path;
    ScratchFolder();
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
};

void write_file(const std::filesystem::path& path, const Bytes& bytes);
// The names in folder, sorted.
std::vector<std::string> names_in(const std::filesystem::path& folder);
Bytes read_file(const std::filesystem::path& path);

// The shell command that starts the program under test: this build's
// executable, or the command in TARNWEL_UNDER_TEST (such as the Windows
// build under wine, which runs the command-line suite's cases unchanged).
std::string program_under_test();
std::string this_build();

// Runs the program under test with arguments (each quoted for the shell)
// inside folder.
struct RunOutcome {
    int status;         // exit status as a shell shows it
    std::string output; // standard output
    std::string errors; // standard error
};
RunOutcome run_tarnwel(const std::filesystem::path& folder, const std::vector<std::string>& args,
                       const std::string& redirect_stdout_to = "",
                       const std::string& program = program_under_test());

} // namespace tarnwel::test
