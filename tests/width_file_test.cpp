// The width file: exactly the decimal width, read back the way "%d" reads.
#include <gtest/gtest.h>

#include "test_support.h"
#include "width/width_file.h"

namespace tarnwel::test {
namespace {

WidthFileResult read_text(const std::string& text, int& bits) {
    ScratchFolder folder;
    write_file(folder.path / "bits.txt", bytes_of(text));
    return read_width_file((folder.path / "bits.txt").c_str(), bits);
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
            ASSERT_EQ(commit_width_file(staged, path.c_str()), 0);
        else
            discard_width_file(staged);
        EXPECT_EQ(names_in(folder.path), std::vector<std::string>{"bits.txt"});
    }
    EXPECT_EQ(read_file(path), bytes_of("13"));
}

TEST(WidthFile, ReadsWidthsLikeScanfDecimal) {
    int bits = 12;
    EXPECT_EQ(read_text("13", bits).status, WidthFileStatus::ok);
    EXPECT_EQ(bits, 13);
    EXPECT_EQ(read_text("  \n25\n", bits).status, WidthFileStatus::ok);
    EXPECT_EQ(bits, 25);
    EXPECT_EQ(read_text("+11abc", bits).status, WidthFileStatus::ok);
    EXPECT_EQ(bits, 11);
}

TEST(WidthFile, TextThatIsNotANumberLeavesTheWidthAlone) {
    for (const char* text : {"", "abc", "-", " x13"}) {
        int bits = 12;
        EXPECT_EQ(read_text(text, bits).status, WidthFileStatus::not_a_number) << text;
        EXPECT_EQ(bits, 12);
    }
}

TEST(WidthFile, NumbersOutsideElevenToTwentyFiveAreRefused) {
    for (const char* text : {"10", "26", "0", "-13", "99999999999999999999999", "4294967309"}) {
        int bits = 12;
        EXPECT_EQ(read_text(text, bits).status, WidthFileStatus::out_of_range) << text;
        EXPECT_EQ(bits, 12);
    }
}

TEST(WidthFile, MissingOrFolderIsUnreadableWithTheReason) {
    ScratchFolder folder;
    int bits = 12;
    WidthFileResult missing = read_width_file((folder.path / "bits.txt").c_str(), bits);
    EXPECT_EQ(missing.status, WidthFileStatus::unreadable);
    EXPECT_EQ(missing.error_number, ENOENT);
    std::filesystem::create_directory(folder.path / "bits.txt");
    WidthFileResult folder_in_the_way = read_width_file((folder.path / "bits.txt").c_str(), bits);
    EXPECT_EQ(folder_in_the_way.status, WidthFileStatus::unreadable);
    EXPECT_EQ(folder_in_the_way.error_number, EISDIR);
    StagedWidth staged;
    EXPECT_EQ(reserve_width_file((folder.path / "bits.txt").c_str(), staged), EISDIR);
    EXPECT_EQ(names_in(folder.path), std::vector<std::string>{"bits.txt"});
}

} // namespace
} // namespace tarnwel::test
