#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "PkgKinematics/CycleScheduler.h"

namespace {

constexpr int64_t ms = 1000000;  // ns
constexpr int64_t us = 1000;

// A cycle loop on a simulated clock: each cycle works for a given time, each
// sleep wakes at its deadline plus a given latency.
class SimulatedLoop {
public:
    explicit SimulatedLoop(int64_t periodNs)
        : scheduler([this] { return now; },
                    [this](int64_t deadline) {
                        sleeps.push_back(deadline);
                        if (deadline > now) now = deadline;
                        now += latency;
                    }) {
        scheduler.Restart(periodNs);
        anchor = now;
    }
    // One cycle with this much work; returns its start time.
    int64_t Cycle(int64_t workNs) {
        scheduler.BeginCycle();
        const int64_t start = now;
        now += workNs;
        scheduler.EndCycle();
        scheduler.WaitForNextCycle();
        return start;
    }

    int64_t now = 5 * 1000 * ms + 123;  // an arbitrary monotonic time
    int64_t latency = 0;
    int64_t anchor = 0;
    std::vector<int64_t> sleeps;
    CycleScheduler scheduler;
};

}  // namespace

// Over thousands of cycles with varying work and wake-up latency, every sleep
// targets the absolute grid and the cycles start on it: no drift, no overrun.
TEST(CycleScheduler, KeepsTheExactPeriodOverThousandsOfCycles) {
    SimulatedLoop loop(10 * ms);
    std::mt19937 random(7);
    std::uniform_int_distribution<int64_t> work(100 * us, 9 * ms);
    std::uniform_int_distribution<int64_t> latency(0, 400 * us);
    const int cycles = 5000;
    int64_t lastLatency = 0;
    for (int k = 0; k < cycles; ++k) {
        const int64_t start = loop.Cycle(work(random));
        ASSERT_EQ(start, loop.anchor + k * 10 * ms + lastLatency) << "cycle " << k;
        lastLatency = loop.latency;
        loop.latency = latency(random);
    }
    ASSERT_EQ(loop.sleeps.size(), size_t(cycles));
    for (int k = 0; k < cycles; ++k) ASSERT_EQ(loop.sleeps[k], loop.anchor + (k + 1) * 10 * ms) << k;
    EXPECT_EQ(loop.scheduler.Overruns(), 0);
    EXPECT_EQ(loop.scheduler.PeriodNs(), 10 * ms);
}

// A cycle that ends after the next deadline lets the next one start at once,
// late but in its own slot: no overrun. Slots that pass with no cycle at all
// are skipped and counted, the grid stays where it was and no burst of cycles
// follows. A wake-up a whole period late skips the slot it missed as well.
TEST(CycleScheduler, OverrunsSkipMissedDeadlinesWithoutABurst) {
    SimulatedLoop loop(20 * ms);
    const int64_t d0 = loop.anchor;
    loop.Cycle(1 * ms);

    // Ends 0.1 ms after its deadline: the next cycle at once, no slot lost.
    EXPECT_EQ(loop.Cycle(20 * ms + 100 * us), d0 + 20 * ms);
    EXPECT_EQ(loop.scheduler.Overruns(), 0);
    EXPECT_EQ(loop.Cycle(1 * ms), d0 + 40 * ms + 100 * us);
    EXPECT_EQ(loop.Cycle(1 * ms), d0 + 60 * ms);

    // Works 2.6 periods: the slot from +100 ms passes with no cycle in it.
    EXPECT_EQ(loop.Cycle(52 * ms), d0 + 80 * ms);
    EXPECT_EQ(loop.scheduler.Overruns(), 1);
    const size_t sleepsBefore = loop.sleeps.size();
    EXPECT_EQ(loop.Cycle(1 * ms), d0 + 132 * ms);    // at once, in the slot from +120 ms
    EXPECT_EQ(loop.sleeps.size(), sleepsBefore + 1);  // then waits for +140 ms: no catching up
    EXPECT_EQ(loop.sleeps.back(), d0 + 140 * ms);
    EXPECT_EQ(loop.Cycle(1 * ms), d0 + 140 * ms);

    // Woken 1.5 periods after +180 ms: the slot from +180 ms had no cycle.
    loop.latency = 30 * ms;
    loop.Cycle(1 * ms);
    loop.latency = 0;
    EXPECT_EQ(loop.Cycle(1 * ms), d0 + 210 * ms);
    EXPECT_EQ(loop.scheduler.Overruns(), 2);
    EXPECT_EQ(loop.sleeps.back(), d0 + 220 * ms);
    EXPECT_EQ(loop.Cycle(1 * ms), d0 + 220 * ms);
    EXPECT_EQ(loop.scheduler.Overruns(), 2);
}

// With random work of up to 3.5 periods and random wake-up latency: at most
// one cycle starts in any slot of the grid (no burst), and the overrun count is
// exactly the number of slots in which none started.
TEST(CycleScheduler, OverrunsAreTheSlotsWithoutACycle) {
    const int64_t period = 10 * ms;
    SimulatedLoop loop(period);
    std::mt19937 random(11);
    std::uniform_int_distribution<int64_t> work(0, 35 * ms);
    std::uniform_int_distribution<int64_t> latency(0, 400 * us);
    std::uniform_int_distribution<int64_t> stall(0, 25 * ms);
    std::bernoulli_distribution stalled(0.05);
    std::vector<int64_t> slots;
    for (int k = 0; k < 3000; ++k) {
        loop.latency = stalled(random) ? stall(random) : latency(random);
        slots.push_back((loop.Cycle(work(random)) - loop.anchor) / period);
    }
    for (size_t k = 1; k < slots.size(); ++k) ASSERT_GT(slots[k], slots[k - 1]) << "cycle " << k;
    EXPECT_EQ(loop.scheduler.Overruns(), slots.back() + 1 - int64_t(slots.size()));
    EXPECT_GT(loop.scheduler.Overruns(), 100);
}

// After a pause the grid is anchored at the moment the loop resumes; the
// paused time is no overrun.
TEST(CycleScheduler, RestartAfterAPauseAnchorsTheGridAnew) {
    SimulatedLoop loop(10 * ms);
    for (int k = 0; k < 3; ++k) loop.Cycle(2 * ms);
    loop.now += 37 * ms + 300 * us;  // paused
    const int64_t resumed = loop.now;
    loop.scheduler.Restart(10 * ms);
    EXPECT_EQ(loop.Cycle(2 * ms), resumed);
    EXPECT_EQ(loop.Cycle(2 * ms), resumed + 10 * ms);
    EXPECT_EQ(loop.sleeps.back(), resumed + 20 * ms);
    EXPECT_EQ(loop.scheduler.Overruns(), 0);
}

// Frequency and workload over windows of 20 cycles, the longest cycle since
// the last reading, the overrun count.
TEST(CycleScheduler, StatisticsOverWindowsOfTwentyCycles) {
    SimulatedLoop loop(10 * ms);
    EXPECT_EQ(loop.scheduler.Frequency(), 0.0f);
    for (int k = 0; k < 19; ++k) loop.Cycle(2 * ms);
    EXPECT_EQ(loop.scheduler.Frequency(), 0.0f);  // window not full yet
    loop.Cycle(3 * ms);
    // The window closes at the end of the 20th cycle's work (19 periods + 3 ms);
    // that cycle's work counts in the next window.
    EXPECT_FLOAT_EQ(loop.scheduler.Frequency(), float(100000.0 / 19300.0 * 20.0));
    EXPECT_FLOAT_EQ(loop.scheduler.Workload(), float(19 * 200 * 100.0 / 19300.0));
    for (int k = 0; k < 40; ++k) loop.Cycle(2 * ms);  // the second window still holds the 3 ms
    EXPECT_FLOAT_EQ(loop.scheduler.Frequency(), 100.0f);
    EXPECT_FLOAT_EQ(loop.scheduler.Workload(), 20.0f);

    EXPECT_EQ(loop.scheduler.TakeMaxCycleUs(), 3000);
    EXPECT_EQ(loop.scheduler.TakeMaxCycleUs(), 0);
    loop.Cycle(25 * ms);
    EXPECT_EQ(loop.scheduler.TakeMaxCycleUs(), 25000);
    EXPECT_EQ(loop.scheduler.Overruns(), 1);
}
