#include "prefault.h"

#include <chrono>
#include <cstring>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <thread>
#include <vector>

#include "mapped_array.h"

namespace tarnwel::test {
namespace {

constexpr std::size_t mib = std::size_t{1} << 20;

// Pages of [from, to) of the array that are in memory.
std::size_t resident_pages(MappedArray<std::uint8_t>& array, std::size_t from, std::size_t to) {
    const std::size_t page = 4096;
    std::vector<unsigned char> flags((to - from) / page);
    if (mincore(array.data() + from, to - from, flags.data()) != 0) return 0;
    std::size_t count = 0;
    for (unsigned char flag : flags)
        count += flag & 1;
    return count;
}

bool kernel_populates() {
#ifdef MADV_POPULATE_WRITE
    MappedArray<std::uint8_t> probe;
    return allocate_zeroed(probe, 4096) && madvise(probe.data(), 4096, MADV_POPULATE_WRITE) == 0;
#else
    return false;
#endif
}

bool eventually(const auto& condition) {
    for (int i = 0; i < 500 && !condition(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return condition();
}

TEST(Prefault, PagesAheadOfTheOwnerComeInButNoFurtherAndDataStays) {
    if (!kernel_populates()) GTEST_SKIP() << "the kernel does not populate on request";
    MappedArray<std::uint8_t> array;
    ASSERT_TRUE(allocate_zeroed(array, 64 * mib));
    {
        Prefaulter prefaulter;
        add_prefault_track(prefaulter, array.data(), array.size);
        start_prefault(prefaulter, 4 * mib);
        if (!worker_running(prefaulter.helper)) GTEST_SKIP() << "no second thread";
        // The helper populates the first stretch, then waits for news.
        const std::size_t pages_ahead = 4 * mib / 4096;
        EXPECT_TRUE(eventually([&] { return resident_pages(array, 0, 4 * mib) == pages_ahead; }));
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        // The owner fills from the front while the helper works ahead.
        for (std::size_t at = 0; at < 8 * mib; at += 4096) {
            array[at] = static_cast<std::uint8_t>(at / 4096 + 1);
            report_reached(prefaulter, 0, at + 1);
            wake_prefault(prefaulter);
        }
        EXPECT_TRUE(
            eventually([&] { return resident_pages(array, 8 * mib, 12 * mib) == pages_ahead; }));
        // Ahead by 4 MiB, rounded up to a 2 MiB step at most.
        EXPECT_EQ(resident_pages(array, 14 * mib, 64 * mib), 0u);
        stop_prefault(prefaulter);
        stop_prefault(prefaulter); // a second stop is harmless
    }
    for (std::size_t at = 0; at < 8 * mib; at += 4096)
        ASSERT_EQ(array[at], static_cast<std::uint8_t>(at / 4096 + 1)) << at;
    for (std::size_t at = 8 * mib; at < 12 * mib; ++at)
        ASSERT_EQ(array[at], 0) << at;
}

TEST(Prefault, AHelperNeverStartedOrIdleStopsAtOnce) {
    MappedArray<std::uint8_t> array;
    ASSERT_TRUE(allocate_zeroed(array, 4 * mib));
    { Prefaulter unused; }
    Prefaulter idle;
    add_prefault_track(idle, array.data(), array.size);
    start_prefault(idle, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(20)); // now waiting for news
    stop_prefault(idle);
    EXPECT_FALSE(worker_running(idle.helper));
}

TEST(Prefault, PopulatingARegionNowKeepsItZeroed) {
    if (!kernel_populates()) GTEST_SKIP() << "the kernel does not populate on request";
    MappedArray<std::uint8_t> array;
    ASSERT_TRUE(allocate_zeroed(array, 10 * mib + 4096));
    populate_now(array.data(), array.size);
    std::size_t pages = array.size / 4096;
    EXPECT_EQ(resident_pages(array, 0, array.size), pages);
    std::vector<std::uint8_t> zeros(array.size);
    EXPECT_EQ(std::memcmp(array.data(), zeros.data(), array.size), 0);
}

} // namespace
} // namespace tarnwel::test
