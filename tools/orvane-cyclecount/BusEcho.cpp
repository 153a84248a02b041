#include "BusEcho.h"

BusEcho::BusEcho(CANInterfacePHYTEC* bus) : adapter(bus) {}

CANInterfacePHYTEC::FrameSink BusEcho::Sink() {
    return [this](const CANInterfacePHYTEC::Frame& frame) {
        ++framesSeen;
        if (pendingCount < maxPending) pending[pendingCount++] = frame;
    };
}

void BusEcho::Answer() {
    for (int k = 0; k < pendingCount; ++k) {
        const CANInterfacePHYTEC::Frame& f = pending[k];
        if (f.length != 8 || f.data[0] != 0x14) continue;  // position frames only
        // Error bits 0, position counts, current 10, inputs: referenced.
        const unsigned char answer[8] = {0x00, f.data[2], f.data[3], f.data[4], f.data[5], 0, 10, 0x80};
        adapter->InjectFrame(f.id + 1, 8, answer);
    }
    pendingCount = 0;
    // Supply 24000 mV, total current 0, emergency-stop circuit closed (state 3).
    const unsigned char supply[8] = {0, 0, 0x09, 0x60, 0x0C, 0xE4, 0x80, 0x80};
    adapter->InjectFrame(6, 8, supply);
}
