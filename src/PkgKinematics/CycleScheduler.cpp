#include "PkgKinematics/CycleScheduler.h"

#include <time.h>

#include <cerrno>
#include <utility>

CycleScheduler::CycleScheduler(Clock clockNs, SleepUntil sleeper)
    : clock(clockNs ? std::move(clockNs) : Clock(&CycleScheduler::MonotonicNs)),
      sleepUntil(sleeper ? std::move(sleeper) : SleepUntil(&CycleScheduler::SleepUntilNs)) {}

int64_t CycleScheduler::MonotonicNs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return int64_t(now.tv_sec) * 1000000000 + now.tv_nsec;
}

void CycleScheduler::SleepUntilNs(int64_t deadlineNs) {
    timespec until{};
    until.tv_sec = time_t(deadlineNs / 1000000000);
    until.tv_nsec = long(deadlineNs % 1000000000);
    // A signal cuts the sleep short; the deadline stays the same.
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) == EINTR) {
    }
}

void CycleScheduler::Restart(int64_t periodNs) {
    period = periodNs > 0 ? periodNs : 1;
    const int64_t now = clock();
    slotStart = now;
    cycleStart = now;
    windowStart = now;
    windowCycles = 0;
    busySum = 0;
}

void CycleScheduler::BeginCycle() {
    cycleStart = clock();
    // Woken so late that whole slots have passed: skip them.
    if (cycleStart - slotStart >= period) {
        const int64_t missed = (cycleStart - slotStart) / period;
        overruns.fetch_add(missed);
        slotStart += missed * period;
    }
    ++windowCycles;
}

int64_t CycleScheduler::EndCycle() {
    const int64_t now = clock();
    if (windowCycles >= windowLength) {
        const int64_t windowTenUs = (now - windowStart) / 10000;
        if (windowTenUs > 0) {
            frequency.store(float((100000.0 / double(windowTenUs)) * double(windowLength)));
            workload.store(float(double(busySum) * 100.0 / double(windowTenUs)));
        }
        windowStart = now;
        windowCycles = 0;
        busySum = 0;
    }
    const int64_t elapsedUs = (now - cycleStart) / 1000;
    int longest = maxCycleUs.load();
    while (elapsedUs > longest && !maxCycleUs.compare_exchange_weak(longest, int(elapsedUs))) {
    }
    busySum += elapsedUs / 10;
    return elapsedUs;
}

void CycleScheduler::WaitForNextCycle() {
    const int64_t now = clock();
    const int64_t next = slotStart + period;
    if (now <= next) {
        slotStart = next;
        sleepUntil(next);
    } else {
        // The next cycle starts at once, late, in the slot that holds now; the
        // slots before that one had no cycle at all: those are the overruns.
        const int64_t skipped = (now - next) / period;
        overruns.fetch_add(skipped);
        slotStart = next + skipped * period;
    }
}
