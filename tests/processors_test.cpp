// The processors a run may use, as the compressor decides by them whether a
// second thread can help.
#include <gtest/gtest.h>

#include <sched.h>

#include "processors.h"

namespace tarnwel::test {
namespace {

TEST(Processors, ARunConfinedToOneProcessorSeesOne) {
    cpu_set_t before;
    ASSERT_EQ(sched_getaffinity(0, sizeof before, &before), 0);
    EXPECT_EQ(usable_processors(), static_cast<unsigned>(CPU_COUNT(&before)));
    int first = 0;
    while (!CPU_ISSET(first, &before))
        ++first;
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(first, &one);
    ASSERT_EQ(sched_setaffinity(0, sizeof one, &one), 0);
    unsigned confined = usable_processors();
    ASSERT_EQ(sched_setaffinity(0, sizeof before, &before), 0);
    EXPECT_EQ(confined, 1u);
}

} // namespace
} // namespace tarnwel::test
