// What a person at a terminal sees: the screen cleared, a progress line
// during long phases, and afterwards exactly the messages a script sees.
#include <gtest/gtest.h>

#include "messages.h"
#include "progress.h"
#include "test_support.h"

namespace tarnwel::test {
namespace {

// Runs a shell command, under a pseudo-terminal or with its output in a
// file, and returns everything it wrote.
std::string run_shell(const std::filesystem::path& folder, const std::string& command,
                      bool on_terminal) {
    std::string line = "cd '" + folder.string() + "' && ";
    line += on_terminal ? "script -qec \"" + command + "\" /dev/null" : "{ " + command + "; }";
    line += " >.screen 2>&1 </dev/null";
    EXPECT_EQ(std::system(line.c_str()), 0);
    std::string screen;
    for (std::uint8_t byte : read_file(folder / ".screen"))
        screen += static_cast<char>(byte);
    return screen;
}

std::string run_on_terminal(const std::filesystem::path& folder, const std::string& arguments) {
    return run_shell(folder, "'" TARNWEL_EXECUTABLE "' " + arguments, true);
}

// What stays on screen: carriage returns overwrite, line feeds move on, and
// trailing blanks are dropped (messages and erased lines alike).
std::string settled_lines(const std::string& raw) {
    std::vector<std::string> lines(1);
    std::size_t column = 0;
    for (char c : raw) {
        if (c == '\r') {
            column = 0;
        } else if (c == '\n') {
            lines.emplace_back();
            column = 0;
        } else {
            std::string& line = lines.back();
            if (column < line.size())
                line[column] = c;
            else
                line += c;
            ++column;
        }
    }
    std::string screen;
    for (std::string& line : lines) {
        line.erase(line.find_last_not_of(' ') + 1);
        screen += line + "\n";
    }
    return screen;
}

std::string seconds_hidden(std::string text) {
    std::size_t at = text.find("TAKES = ");
    if (at != std::string::npos) text.replace(at, text.find(" sn.", at) - at, "TAKES = ?");
    return text;
}

TEST(Terminal, ProgressAppearsDuringLongPhasesAndLeavesTheMessagesIntact) {
    ScratchFolder folder;
    write_file(folder.path / "in", random_bytes(8u << 20, 61));
    // The input stalls for a second half way, so some phase lasts long enough
    // for its progress line however fast the machine is.
    const std::string command =
        "(head -c 4194304 in; sleep 1.5; tail -c +4194305 in) | '" TARNWEL_EXECUTABLE
        "' c /dev/stdin in.z";
    std::string raw = run_shell(folder.path, command, true);
    const std::string clear = "\033[H\033[2J";
    ASSERT_EQ(raw.substr(0, clear.size()), clear);
    EXPECT_NE(raw.find("\rTesting BITS = "), std::string::npos) << raw;
    EXPECT_NE(raw.find("MB/s"), std::string::npos);

    std::string redirected = run_shell(folder.path, command, false);
    EXPECT_EQ(redirected.find('\r'), std::string::npos);
    EXPECT_EQ(redirected.find('\033'), std::string::npos);
    EXPECT_NE(redirected.find("COMPRESSION RATIO"), std::string::npos) << redirected;
    std::string expected = settled_lines(redirected);
    std::string seen = settled_lines(raw.substr(clear.size()));
    EXPECT_EQ(seconds_hidden(seen), seconds_hidden(expected));
}

TEST(Terminal, ProgressLineFitsANarrowTerminal) {
    ScratchFolder folder;
    write_file(folder.path / "in", random_bytes(2u << 20, 62));
    // A 30-column terminal, and an input that stalls long enough for a line.
    std::string raw = run_shell(folder.path,
                                "stty cols 30 && (head -c 1048576 in; sleep 1; tail -c +1048577 "
                                "in) | '" TARNWEL_EXECUTABLE "' c /dev/stdin in.z",
                                true);
    ASSERT_NE(raw.find("\rTesting BITS = "), std::string::npos) << raw;
    // A drawn line runs from a carriage return to the next one that is not
    // a line feed's (the terminal sends "\r\n" for each "\n").
    for (std::size_t at = raw.find('\r'); at != std::string::npos;) {
        std::size_t end = raw.find_first_of("\r\n", at + 1);
        if (end == std::string::npos) break;
        if (raw[end] == '\r' && raw.compare(end, 2, "\r\n") != 0) {
            EXPECT_LE(end - at - 1, 29u) << raw.substr(at + 1, end - at - 1);
        }
        at = raw.find('\r', end);
    }
}

TEST(Terminal, ShortRunsShowNoProgress) {
    ScratchFolder folder;
    write_file(folder.path / "in", bytes_of("aaaa"));
    std::string raw = run_on_terminal(folder.path, "c in in.z");
    EXPECT_EQ(raw.find("Compressing:"), std::string::npos);
    EXPECT_EQ(raw.find("MB/s"), std::string::npos);
}

TEST(Terminal, ProgressTextGivesShareSpeedAndTimeLeft) {
    EXPECT_EQ(progress_text("Compressing", 25'000'000, 100'000'000, 2.0),
              "Compressing:  25%, 12.5 MB/s, about 6 s left");
    // Too early to predict, and no share when the size is unknown.
    EXPECT_EQ(progress_text("Expanding", 5'000'000, 100'000'000, 0.5),
              "Expanding:   5%, 10.0 MB/s");
    EXPECT_EQ(progress_text("Expanding", 3'000'000, 0, 2.0), "Expanding: 3.0 MB, 1.5 MB/s");
    // Sizes past 4 GiB keep their share.
    EXPECT_EQ(progress_text("Testing BITS = 16", 6'000'000'000, 8'000'000'000, 60.0),
              "Testing BITS = 16:  75%, 100.0 MB/s, about 20 s left");
}

TEST(Terminal, ProgressTextShortensToTheTerminalWidth) {
    const std::string full = "Testing BITS = 20:  23%, 15.4 MB/s, about 3 s left";
    struct Case {
        std::size_t width;
        const char* fitted;
    };
    const Case cases[] = {{80, "Testing BITS = 20:  23%, 15.4 MB/s, about 3 s left"},
                          {50, "Testing BITS = 20:  23%, 15.4 MB/s, about 3 s left"},
                          {49, "Testing BITS = 20:  23%, 15.4 MB/s"},
                          {34, "Testing BITS = 20:  23%, 15.4 MB/s"},
                          {33, "Testing BITS = 20:  23%"},
                          {29, "Testing BITS = 20:  23%"},
                          {22, "Testing BITS = 20:  23"},
                          {10, "Testing BI"},
                          {1, "T"},
                          {0, ""}};
    for (const Case& c : cases)
        EXPECT_EQ(fit_progress_text(full, c.width), c.fitted) << c.width;
    EXPECT_EQ(fit_progress_text("Expanding: 3.0 MB, 1.5 MB/s", 20), "Expanding: 3.0 MB");
}

} // namespace
} // namespace tarnwel::test
