#pragma once

#include <atomic>
#include <cstdint>
#include <functional>

// The robot cycle's timetable: deadlines on an absolute grid of the monotonic
// clock (deadline k+1 = deadline k + period), so neither the cycle's work nor
// the wake-up latency of one cycle shifts the ones after it.
//
// A cycle whose work ends after the next deadline lets the following cycle
// start at once, late but in its own slot. Slots that pass with no cycle
// started in them (the work lasted longer still, or the thread woke up a whole
// period late) are skipped, never caught up, and counted as overruns: an
// overrun is a lost cycle; a late one shows in the period, not here. Restart
// re-anchors the grid at the current time (thread start, end of a pause).
//
// Also keeps the cycle statistics: frequency and workload over windows of 20
// cycles, the longest cycle's work and the overrun count.
//
// Thread use: Restart, BeginCycle, EndCycle and WaitForNextCycle on the cycle
// thread only; the statistics getters from any thread.
class CycleScheduler {
public:
    using Clock = std::function<int64_t()>;            // monotonic time in ns
    using SleepUntil = std::function<void(int64_t)>;  // sleeps until a monotonic time in ns

    static constexpr int windowLength = 20;

    // Null clock or sleeper: CLOCK_MONOTONIC and clock_nanosleep(TIMER_ABSTIME).
    explicit CycleScheduler(Clock clock = nullptr, SleepUntil sleepUntil = nullptr);

    // A fresh grid with a cycle due now; clears the statistics window (not the
    // longest cycle or the overrun count).
    void Restart(int64_t periodNs);
    // The cycle's work begins now.
    void BeginCycle();
    // The cycle's work has ended: statistics. Returns the work's length in µs.
    int64_t EndCycle();
    // Waits for the next deadline; returns at once when it has passed.
    void WaitForNextCycle();

    int64_t PeriodNs() const { return period; }
    // Start of the slot of the cycle running or last run (ns); the next deadline is one period later.
    int64_t SlotStartNs() const { return slotStart; }

    float Frequency() const { return frequency.load(); }
    float Workload() const { return workload.load(); }
    // Longest work of a cycle (µs) since the last call, then starts over.
    int TakeMaxCycleUs() { return maxCycleUs.exchange(0); }
    int64_t Overruns() const { return overruns.load(); }

    // The real clock and sleep.
    static int64_t MonotonicNs();
    static void SleepUntilNs(int64_t deadlineNs);

private:
    Clock clock;
    SleepUntil sleepUntil;

    int64_t period = 10000000;
    int64_t slotStart = 0;
    int64_t cycleStart = 0;

    int64_t windowStart = 0;
    int windowCycles = 0;
    int64_t busySum = 0;  // in 10 µs

    std::atomic<float> frequency{0.0f};
    std::atomic<float> workload{0.0f};
    std::atomic<int> maxCycleUs{0};
    std::atomic<int64_t> overruns{0};
};
