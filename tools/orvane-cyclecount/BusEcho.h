#pragma once

#include "PkgHardware/CANInterfacePHYTEC.h"

// Joint modules of protocol V2 in the same process: every position frame the
// controller writes is kept and answered, between two cycles, as a module
// would answer it (no error, motor enabled, referenced, measured position =
// set-point), together with a healthy supply message. The frame sink only
// stores the frame, so answering costs the measured cycle nothing.
class BusEcho {
public:
    static constexpr int maxPending = 32;

    explicit BusEcho(CANInterfacePHYTEC* adapter);
    // The frame sink to hand to CANInterfacePHYTEC::ConnectToSink.
    CANInterfacePHYTEC::FrameSink Sink();
    // Injects the answers to the frames written since the last call.
    void Answer();
    long FramesSeen() const { return framesSeen; }

private:
    CANInterfacePHYTEC* adapter;
    CANInterfacePHYTEC::Frame pending[maxPending];
    int pendingCount = 0;
    long framesSeen = 0;
};
