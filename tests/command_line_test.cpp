// The executable as scripts and people see it: arguments, messages, exit
// statuses, the width file, and the files it must never damage.
#include <gtest/gtest.h>

#include <unistd.h>

#include "test_support.h"

namespace tarnwel::test {
namespace {

namespace fs = std::filesystem;

const std::string usage = "\nUSAGE : Tarnwel c/d input output\t\t(c:compress, d:decompress)\n";

// The seconds vary from run to run; everything else is exact.
std::string without_seconds(std::string output) {
    const std::string before = "TAKES = ";
    const std::string after = " sn.";
    std::size_t start = output.find(before);
    if (start == std::string::npos) return output;
    start += before.size();
    std::size_t end = output.find(after, start);
    std::string seconds = output.substr(start, end - start);
    std::size_t point = seconds.find('.');
    bool well_formed = end != std::string::npos && point != std::string::npos && point > 0 &&
                       seconds.size() == point + 3 &&
                       seconds.find_first_not_of("0123456789.") == std::string::npos;
    if (!well_formed) return output;
    return output.substr(0, start) + '?' + output.substr(end);
}

std::string closing_messages(int width) {
    return "\nDictionary Table is not full for BITS = " + std::to_string(width) +
           "\nTarnwel BITS = " + std::to_string(width - 1) +
           " if last filled value is used\nTarnwel BITS = " + std::to_string(width) +
           " if first not filled value is used\nThis program uses the first approach so the "
           "Tarnwel BITS = " +
           std::to_string(width - 1) + " \n";
}

std::string report(const std::string& in, std::size_t in_size, const std::string& out,
                   std::size_t out_size, const std::string& ratio) {
    return "\nCOMPRESSING FROM " + in + " WHICH IS " + std::to_string(in_size) + " BYTES \nTO " +
           out + " WHICH IS " + std::to_string(out_size) +
           " BYTES TAKES = ? sn. and \nCOMPRESSION RATIO = " + ratio + "\n";
}

std::string ratio_text(std::size_t in, std::size_t out) {
    char text[64];
    std::snprintf(text, sizeof text, "%4.2f",
                  static_cast<double>(static_cast<float>(out) / static_cast<float>(in) * 100.0f));
    return text;
}

TEST(CommandLine, WrongArgumentCountPrintsUsageAndExitsOne) {
    ScratchFolder folder;
    for (const auto& args : std::vector<std::vector<std::string>>{
             {}, {"c"}, {"c", "in"}, {"c", "in", "out", "extra"}}) {
        RunOutcome outcome = run_tarnwel(folder.path, args);
        EXPECT_EQ(outcome.status, 1);
        EXPECT_EQ(outcome.output, usage);
        EXPECT_EQ(outcome.errors, "");
    }
}

TEST(CommandLine, CompressRunPrintsExactlyTheMessagesAndReport) {
    ScratchFolder folder;
    write_file(folder.path / "a", bytes_of("aaaa"));
    RunOutcome outcome = run_tarnwel(folder.path, {"c", "a", "a.z"});
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(outcome.errors, "");
    EXPECT_EQ(without_seconds(outcome.output), "Testing for BITS = 12\n" + closing_messages(12) +
                                                   "\nCompressing with BITS = 11 ...  \n" +
                                                   report("a", 4, "a.z", 5, "125.00"));
    EXPECT_EQ(read_file(folder.path / "a.z"), (Bytes{0x0C, 0x24, 0x00, 0x30, 0xFF}));
    EXPECT_EQ(read_file(folder.path / "bits.txt"), bytes_of("11"));
}

TEST(CommandLine, EmptyInputReportsAnInfiniteRatio) {
    ScratchFolder folder;
    write_file(folder.path / "empty", {});
    RunOutcome outcome = run_tarnwel(folder.path, {"c", "empty", "empty.z"});
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(without_seconds(outcome.output),
              "Testing for BITS = 12\n" + closing_messages(12) +
                  "\nCompressing with BITS = 11 ...  \n" +
                  report("empty", 0, "empty.z", 2, ratio_text(0, 2)));
    EXPECT_EQ(ratio_text(0, 2), " inf");
    EXPECT_EQ(read_file(folder.path / "empty.z"), (Bytes{0xFF, 0xFF}));
}

TEST(CommandLine, SearchEndingAtEachWidthWritesItsStreamWidthFileAndMessages) {
    Bytes source = random_bytes(40000, 31);
    struct Case {
        Bytes input;
        int chosen;
    };
    const Case cases[] = {
        {text_like(2000, 32), 11},
        {prefix_with_new_strings(source, 4096 - 256 - 1), 11}, // exactly full at 12
        {prefix_with_new_strings(source, 4096 - 256), 12},     // one string more
        {random_bytes(9000, 33), 13},
        {random_bytes(15000, 34), 13},
        {random_bytes(30000, 35), 14},
    };
    for (const Case& c : cases) {
        ScratchFolder folder;
        write_file(folder.path / "in", c.input);
        RunOutcome outcome = run_tarnwel(folder.path, {"c", "in", "out"});
        ASSERT_EQ(outcome.status, 0);
        std::string expected;
        for (int width = 12; width <= c.chosen + 1; ++width)
            expected += "Testing for BITS = " + std::to_string(width) + "\n";
        Bytes stream = compress_bytes(c.input, c.chosen);
        expected += closing_messages(c.chosen + 1) +
                    "\nCompressing with BITS = " + std::to_string(c.chosen) + " ...  \n" +
                    report("in", c.input.size(), "out", stream.size(),
                           ratio_text(c.input.size(), stream.size()));
        EXPECT_EQ(without_seconds(outcome.output), expected);
        EXPECT_EQ(read_file(folder.path / "bits.txt"), bytes_of(std::to_string(c.chosen)));
        EXPECT_EQ(read_file(folder.path / "out"), stream);
    }
}

TEST(CommandLine, SecondCompressRunLeavesItsOwnWidth) {
    ScratchFolder folder;
    write_file(folder.path / "wide", random_bytes(15000, 36));
    write_file(folder.path / "narrow", bytes_of("tiny"));
    ASSERT_EQ(run_tarnwel(folder.path, {"c", "wide", "wide.z"}).status, 0);
    EXPECT_EQ(read_file(folder.path / "bits.txt"), bytes_of("13"));
    ASSERT_EQ(run_tarnwel(folder.path, {"c", "narrow", "narrow.z"}).status, 0);
    EXPECT_EQ(read_file(folder.path / "bits.txt"), bytes_of("11"));
}

TEST(CommandLine, OnlyTheFirstLetterOfTheModeCountsAndOnlyLowerCaseCCompresses) {
    ScratchFolder folder;
    Bytes input = text_like(50000, 37);
    write_file(folder.path / "in", input);
    RunOutcome compressed = run_tarnwel(folder.path, {"compress", "in", "in.z"});
    ASSERT_EQ(compressed.status, 0);
    for (const char* mode : {"d", "x", "C", "decompress"}) {
        RunOutcome expanded = run_tarnwel(folder.path, {mode, "in.z", "back"});
        EXPECT_EQ(expanded.status, 0) << mode;
        EXPECT_EQ(expanded.output, "\nExpanding... \n") << mode;
        EXPECT_EQ(expanded.errors, "");
        EXPECT_TRUE(read_file(folder.path / "back") == input) << mode;
    }
}

TEST(CommandLine, RealFilesComeBackByteForByte) {
    ScratchFolder folder;
    std::vector<fs::path> sources = {TARNWEL_EXECUTABLE, "/usr/include/stdio.h"};
    for (const fs::path& source : sources) {
        if (!fs::exists(source)) continue;
        fs::copy_file(source, folder.path / "original", fs::copy_options::overwrite_existing);
        ASSERT_EQ(run_tarnwel(folder.path, {"c", "original", "packed"}).status, 0) << source;
        ASSERT_EQ(run_tarnwel(folder.path, {"d", "packed", "restored"}).status, 0) << source;
        EXPECT_TRUE(read_file(folder.path / "restored") == read_file(source)) << source;
    }
}

TEST(CommandLine, MissingOrFolderInputFailsWithoutTouchingTheOutput) {
    ScratchFolder folder;
    fs::create_directory(folder.path / "folder");
    for (const char* mode : {"c", "d"}) {
        RunOutcome missing = run_tarnwel(folder.path, {mode, "missing", "out"});
        EXPECT_EQ(missing.status, 2);
        EXPECT_EQ(missing.output,
                  "tarnwel: cannot open input missing: No such file or directory\n");
        RunOutcome directory = run_tarnwel(folder.path, {mode, "folder", "out"});
        EXPECT_EQ(directory.status, 2);
        EXPECT_EQ(directory.output, "tarnwel: cannot open input folder: Is a directory\n");
        EXPECT_FALSE(fs::exists(folder.path / "out"));
    }
    write_file(folder.path / "out", bytes_of("keep me"));
    EXPECT_EQ(run_tarnwel(folder.path, {"c", "missing", "out"}).status, 2);
    EXPECT_EQ(read_file(folder.path / "out"), bytes_of("keep me"));
}

TEST(CommandLine, UnreadableInputFails) {
    if (geteuid() == 0) GTEST_SKIP() << "permissions do not bind root";
    ScratchFolder folder;
    write_file(folder.path / "secret", bytes_of("x"));
    fs::permissions(folder.path / "secret", fs::perms::none);
    RunOutcome outcome = run_tarnwel(folder.path, {"c", "secret", "out"});
    EXPECT_EQ(outcome.status, 2);
    EXPECT_EQ(outcome.output, "tarnwel: cannot open input secret: Permission denied\n");
    EXPECT_FALSE(fs::exists(folder.path / "out"));
}

TEST(CommandLine, OutputThatCannotBeCreatedFails) {
    ScratchFolder folder;
    write_file(folder.path / "in", bytes_of("data"));
    RunOutcome outcome = run_tarnwel(folder.path, {"c", "in", "no/such/folder/out"});
    EXPECT_EQ(outcome.status, 2);
    EXPECT_EQ(outcome.output,
              "tarnwel: cannot create output no/such/folder/out: No such file or directory\n");
}

TEST(CommandLine, SameFileAsInputAndOutputIsRefusedInBothModes) {
    ScratchFolder folder;
    Bytes input = text_like(5000, 38);
    write_file(folder.path / "data", input);
    fs::create_directory(folder.path / "sub");
    fs::create_hard_link(folder.path / "data", folder.path / "hard");
    fs::create_symlink("data", folder.path / "soft");
    for (const char* mode : {"c", "d"}) {
        for (const std::string& output :
             {std::string("data"), std::string("./data"), std::string("sub/../data"),
              std::string("hard"), std::string("soft"), (folder.path / "data").string()}) {
            RunOutcome outcome = run_tarnwel(folder.path, {mode, "data", output});
            EXPECT_EQ(outcome.status, 2) << mode << " " << output;
            EXPECT_EQ(outcome.output,
                      "tarnwel: input data and output " + output + " are the same file\n");
            ASSERT_TRUE(read_file(folder.path / "data") == input) << mode << " " << output;
        }
    }
}

TEST(CommandLine, WidthFileAsADataFileIsRefused) {
    ScratchFolder folder;
    write_file(folder.path / "bits.txt", bytes_of("13"));
    write_file(folder.path / "in", bytes_of("data"));
    RunOutcome as_input = run_tarnwel(folder.path, {"c", "bits.txt", "out"});
    EXPECT_EQ(as_input.status, 2);
    EXPECT_EQ(as_input.output,
              "tarnwel: input bits.txt is the width file bits.txt, which this run rewrites\n");
    for (const char* mode : {"c", "d"}) {
        RunOutcome as_output = run_tarnwel(folder.path, {mode, "in", "./bits.txt"});
        EXPECT_EQ(as_output.status, 2);
        EXPECT_EQ(as_output.output, "tarnwel: output ./bits.txt is the width file bits.txt\n");
    }
    EXPECT_EQ(read_file(folder.path / "bits.txt"), bytes_of("13"));
}

TEST(CommandLine, FullDiskFailsWithoutTheReport) {
    ScratchFolder folder;
    write_file(folder.path / "in", random_bytes(300000, 39));
    RunOutcome compressing = run_tarnwel(folder.path, {"c", "in", "/dev/full"});
    EXPECT_EQ(compressing.status, 2);
    EXPECT_NE(compressing.output.find("tarnwel: cannot write output /dev/full: No space left on "
                                      "device\n"),
              std::string::npos);
    EXPECT_EQ(compressing.output.find("COMPRESSING FROM"), std::string::npos);
    ASSERT_EQ(run_tarnwel(folder.path, {"c", "in", "in.z"}).status, 0);
    RunOutcome expanding = run_tarnwel(folder.path, {"d", "in.z", "/dev/full"});
    EXPECT_EQ(expanding.status, 2);
    EXPECT_EQ(expanding.output,
              "\nExpanding... \ntarnwel: cannot write output /dev/full: No space left on device\n");
}

TEST(CommandLine, WidthFileThatCannotBeReplacedFailsTheCompressRunBeforeItStarts) {
    ScratchFolder folder;
    write_file(folder.path / "in", bytes_of("data"));
    write_file(folder.path / "out", bytes_of("an earlier file"));
    fs::create_directory(folder.path / "bits.txt");
    RunOutcome outcome = run_tarnwel(folder.path, {"c", "in", "out"});
    EXPECT_EQ(outcome.status, 2);
    EXPECT_EQ(outcome.output, "tarnwel: cannot write width file bits.txt: Is a directory\n");
    EXPECT_EQ(read_file(folder.path / "out"), bytes_of("an earlier file"));
    EXPECT_EQ(names_in(folder.path), (std::vector<std::string>{"bits.txt", "in", "out"}));
}

TEST(CommandLine, ExpandingNeedsAReadableWidthFromElevenToTwentyFive) {
    ScratchFolder folder;
    write_file(folder.path / "in.z", {0x0C, 0x3F});
    RunOutcome missing = run_tarnwel(folder.path, {"d", "in.z", "out"});
    EXPECT_EQ(missing.status, 2);
    const std::string hint =
        "tarnwel: the stream reads as a whole only at BITS = 11; write 11 to bits.txt to expand "
        "it\n";
    EXPECT_EQ(missing.output,
              "tarnwel: cannot read width file bits.txt: No such file or directory\n" + hint);
    EXPECT_FALSE(fs::exists(folder.path / "out")); // the width is read first
    write_file(folder.path / "bits.txt", bytes_of("26"));
    RunOutcome wide = run_tarnwel(folder.path, {"d", "in.z", "out"});
    EXPECT_EQ(wide.status, 2);
    EXPECT_EQ(wide.output, "tarnwel: width file bits.txt holds no width from 11 to 25\n" + hint);
}

TEST(CommandLine, WidthFileWithoutANumberExpandsAtTwelve) {
    ScratchFolder folder;
    write_file(folder.path / "in", text_like(3000, 40));
    write_file(folder.path / "in.z", compress_bytes(read_file(folder.path / "in"), 12));
    write_file(folder.path / "bits.txt", bytes_of("twelve"));
    ASSERT_EQ(run_tarnwel(folder.path, {"d", "in.z", "out"}).status, 0);
    EXPECT_EQ(read_file(folder.path / "out"), read_file(folder.path / "in"));
}

TEST(CommandLine, RoundTripsAtWidthsElevenTwelveSixteenAndTwentyFive) {
    // Searched widths give the library's stream byte for byte; a search that
    // reaches 25 takes tens of megabytes, so there the library's stream is
    // expanded.
    Bytes source = random_bytes(40000, 41);
    struct Case {
        Bytes input;
        int width;
        bool searched;
    };
    const Case cases[] = {
        {text_like(2000, 42), 11, true},
        {prefix_with_new_strings(source, 4096 - 256), 12, true},
        {random_bytes(200000, 43), 16, true},
        {mixed_input(300000, 44), 25, false},
    };
    for (const Case& c : cases) {
        ScratchFolder folder;
        write_file(folder.path / "in", c.input);
        Bytes stream = compress_bytes(c.input, c.width);
        if (c.searched) {
            ASSERT_EQ(run_tarnwel(folder.path, {"c", "in", "in.z"}).status, 0);
            EXPECT_EQ(read_file(folder.path / "bits.txt"), bytes_of(std::to_string(c.width)));
            EXPECT_TRUE(read_file(folder.path / "in.z") == stream) << c.width;
        } else {
            write_file(folder.path / "in.z", stream);
            write_file(folder.path / "bits.txt", bytes_of(std::to_string(c.width)));
        }
        ASSERT_EQ(run_tarnwel(folder.path, {"d", "in.z", "back"}).status, 0) << c.width;
        EXPECT_TRUE(read_file(folder.path / "back") == c.input) << c.width;
    }
}

TEST(CommandLine, StreamsCrossBetweenThisBuildAndTheOneUnderTest) {
    if (program_under_test() == this_build())
        GTEST_SKIP() << "TARNWEL_UNDER_TEST names no other build (such as the Windows one)";
    Bytes input = mixed_input(200000, 45);
    for (bool other_compresses : {true, false}) {
        ScratchFolder folder;
        write_file(folder.path / "in", input);
        std::string compressor = other_compresses ? program_under_test() : this_build();
        std::string expander = other_compresses ? this_build() : program_under_test();
        ASSERT_EQ(run_tarnwel(folder.path, {"c", "in", "in.z"}, "", compressor).status, 0);
        Bytes width = read_file(folder.path / "bits.txt");
        EXPECT_TRUE(read_file(folder.path / "in.z") ==
                    compress_bytes(input, std::stoi(std::string(width.begin(), width.end()))));
        ASSERT_EQ(run_tarnwel(folder.path, {"d", "in.z", "back"}, "", expander).status, 0);
        EXPECT_TRUE(read_file(folder.path / "back") == input) << other_compresses;
    }
}

TEST(CommandLine, CorruptStreamEndsWithTheFatalMessageAndKeepsWhatWasExpanded) {
    ScratchFolder folder;
    write_file(folder.path / "bits.txt", bytes_of("11"));
    write_file(folder.path / "bad.z", reference_pack({'o', 'k', 300, 2047}, 11));
    RunOutcome outcome = run_tarnwel(folder.path, {"d", "bad.z", "out"});
    EXPECT_EQ(outcome.status, 253);
    EXPECT_EQ(outcome.output, "\nExpanding... \nFatal error during code expansion.\n");
    EXPECT_EQ(outcome.errors, "");
    EXPECT_EQ(read_file(folder.path / "out"), bytes_of("ok"));
}

// The failures to expand end as before, and then name the one width the
// stream reads at when that is not the width used; a stream that reads at
// no width, or at several, gets no more than before.
TEST(CommandLine, FailedExpansionNamesTheOneWidthTheStreamReadsAt) {
    const std::string hint14 = "tarnwel: the stream reads as a whole only at BITS = 14; write 14 "
                               "to bits.txt to expand it\n";
    const std::string missing = "tarnwel: cannot read width file bits.txt: No such file or "
                                "directory\n";
    const std::string fatal = "\nExpanding... \nFatal error during code expansion.\n";
    Bytes stream = compress_bytes(text_like(5000, 77), 14);
    Bytes damaged = stream;
    damaged[damaged.size() / 2] = 0xFF; // codes past the next free code at any width
    struct Case {
        const char* width_file; // null: none
        Bytes stream;
        int status;
        std::string output;
    };
    const Case cases[] = {
        {nullptr, stream, 2, missing + hint14},
        {"26", stream, 2, "tarnwel: width file bits.txt holds no width from 11 to 25\n" + hint14},
        {"13", stream, 253, fatal + hint14},
        {"twelve", stream, 253, fatal + hint14}, // read as 12
        {"14", stream, 0, "\nExpanding... \n"},
        {"14", damaged, 253, fatal},
        {nullptr, damaged, 2, missing},
        {nullptr, {0xFF, 0xFF, 0xFF}, 2, missing}, // the empty input's at 12 to 15
    };
    for (const Case& c : cases) {
        ScratchFolder folder;
        write_file(folder.path / "in.z", c.stream);
        if (c.width_file != nullptr) write_file(folder.path / "bits.txt", bytes_of(c.width_file));
        RunOutcome outcome = run_tarnwel(folder.path, {"d", "in.z", "out"});
        std::string what = c.width_file == nullptr ? "none" : c.width_file;
        EXPECT_EQ(outcome.status, c.status) << what;
        EXPECT_EQ(outcome.output, c.output) << what;
        EXPECT_EQ(outcome.errors, "") << what;
        EXPECT_TRUE(read_file(folder.path / "in.z") == c.stream) << what;
        EXPECT_EQ(fs::exists(folder.path / "out"), c.status != 2) << what;
    }
}

} // namespace
} // namespace tarnwel::test
