// The width file: exactly the decimal width, read back the way "%d" reads.
#include <gtest/gtest.h>

#include <string>

#include "test_support.h"
#include "width_file.h"

namespace tarnwel::test {
namespace {

WidthFileResult read_text(const std::string& text, int& width) {
    ScratchFolder folder;
    write_file(folder.path / "bits.txt", bytes_of(text));
    return read_width_file((folder.path / "bits.txt").c_str(), width);
}

TEST(WidthFile, StagedWidthTakesThePlaceOfTheOldOnlyWhenCommitted) {
    ScratchFolder folder;
    auto path = folder.path / "bits.txt";
    write_file(path, bytes_of("old content that is longer"));
    for (bool commit : {false, true}) {
        StagedWidth staged;
        ASSERT_EQ(reserve_width_file(path.c_str(), staged), 0);
        ASSERT_EQ(write_staged_width(staged, 13), 0);
        EXPECT_EQ(read_file(path), bytes_of("old content that is longer"));
        if (commit)
            ASSERT_EQ(commit_width_file(staged), 0);
        else
            discard_width_file(staged);
        EXPECT_EQ(names_in(folder.path), std::vector<std::string>{"bits.txt"});
    }
    EXPECT_EQ(read_file(path), bytes_of("13"));
}

TEST(WidthFile, ReadsWidthsLikeScanfDecimal) {
    struct Case {
        std::string text;
        int width;
    };
    // However much white space comes first, the number after it is read.
    const Case cases[] = {{"13", 13},
                          {"  \n25\n", 25},
                          {"+11abc", 11},
                          {std::string(4095, ' ') + "15", 15},
                          {std::string(100'000, '\n') + "16\n", 16}};
    for (const Case& c : cases) {
        int width = 12;
        EXPECT_EQ(read_text(c.text, width).status, WidthFileStatus::ok) << c.text.size();
        EXPECT_EQ(width, c.width) << c.text.size();
    }
}

TEST(WidthFile, TextThatIsNotANumberLeavesTheWidthAlone) {
    for (const char* text : {"", "abc", "-", " x13"}) {
        int width = 12;
        EXPECT_EQ(read_text(text, width).status, WidthFileStatus::not_a_number) << text;
        EXPECT_EQ(width, 12);
    }
}

TEST(WidthFile, NumbersOutsideElevenToTwentyFiveAreRefused) {
    // A number's digits are all read, wherever it stands: 125 is not 12.
    for (const std::string& text : {std::string("10"), std::string("26"), std::string("0"),
                                    std::string("-13"), std::string("99999999999999999999999"),
                                    std::string("4294967309"), std::string(4094, ' ') + "125"}) {
        int width = 12;
        EXPECT_EQ(read_text(text, width).status, WidthFileStatus::out_of_range) << text;
        EXPECT_EQ(width, 12);
    }
}

TEST(WidthFile, MissingOrFolderIsUnreadableWithTheReason) {
    ScratchFolder folder;
    int width = 12;
    WidthFileResult missing = read_width_file((folder.path / "bits.txt").c_str(), width);
    EXPECT_EQ(missing.status, WidthFileStatus::unreadable);
    EXPECT_EQ(missing.error_number, ENOENT);
    std::filesystem::create_directory(folder.path / "bits.txt");
    WidthFileResult folder_in_the_way = read_width_file((folder.path / "bits.txt").c_str(), width);
    EXPECT_EQ(folder_in_the_way.status, WidthFileStatus::unreadable);
    EXPECT_EQ(folder_in_the_way.error_number, EISDIR);
    StagedWidth staged;
    EXPECT_EQ(reserve_width_file((folder.path / "bits.txt").c_str(), staged), EISDIR);
    EXPECT_EQ(names_in(folder.path), std::vector<std::string>{"bits.txt"});
}

} // namespace
} // namespace tarnwel::test
