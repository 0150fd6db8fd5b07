#include "test_support.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

#include "compressor.h"
#include "expander.h"
#include "file_io.h"
#include "reference_compressor.h"
#include "reference_expander.h"
#include "reference_width_search.h"

namespace tarnwel::test {

namespace {

std::FILE* temporary_with(const Bytes& bytes) {
    std::FILE* file = std::tmpfile();
    if (file == nullptr) throw std::runtime_error("tmpfile failed");
    if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::rewind(file);
    return file;
}

Bytes contents_of(std::FILE* file) {
    std::fflush(file);
    std::rewind(file);
    Bytes bytes;
    int c;
    while ((c = std::getc(file)) != EOF)
        bytes.push_back(static_cast<std::uint8_t>(c));
    return bytes;
}

std::string quoted(const std::string& text) {
    std::string out = "'";
    for (char c : text)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

std::string slurp(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

} // namespace

Bytes bytes_of(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

namespace {

// Runs a pass from a temporary file holding input into another, through
// the driver's file source and sink, and returns what the pass wrote.
template <class Pass> Bytes through_files(const Bytes& input, Pass pass) {
    std::FILE* in = temporary_with(input);
    std::FILE* out = std::tmpfile();
    {
        FileSource source(in);
        FileSink sink(out);
        CodecSourceOver codec_source(source);
        CodecSinkOver codec_sink(sink);
        pass(codec_source, codec_sink);
    }
    Bytes written = contents_of(out);
    std::fclose(in);
    std::fclose(out);
    return written;
}

std::function<void(int)> recording_trials(std::vector<int>& trials) {
    return [&trials](int width) { trials.push_back(width); };
}

} // namespace

Bytes compress_bytes(const Bytes& input, int width) {
    CodecResult result;
    Bytes stream = through_files(input, [&](ByteSource& in, ByteSink& out) {
        CompressOptions options;
        options.width = width;
        result = compress(in, out, options).result;
    });
    if (result.status != CodecStatus::ok) throw std::runtime_error("compress failed");
    if (result.bytes_in != input.size() || result.bytes_out != stream.size())
        throw std::runtime_error("compress miscounted its bytes");
    return stream;
}

Searched search_and_compress_bytes(const Bytes& input, int cap, bool second_thread) {
    Searched searched;
    searched.stream = through_files(input, [&](ByteSource& in, ByteSink& out) {
        CompressOptions options;
        options.cap = cap;
        options.second_thread = second_thread;
        options.trial_started = recording_trials(searched.trials);
        searched.choice = compress(in, out, options);
    });
    return searched;
}

Searched reference_search_and_compress(const Bytes& input, int cap) {
    Searched searched;
    searched.choice =
        reference::search_width(input.data(), input.size(), recording_trials(searched.trials), cap);
    searched.stream = through_files(input, [&](ByteSource& in, ByteSink& out) {
        reference::Dictionary dictionary;
        if (!reference::allocate_tables(dictionary, searched.choice.width))
            throw std::runtime_error("no memory");
        searched.choice.result = reference::compress_stream(dictionary, in, out);
    });
    return searched;
}

Bytes reference_compress_bytes(const Bytes& input, int width) {
    return through_files(input, [&](ByteSource& in, ByteSink& out) {
        reference::Dictionary dictionary;
        if (!reference::allocate_tables(dictionary, width)) throw std::runtime_error("no memory");
        reference::compress_stream(dictionary, in, out);
    });
}

Bytes mixed_input(std::size_t size, std::uint32_t seed) {
    std::mt19937 generator(seed);
    Bytes bytes;
    while (bytes.size() < size) {
        std::size_t left = size - bytes.size();
        std::size_t length = std::min<std::size_t>(left, 1 + generator() % 3000);
        switch (generator() % 5) {
        case 0: { // random bytes
            for (std::size_t i = 0; i < length; ++i)
                bytes.push_back(static_cast<std::uint8_t>(generator()));
            break;
        }
        case 1: { // a run of one byte
            bytes.insert(bytes.end(), length, static_cast<std::uint8_t>(generator()));
            break;
        }
        case 2: { // a small alphabet
            std::uint8_t base = static_cast<std::uint8_t>(generator());
            for (std::size_t i = 0; i < length; ++i)
                bytes.push_back(static_cast<std::uint8_t>(base + generator() % 3));
            break;
        }
        case 3: { // a repeat of something earlier
            if (bytes.empty()) break;
            std::size_t from = generator() % bytes.size();
            for (std::size_t i = 0; i < length; ++i)
                bytes.push_back(bytes[from + i % (bytes.size() - from)]);
            break;
        }
        default: {
            Bytes text = text_like(length, static_cast<std::uint32_t>(generator()));
            bytes.insert(bytes.end(), text.begin(), text.end());
        }
        }
    }
    return bytes;
}

Expanded reference_expand_bytes(const Bytes& stream, int width) {
    Expanded expanded;
    expanded.bytes = through_files(stream, [&](ByteSource& in, ByteSink& out) {
        reference::ExpanderTables tables;
        if (!reference::allocate_expander(tables, width)) throw std::runtime_error("no memory");
        expanded.status = reference::expand_stream(tables, in, out).status;
    });
    return expanded;
}

Expanded expand_bytes(const Bytes& stream, int width) {
    ExpanderTables tables;
    if (!allocate_expander(tables, width)) throw std::runtime_error("no memory");
    return expand_bytes(stream, tables);
}

Expanded expand_bytes(const Bytes& stream, ExpanderTables& tables) {
    Expanded expanded;
    expanded.bytes = through_files(stream, [&](ByteSource& in, ByteSink& out) {
        expanded.status = expand_stream(tables, in, out).status;
    });
    return expanded;
}

Codes reference_codes(const Bytes& input, int width) {
    const std::uint32_t end = (1u << width) - 1;
    Codes codes;
    if (input.empty()) return {end, end};
    std::map<std::pair<std::uint32_t, std::uint8_t>, std::uint32_t> strings;
    std::uint32_t next = 256;
    std::uint32_t current = input[0];
    for (std::size_t i = 1; i < input.size(); ++i) {
        auto found = strings.find({current, input[i]});
        if (found != strings.end()) {
            current = found->second;
            continue;
        }
        if (next < end) strings[{current, input[i]}] = next++;
        codes.push_back(current);
        current = input[i];
    }
    codes.push_back(current);
    codes.push_back(end);
    return codes;
}

std::uint64_t reference_new_strings(const Bytes& input) {
    std::map<std::pair<std::uint64_t, std::uint8_t>, std::uint64_t> strings;
    std::uint64_t count = 0;
    if (input.empty()) return 0;
    std::uint64_t current = input[0];
    for (std::size_t i = 1; i < input.size(); ++i) {
        auto found = strings.find({current, input[i]});
        if (found != strings.end()) {
            current = found->second;
            continue;
        }
        strings[{current, input[i]}] = 256 + count++;
        current = input[i];
    }
    return count;
}

Bytes reference_pack(const Codes& codes, int width) {
    std::vector<bool> stream;
    for (std::uint32_t code : codes)
        for (int bit = width - 1; bit >= 0; --bit)
            stream.push_back((code >> bit) & 1u);
    Bytes bytes(stream.size() / 8, 0);
    for (std::size_t i = 0; i < bytes.size() * 8; ++i)
        if (stream[i]) bytes[i / 8] |= static_cast<std::uint8_t>(0x80u >> (i % 8));
    return bytes;
}

Bytes random_bytes(std::size_t size, std::uint32_t seed) {
    std::mt19937 generator(seed);
    Bytes bytes(size);
    for (auto& byte : bytes)
        byte = static_cast<std::uint8_t>(generator());
    return bytes;
}

Bytes text_like(std::size_t size, std::uint32_t seed) {
    static const char* const words[] = {"the ",    "width ",      "of ",    "every ", "code ",
                                        "stream ", "dictionary ", "grows ", "as ",    "strings ",
                                        "arrive ", "and ",        "bits ",  "\n",     "compress "};
    std::mt19937 generator(seed);
    Bytes bytes;
    while (bytes.size() < size) {
        const char* word = words[generator() % std::size(words)];
        for (const char* c = word; *c != '\0' && bytes.size() < size; ++c)
            bytes.push_back(static_cast<std::uint8_t>(*c));
    }
    return bytes;
}

Bytes prefix_with_new_strings(const Bytes& source, std::uint64_t new_strings) {
    std::map<std::pair<std::uint64_t, std::uint8_t>, std::uint64_t> strings;
    std::uint64_t count = 0;
    std::uint64_t current = source.at(0);
    for (std::size_t i = 1; i < source.size(); ++i) {
        auto found = strings.find({current, source[i]});
        if (found != strings.end()) {
            current = found->second;
            continue;
        }
        strings[{current, source[i]}] = 256 + count++;
        current = source[i];
        if (count == new_strings) return Bytes(source.begin(), source.begin() + i + 1);
    }
    throw std::runtime_error("source too short for that many new strings");
}

ScratchFolder::ScratchFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "tarnwel-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path = pattern;
}

ScratchFolder::~ScratchFolder() {
    std::error_code ignored;
    std::filesystem::permissions(path, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(path, ignored);
}

void write_file(const std::filesystem::path& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

std::vector<std::string> names_in(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

Bytes read_file(const std::filesystem::path& path) {
    return bytes_of(slurp(path));
}

std::string this_build() {
    return quoted(TARNWEL_EXECUTABLE);
}

std::string program_under_test() {
    const char* other = std::getenv("TARNWEL_UNDER_TEST");
    return other != nullptr && *other != '\0' ? std::string(other) : this_build();
}

RunOutcome run_tarnwel(const std::filesystem::path& folder, const std::vector<std::string>& args,
                       const std::string& redirect_stdout_to, const std::string& program) {
    std::filesystem::path out = folder / ".stdout";
    std::filesystem::path err = folder / ".stderr";
    std::string command = "cd ";
    command += quoted(folder.string());
    command += " && ";
    command += program;
    for (const auto& arg : args) {
        command += ' ';
        command += quoted(arg);
    }
    command += " </dev/null >";
    command += quoted(redirect_stdout_to.empty() ? out.string() : redirect_stdout_to);
    command += " 2>";
    command += quoted(err.string());
    int raw = std::system(command.c_str());
    RunOutcome outcome{WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw), slurp(out),
                       slurp(err)};
    std::filesystem::remove(out);
    std::filesystem::remove(err);
    return outcome;
}

} // namespace tarnwel::test
