#include "background_writer.h"

#include <cerrno>
#include <gtest/gtest.h>

#include "expander.h"
#include "file_io.h"
#include "memory_streams.h"
#include "test_support.h"

namespace tarnwel::test {
namespace {

Bytes read_back(std::FILE* file) {
    std::fflush(file);
    std::rewind(file);
    Bytes bytes;
    for (int byte; (byte = std::fgetc(file)) != EOF;)
        bytes.push_back(static_cast<std::uint8_t>(byte));
    return bytes;
}

TEST(BackgroundWriter, StretchesLandInTheOrderHandedOver) {
    std::FILE* file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    Bytes expected;
    FileSink file_sink(file);
    CodecSinkOver sink(file_sink);
    {
        BackgroundWriter writer;
        ASSERT_TRUE(start_writer(writer, sink));
        Bytes stretches[] = {random_bytes(3, 1), random_bytes(1 << 20, 2), random_bytes(70000, 3)};
        for (const Bytes& stretch : stretches) {
            ASSERT_EQ(wait_for_writer(writer), 0);
            EXPECT_TRUE(writer_idle(writer));
            hand_to_writer(writer, expected.size(), stretch.data(), stretch.size());
            expected.insert(expected.end(), stretch.begin(), stretch.end());
        }
        stop_writer(writer); // waits for the last stretch
        EXPECT_FALSE(worker_running(writer.worker));
    }
    EXPECT_TRUE(read_back(file) == expected);
    std::fclose(file);
}

TEST(BackgroundWriter, TheFirstFailureIsKeptAndLaterStretchesDropped) {
    std::FILE* full = std::fopen("/dev/full", "wb");
    if (full == nullptr) GTEST_SKIP() << "no /dev/full";
    Bytes stretch = random_bytes(1 << 20, 4); // larger than stdio's buffer: written at once
    FileSink full_sink(full);
    CodecSinkOver sink(full_sink);
    BackgroundWriter writer;
    ASSERT_TRUE(start_writer(writer, sink));
    hand_to_writer(writer, 0, stretch.data(), stretch.size());
    EXPECT_EQ(wait_for_writer(writer), ENOSPC);
    hand_to_writer(writer, stretch.size(), stretch.data(), 10);
    EXPECT_EQ(wait_for_writer(writer), ENOSPC);
    stop_writer(writer);
    std::fclose(full);
}

TEST(BackgroundWriter, ExpandingIntoAFullDiskFailsWithItsReason) {
    std::FILE* full = std::fopen("/dev/full", "wb");
    if (full == nullptr) GTEST_SKIP() << "no /dev/full";
    // Wide enough for the expander to hand its output to a writer thread.
    Bytes stream = compress_bytes(text_like(3000000, 5), 20);
    SpanSource in(stream.data(), stream.size());
    FileSink full_sink(full);
    CodecSinkOver out(full_sink);
    ExpanderTables tables;
    ASSERT_TRUE(allocate_expander(tables, 20));
    CodecResult result = expand_stream(tables, in, out);
    EXPECT_EQ(result.status, CodecStatus::write_failed);
    EXPECT_EQ(result.error_number, ENOSPC);
    std::fclose(full);
}

} // namespace
} // namespace tarnwel::test
