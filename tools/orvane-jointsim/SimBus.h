#pragma once

#include <cstdint>
#include <string>

// One CAN frame as the simulator sees it.
struct SimFrame {
    int id = 0;
    int length = 0;
    uint8_t data[8] = {0};
};

// The simulator's end of the joint bus: UDP loopback (binds PORT, sends to
// PORT + 1, one 16-byte struct can_frame per datagram) or SocketCAN.
class SimBus {
public:
    SimBus() = default;
    ~SimBus();
    SimBus(const SimBus&) = delete;
    SimBus& operator=(const SimBus&) = delete;

    // Returns "" on success, else the reason.
    std::string OpenUdp(int port);
    std::string OpenSocketCan(const std::string& name);
    int Fd() const { return fd; }
    // The kernel stamps each frame as it arrives (SO_TIMESTAMPNS): on loopback
    // that is the sender's moment of sending, whatever this process's scheduling.
    std::string EnableArrivalStamps();
    // Reads one pending frame; false when none is waiting or it was malformed.
    // arrival (optional): the kernel's stamp in CLOCK_REALTIME seconds, or the
    // time of reading when the frame came without one.
    bool Receive(SimFrame* frame, double* arrival = nullptr);
    void Send(const SimFrame& frame);
    std::string Describe() const { return description; }

private:
    int fd = -1;
    bool udp = false;
    int port = 0;
    std::string description;
};
