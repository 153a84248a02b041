#pragma once

#include <atomic>
#include <ctime>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

// The controller's access to the joint bus. Keeps the newest frame of every
// 8-bit identifier with its arrival time; the joint protocols poll that table
// once per cycle and never wait for the bus.
//
// Transports, chosen at Connect by the environment variable ORVANE_CAN:
//   unset            SocketCAN on "can0"
//   socketcan:NAME   SocketCAN on interface NAME
//   udp:PORT         UDP on 127.0.0.1: bound to PORT+1, frames sent to PORT,
//                    one 16-byte struct can_frame per datagram
// Any other value is logged as an error and the bus stays unconnected.
//
// Thread use: WriteMessage/GetLastMessage from the protocol's caller, the read
// thread fills the table; Connect/Disconnect/Reconnect from one thread at a time.
class CANInterfacePHYTEC {
public:
    static constexpr int slotCount = 256;

    // One received frame, as kept in the table and as sent through a frame sink.
    struct Frame {
        int id = 0;
        int length = 0;
        unsigned char data[8] = {0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80};
    };
    // Receives every written frame instead of a socket (tests and tools).
    using FrameSink = std::function<void(const Frame&)>;
    using Clock = std::function<timespec()>;

    CANInterfacePHYTEC();
    virtual ~CANInterfacePHYTEC();
    CANInterfacePHYTEC(const CANInterfacePHYTEC&) = delete;
    CANInterfacePHYTEC& operator=(const CANInterfacePHYTEC&) = delete;

    void Connect();
    bool Disconnect();
    int Reconnect();
    std::string GetState() const;
    bool IsConnected() const { return connected.load(); }
    // Leaves out the connect and disconnect lines (retries of a lost bus).
    void SetQuiet(bool on) { quiet.store(on); }

    // Sends one frame: identifier id & 0xFF, at most 8 data bytes, the rest 0.
    void WriteMessage(int id, int length, unsigned char* data);
    // Copies the newest frame of `id` (all 8 bytes) and returns its age in
    // units of 100 us; 0 without writing anything when not connected. Throws
    // std::string("invalid message id!") for id outside 0 ... 255. When
    // `sequence` is given it receives the number of frames stored in the slot
    // so far, so a caller can tell a new frame from one it has seen; like the
    // other outputs it is left untouched when not connected.
    long GetLastMessage(int id, int* length, unsigned char* data, long* sequence = nullptr);

    // Transport selection without the environment ("udp:PORT", "socketcan:NAME",
    // "" for the default); overrides ORVANE_CAN for the next Connect.
    void SetTransport(const std::string& setting);
    // Connects without a socket: written frames go to `sink`, received frames
    // come from InjectFrame. For tests and simulators.
    void ConnectToSink(FrameSink sink);
    // Stores a frame as if the read thread had received it (same filters).
    void InjectFrame(int id, int length, const unsigned char* data);
    // Replaces the real-time clock used for arrival stamps and ages.
    // Set it only while not connected.
    void SetClock(Clock clock);

    // Parses a transport setting; false for anything not in the list above.
    struct Transport {
        enum Kind { SocketCan, Udp } kind = SocketCan;
        std::string interfaceName = "can0";
        int port = 0;
    };
    static bool ParseTransport(const std::string& setting, Transport* out);

private:
    friend void threadReadLoop(void* interface);

    void StoreFrame(const Frame& frame);
    void OpenSocket(const Transport& transport);
    void CloseSocket();
    void ReadLoop();
    timespec Now() const;

    std::atomic<bool> stopRequest{false};
    std::atomic<bool> connected{false};
    std::atomic<bool> quiet{false};

    mutable std::mutex tableMutex;  // guards the slots, held only for a copy
    Frame slots[slotCount];
    timespec arrival[slotCount];
    long received[slotCount];

    int socketFd = -1;
    bool udp = false;
    int udpPort = 0;
    std::thread readThread;

    bool transportOverridden = false;
    std::string transportSetting;

    std::mutex sinkMutex;  // guards sink against a concurrent ConnectToSink/Disconnect
    FrameSink sink;
    Clock clock;
};

// Sleeps ms milliseconds.
void wait2(int ms);
// Body of the read thread.
void threadReadLoop(void* interface);
