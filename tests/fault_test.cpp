// Hostile streams and failing surroundings, as the executable meets them:
// every run ends with a clean status and a message, and no input is damaged.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <sys/wait.h>

#include "test_support.h"

namespace tarnwel::test {
namespace {

namespace fs = std::filesystem;

const std::string expanding = "\nExpanding... \n";
const std::string fatal = "Fatal error during code expansion.\n";

// hint: the line that names the one width the stream reads at, after the
// fatal message, when that is not the width used.
void expect_clean_or_fatal(const RunOutcome& outcome, const std::string& what,
                           const std::string& hint = "") {
    EXPECT_TRUE((outcome.status == 0 && outcome.output == expanding) ||
                (outcome.status == 253 && outcome.output == expanding + fatal + hint))
        << what << ": status " << outcome.status << ", output " << outcome.output;
    EXPECT_EQ(outcome.errors, "") << what;
}

// A stream cut short is never taken for a whole one: the fatal message,
// and in the output a front part of the input (the codes before the cut).
TEST(Faults, TruncatedStreamsEndWithTheFatalMessageAndAFrontOfTheInput) {
    ScratchFolder folder;
    Bytes input = text_like(700, 51);
    for (int width : {11, 13, 16, 25}) {
        write_file(folder.path / "bits.txt", bytes_of(std::to_string(width)));
        Bytes stream = compress_bytes(input, width);
        // Every length at the narrowest width; wide tables cost more to set up.
        std::size_t stride = width == 11 ? 1 : width == 13 ? 5 : 17;
        for (std::size_t length = 0; length < stream.size(); length += stride) {
            write_file(folder.path / "cut.z", Bytes(stream.begin(), stream.begin() + length));
            RunOutcome outcome = run_tarnwel(folder.path, {"d", "cut.z", "out"});
            const std::string what = "BITS " + std::to_string(width) + " cut at " +
                                     std::to_string(length) + ": status " +
                                     std::to_string(outcome.status) + ", output " + outcome.output;
            // A hint may follow, should the cut stream read whole at one other width.
            EXPECT_EQ(outcome.status, 253) << what;
            EXPECT_EQ(outcome.output.rfind(expanding + fatal, 0), 0u) << what;
            EXPECT_EQ(outcome.errors, "") << what;
            Bytes out = read_file(folder.path / "out");
            EXPECT_TRUE(out.size() <= input.size() &&
                        std::equal(out.begin(), out.end(), input.begin()))
                << what;
        }
    }
}

TEST(Faults, FlippedBitsEndCleanlyOrWithTheFatalMessage) {
    ScratchFolder folder;
    Bytes input = text_like(5000, 52);
    std::mt19937 generator(53);
    for (int width : {11, 12, 17, 25}) {
        write_file(folder.path / "bits.txt", bytes_of(std::to_string(width)));
        Bytes stream = compress_bytes(input, width);
        for (int trial = 0; trial < 40; ++trial) {
            Bytes damaged = stream;
            std::size_t bit = generator() % (damaged.size() * 8);
            damaged[bit / 8] ^= static_cast<std::uint8_t>(0x80u >> (bit % 8));
            write_file(folder.path / "flipped.z", damaged);
            expect_clean_or_fatal(run_tarnwel(folder.path, {"d", "flipped.z", "out"}),
                                  "BITS " + std::to_string(width) + " bit " + std::to_string(bit));
        }
    }
}

TEST(Faults, StreamReadAtTheWrongWidthNeverCrashes) {
    ScratchFolder folder;
    write_file(folder.path / "in.z", compress_bytes(text_like(20000, 54), 14));
    for (int width = min_width; width <= max_width; ++width) {
        if (width == 14) continue;
        write_file(folder.path / "bits.txt", bytes_of(std::to_string(width)));
        expect_clean_or_fatal(run_tarnwel(folder.path, {"d", "in.z", "out"}),
                              "read at " + std::to_string(width),
                              "tarnwel: the stream reads as a whole only at BITS = 14; write 14 "
                              "to bits.txt to expand it\n");
    }
}

TEST(Faults, FolderWhereTheOutputShouldBeFails) {
    ScratchFolder folder;
    write_file(folder.path / "in", bytes_of("data"));
    write_file(folder.path / "bits.txt", bytes_of("11"));
    fs::create_directory(folder.path / "out");
    for (const char* mode : {"c", "d"}) {
        RunOutcome outcome = run_tarnwel(folder.path, {mode, "in", "out"});
        EXPECT_EQ(outcome.status, 2);
        EXPECT_EQ(outcome.output, "tarnwel: cannot create output out: Is a directory\n");
        EXPECT_TRUE(fs::is_directory(folder.path / "out"));
    }
}

TEST(Faults, InterruptedRunsLeaveTheInputIntact) {
    ScratchFolder folder;
    Bytes input = random_bytes(8u << 20, 55);
    write_file(folder.path / "in", input);
    ASSERT_EQ(run_tarnwel(folder.path, {"c", "in", "in.z"}).status, 0);
    Bytes stream = read_file(folder.path / "in.z");
    for (const char* signal : {"INT", "TERM", "KILL"}) {
        for (const char* step : {"c in out", "d in.z out"}) {
            std::string command = "cd '";
            command += folder.path.string();
            command += "' && timeout -s ";
            command += signal;
            command += " 0.2 '" TARNWEL_EXECUTABLE "' ";
            command += step;
            command += " >/dev/null 2>&1";
            std::system(command.c_str());
            ASSERT_TRUE(read_file(folder.path / "in") == input) << signal << " during " << step;
            ASSERT_TRUE(read_file(folder.path / "in.z") == stream) << signal << " during " << step;
        }
    }
}

TEST(Faults, TablesThatCannotBeAllocatedFailCleanly) {
#ifdef TARNWEL_SANITIZED
    GTEST_SKIP() << "the sanitizers' shadow memory does not fit under a small address-space limit";
#endif
    ScratchFolder folder;
    write_file(folder.path / "in", random_bytes(3000000, 56));
    write_file(folder.path / "in.z", compress_bytes(text_like(100000, 56), 25));
    write_file(folder.path / "bits.txt", bytes_of("25"));
    // 30 MB of address space: the program loads, its tables do not fit.
    for (const char* step : {"c in out", "d in.z out"}) {
        std::string command = "cd '";
        command += folder.path.string();
        command += "' && (ulimit -v 30000; '" TARNWEL_EXECUTABLE "' ";
        command += step;
        command += " >.limited 2>&1)";
        int raw = std::system(command.c_str());
        ASSERT_TRUE(WIFEXITED(raw)) << step;
        EXPECT_EQ(WEXITSTATUS(raw), 2) << step;
        Bytes said = read_file(folder.path / ".limited");
        std::string text(said.begin(), said.end());
        EXPECT_NE(text.find("tarnwel: not enough memory for the tables at BITS = "),
                  std::string::npos)
            << step << ": " << text;
    }
}

TEST(Faults, UnderAnyAddressSpaceLimitARunSucceedsOrFailsCleanly) {
#ifdef TARNWEL_SANITIZED
    GTEST_SKIP() << "the sanitizers' shadow memory does not fit under a small address-space limit";
#endif
    ScratchFolder folder;
    write_file(folder.path / "in", random_bytes(300000, 57));
    ASSERT_EQ(run_tarnwel(folder.path, {"c", "in", "in.z"}).status, 0);
    // Tables, buffers, the list of codes and helper threads each run out at
    // some limit, some within a few pages of the next: every limit from the
    // lowest the program loads under to where runs succeed, in small steps,
    // must end in the message and leave no output, never in an abort.
    auto run_under = [&](int limit_kib, const char* step) {
        std::string command = "cd '" + folder.path.string() + "' && (ulimit -v " +
                              std::to_string(limit_kib) + "; '" TARNWEL_EXECUTABLE "' " + step +
                              " >.limited 2>.errors)";
        int raw = std::system(command.c_str());
        return WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
    };
    auto text_of = [&](const char* name) {
        Bytes bytes = read_file(folder.path / name);
        return std::string(bytes.begin(), bytes.end());
    };
    constexpr int loader_fails = 127;
    for (const char* step : {"c in out", "d in.z out"}) {
        int limit = 1024;
        while (run_under(limit + 1024, step) == loader_fails)
            limit += 1024;
        for (int successes = 0; successes < 16; limit += 16) {
            int status = run_under(limit, step);
            std::string said = text_of(".limited");
            std::string what = std::string(step) + " under " + std::to_string(limit) + " KiB: ";
            successes = status == 0 ? successes + 1 : 0;
            if (status == loader_fails) continue;
            ASSERT_EQ(text_of(".errors"), "") << what;
            if (status == 0) continue;
            ASSERT_EQ(status, 2) << what << said;
            int width = 0;
            auto at = said.find("tarnwel: not enough memory for the tables at BITS = ");
            ASSERT_NE(at, std::string::npos) << what << said;
            std::sscanf(said.c_str() + said.find("= ", at) + 2, "%d", &width);
            EXPECT_TRUE(width >= min_width && width <= max_width) << what << said;
            ASSERT_FALSE(fs::exists(folder.path / "out")) << what;
        }
        fs::remove(folder.path / "out");
    }
    EXPECT_EQ(names_in(folder.path),
              (std::vector<std::string>{".errors", ".limited", "bits.txt", "in", "in.z"}));
}

} // namespace
} // namespace tarnwel::test
