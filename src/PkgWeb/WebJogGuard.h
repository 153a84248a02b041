#pragma once

#include <cstdint>
#include <mutex>

// Hold-to-run for jogs from browser pages: a page sends its jog again every
// few tens of milliseconds while a button is held. The jog stands only while
// those keep coming from the page that holds it; it drops to zero when that
// page releases it, goes quiet for longer than the time-out, or disconnects.
// A page that went quiet must release before it can jog again: its late
// keep-alives (a page that hung and resumes) do not restart the motion.
// Times are passed in (milliseconds of a monotonic clock) so that the rule
// can be tested without sleeping.
class WebJogGuard {
public:
    // With the 20 ms tick of orvane-web the jog is zero at most 270 ms after
    // the page's last message; pages send every 50 ms.
    static constexpr int64_t defaultTimeoutMs = 250;

    explicit WebJogGuard(int64_t timeoutMs = defaultTimeoutMs) : timeoutMs(timeoutMs) {}

    // A jog from page `owner` (any unique id): axis 1 ... 9, value in percent;
    // 0 releases. A jog replaces whatever another page held.
    void Jog(const void* owner, int axis, float value, int64_t nowMs);
    // The page's connection ended.
    void Drop(const void* owner);
    // The nine jog values to send now; all zero once the holder is quiet.
    // True when this call stopped a jog for quiet.
    bool Values(int64_t nowMs, float out[9]);

private:
    const int64_t timeoutMs;
    std::mutex mutex;
    const void* holder = nullptr;
    const void* tripped = nullptr;  // went quiet, not yet released
    int axis = 0;
    float value = 0.0f;
    int64_t lastMs = 0;
};
