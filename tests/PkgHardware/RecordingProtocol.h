#pragma once

#include <cstdio>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "PkgHardware/CANInterfacePHYTEC.h"

// A bus protocol of either kind without waiting and without a socket, for the
// protocol tests: frames go to `sent`, answers are injected into the
// adapter's table, pauses are summed in `slept`.
template <class Protocol>
class RecordingProtocol : public Protocol {
public:
    using Frame = CANInterfacePHYTEC::Frame;

    long long slept = 0;
    std::vector<Frame> sent;
    // Called in place of every pause; lets a test act in the middle of a cycle.
    std::function<void()> onSleep;

    void Attach() {
        this->canInterface.ConnectToSink([this](const Frame& f) { sent.push_back(f); });
    }
    // The answer of the module with this bus id (modules answer on id + 1).
    void Answer(int moduleBusId, std::vector<unsigned char> bytes) { Raw(moduleBusId + 1, std::move(bytes)); }
    void Raw(int id, const std::vector<unsigned char>& bytes) {
        unsigned char d[8] = {0};
        for (size_t i = 0; i < bytes.size() && i < 8; ++i) d[i] = bytes[i];
        this->canInterface.InjectFrame(id, 8, d);
    }
    std::vector<Frame> SentTo(int id) const {
        std::vector<Frame> out;
        for (const Frame& f : sent)
            if (f.id == id) out.push_back(f);
        return out;
    }

protected:
    void SleepMicroseconds(int us) override {
        slept += us;
        if (onSleep) onSleep();
    }
};

// "0x10/8: 14 80 00 00 07 cb 01 00": a whole frame in one comparison.
inline std::string FrameText(const CANInterfacePHYTEC::Frame& f) {
    char text[64];
    std::snprintf(text, sizeof text, "0x%02x/%d: %02x %02x %02x %02x %02x %02x %02x %02x", unsigned(f.id), f.length,
                  f.data[0], f.data[1], f.data[2], f.data[3], f.data[4], f.data[5], f.data[6], f.data[7]);
    return text;
}
