#include "platform/HelperThread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <sched.h>
#include <unistd.h>

using namespace qm;

namespace {

cpu_set_t affinityOf(pid_t tid)
{
    cpu_set_t set;
    CPU_ZERO(&set);
    sched_getaffinity(tid, sizeof set, &set);
    return set;
}

// The helper runs away from its creator, who keeps its processor until the join and
// may then use every processor it had before.
TEST(HelperThread, RunsOnAnotherProcessorAndGivesTheCreatorItsProcessorsBack)
{
    const cpu_set_t before = affinityOf(0);
    if (CPU_COUNT(&before) < 2)
        GTEST_SKIP() << "one processor: nothing to place";
    if (sched_setaffinity(0, sizeof before, &before) != 0)
        GTEST_SKIP() << "processor placement is not permitted here";
    const pid_t creator = ::gettid();
    std::atomic<int> helperCpu{-1};
    cpu_set_t creatorWhileRunning, helperSet;
    {
        HelperThread helper([&] {
            helperSet = affinityOf(0);
            creatorWhileRunning = affinityOf(creator);
            helperCpu = sched_getcpu();
        });
        helper.join();
        EXPECT_FALSE(helper.joinable());
    }
    ASSERT_EQ(CPU_COUNT(&creatorWhileRunning), 1) << "the creator stays where it is";
    EXPECT_FALSE(CPU_ISSET(helperCpu.load(), &creatorWhileRunning));
    cpu_set_t overlap;
    CPU_AND(&overlap, &helperSet, &creatorWhileRunning);
    EXPECT_EQ(CPU_COUNT(&overlap), 0);
    const cpu_set_t after = affinityOf(0);
    EXPECT_TRUE(CPU_EQUAL(&before, &after));
}

TEST(HelperThread, WithOneProcessorNothingIsPinned)
{
    const cpu_set_t before = affinityOf(0);
    int cpu = sched_getcpu();
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(cpu, &one);
    if (sched_setaffinity(0, sizeof one, &one) != 0)
        GTEST_SKIP() << "processor placement is not permitted here";
    bool ran = false;
    cpu_set_t helperSet;
    HelperThread([&] {
        ran = true;
        helperSet = affinityOf(0);
    }).join();
    EXPECT_TRUE(ran);
    EXPECT_TRUE(CPU_EQUAL(&helperSet, &one));
    const cpu_set_t after = affinityOf(0);
    EXPECT_TRUE(CPU_EQUAL(&after, &one)) << "the creator's own choice is kept";
    sched_setaffinity(0, sizeof before, &before);
}

} // namespace
