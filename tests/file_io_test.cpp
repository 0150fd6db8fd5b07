// The driver's file sink: positioned writes land where they are told, a
// write past the end leaves zeros, truncation cuts, and an output that
// cannot seek takes writes from front to back but refuses to go back.
#include <gtest/gtest.h>

#include <cerrno>
#include <unistd.h>

#include "file_io.h"
#include "test_support.h"

namespace tarnwel::test {
namespace {

Bytes contents(std::FILE* file) {
    std::rewind(file);
    Bytes bytes;
    for (int c; (c = std::fgetc(file)) != EOF;)
        bytes.push_back(static_cast<std::uint8_t>(c));
    return bytes;
}

TEST(FileSink, PositionedWritesAndTruncationShapeTheFile) {
    std::FILE* file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    FileSink sink(file);
    const std::uint8_t abc[] = {'a', 'b', 'c'};
    EXPECT_TRUE(sink.write_at(5, abc, 3));  // past the end: a gap of zeros
    EXPECT_TRUE(sink.write_at(0, abc, 2));  // back to the front
    EXPECT_TRUE(sink.write_at(2, abc, 1));  // on from there
    EXPECT_TRUE(sink.write_at(10, abc, 3)); // beyond what will be kept
    EXPECT_TRUE(sink.truncate(7));
    EXPECT_TRUE(sink.flush());
    EXPECT_EQ(contents(file), (Bytes{'a', 'b', 'a', 0, 0, 'a', 'b'}));
    EXPECT_EQ(sink.error(), 0);
    std::fclose(file);
}

TEST(FileSink, APipeTakesWritesInOrderButCannotGoBack) {
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    std::FILE* writing = fdopen(ends[1], "wb");
    FileSink sink(writing);
    const std::uint8_t abc[] = {'a', 'b', 'c'};
    EXPECT_TRUE(sink.write_at(0, abc, 3));
    EXPECT_TRUE(sink.write_at(3, abc, 2));
    EXPECT_TRUE(sink.flush());
    EXPECT_FALSE(sink.write_at(1, abc, 1));
    EXPECT_EQ(sink.error(), ESPIPE);
    EXPECT_FALSE(sink.write_at(5, abc, 1)); // the first failure sticks
    std::fclose(writing);
    char got[8] = {};
    EXPECT_EQ(read(ends[0], got, sizeof got), 5);
    EXPECT_EQ(std::string(got, 5), "abcab");
    ::close(ends[0]);
}

} // namespace
} // namespace tarnwel::test
