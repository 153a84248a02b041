#include "PkgHardware/CANInterfacePHYTEC.h"

#include <arpa/inet.h>
#include <linux/can.h>
#include <linux/can/raw.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "LogSingleton.h"
#include "RealTimeScheduling.h"

static_assert(sizeof(can_frame) == 16, "the wire format is the 16-byte struct can_frame");

namespace {

constexpr int kReadTimeoutUs = 100000;  // bounds how long Disconnect waits for the read thread

std::string SystemError(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

// The 16-byte wire layout: identifier little-endian, length, 3 bytes padding, 8 data bytes.
void Encode(const CANInterfacePHYTEC::Frame& frame, unsigned char out[16]) {
    std::memset(out, 0, 16);
    uint32_t id = uint32_t(frame.id);
    for (int i = 0; i < 4; ++i) out[i] = (unsigned char)((id >> (8 * i)) & 0xFF);
    out[4] = (unsigned char)frame.length;
    std::memcpy(out + 8, frame.data, 8);
}

}  // namespace

void wait2(int ms) {
    if (ms > 0) usleep(useconds_t(ms) * 1000);
}

void threadReadLoop(void* interface) {
    static_cast<CANInterfacePHYTEC*>(interface)->ReadLoop();
}

CANInterfacePHYTEC::CANInterfacePHYTEC() {
    for (int i = 0; i < slotCount; ++i) {
        slots[i] = Frame();
        slots[i].id = i;
        arrival[i] = timespec{0, 0};
        received[i] = 0;
    }
}

CANInterfacePHYTEC::~CANInterfacePHYTEC() {
    if (connected.load() || readThread.joinable() || socketFd >= 0) Disconnect();
}

bool CANInterfacePHYTEC::ParseTransport(const std::string& setting, Transport* out) {
    Transport t;
    if (setting.empty()) {
        *out = t;
        return true;
    }
    const std::string socketcan = "socketcan:";
    const std::string udpPrefix = "udp:";
    if (setting.compare(0, socketcan.size(), socketcan) == 0) {
        std::string name = setting.substr(socketcan.size());
        if (name.empty() || name.size() >= IFNAMSIZ) return false;
        t.kind = Transport::SocketCan;
        t.interfaceName = name;
        *out = t;
        return true;
    }
    if (setting.compare(0, udpPrefix.size(), udpPrefix) == 0) {
        std::string digits = setting.substr(udpPrefix.size());
        if (digits.empty() || digits.size() > 5) return false;
        for (char c : digits)
            if (c < '0' || c > '9') return false;
        int port = std::atoi(digits.c_str());
        if (port < 1 || port > 65534) return false;  // PORT + 1 must be a port too
        t.kind = Transport::Udp;
        t.port = port;
        *out = t;
        return true;
    }
    return false;
}

void CANInterfacePHYTEC::SetTransport(const std::string& setting) {
    transportOverridden = true;
    transportSetting = setting;
}

void CANInterfacePHYTEC::SetClock(Clock c) { clock = std::move(c); }

timespec CANInterfacePHYTEC::Now() const {
    if (clock) return clock();
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return now;
}

void CANInterfacePHYTEC::Connect() {
    LogSingleton* log = LogSingleton::instance();
    if (connected.load() || readThread.joinable()) Disconnect();
    connected = false;
    const bool verbose = !quiet.load();
    if (verbose) log->add("....... Phytec connect ......");

    std::string setting;
    if (transportOverridden) {
        setting = transportSetting;
    } else if (const char* env = std::getenv("ORVANE_CAN")) {
        setting = env;
    }
    Transport transport;
    if (!ParseTransport(setting, &transport)) {
        if (verbose)
            log->addError("CAN interface: unknown transport \"" + setting.substr(0, 200) +
                          "\" in ORVANE_CAN (use socketcan:NAME or udp:PORT); not connected.");
        return;
    }

    try {
        OpenSocket(transport);
        stopRequest = false;
        connected = true;
        readThread = std::thread(threadReadLoop, this);
        if (verbose)
            log->add(udp ? "Connected to CAN module via UDP loopback, port " + std::to_string(udpPort) + "..."
                         : std::string("Connected to CAN module via SocketCAN..."));
    } catch (const std::exception& e) {
        connected = false;
        CloseSocket();
        if (verbose) log->addError(std::string("Could not connect to CAN module via SocketCAN! (1)") + e.what());
    } catch (...) {
        connected = false;
        CloseSocket();
        if (verbose) log->addError("Could NOT connect to CAN module via SocketCAN!! (3)");
    }
}

void CANInterfacePHYTEC::OpenSocket(const Transport& transport) {
    timeval timeout{0, kReadTimeoutUs};
    if (transport.kind == Transport::Udp) {
        udp = true;
        udpPort = transport.port;
        socketFd = socket(AF_INET, SOCK_DGRAM, 0);
        if (socketFd < 0) throw std::runtime_error(SystemError("socket"));
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        local.sin_port = htons(uint16_t(transport.port + 1));
        if (bind(socketFd, reinterpret_cast<sockaddr*>(&local), sizeof local) < 0)
            throw std::runtime_error(SystemError("bind 127.0.0.1:" + std::to_string(transport.port + 1)));
    } else {
        udp = false;
        socketFd = socket(PF_CAN, SOCK_RAW, CAN_RAW);
        if (socketFd < 0) throw std::runtime_error(SystemError("socket"));
        ifreq request{};
        std::strncpy(request.ifr_name, transport.interfaceName.c_str(), IFNAMSIZ - 1);
        if (ioctl(socketFd, SIOCGIFINDEX, &request) < 0)
            throw std::runtime_error(SystemError("interface " + transport.interfaceName));
        sockaddr_can address{};
        address.can_family = AF_CAN;
        address.can_ifindex = request.ifr_ifindex;
        if (bind(socketFd, reinterpret_cast<sockaddr*>(&address), sizeof address) < 0)
            throw std::runtime_error(SystemError("bind " + transport.interfaceName));
    }
    if (setsockopt(socketFd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout) < 0)
        throw std::runtime_error(SystemError("receive time-out"));
}

void CANInterfacePHYTEC::CloseSocket() {
    if (socketFd >= 0) close(socketFd);
    socketFd = -1;
}

void CANInterfacePHYTEC::ConnectToSink(FrameSink s) {
    if (connected.load() || readThread.joinable()) Disconnect();
    {
        std::lock_guard<std::mutex> lock(sinkMutex);
        sink = std::move(s);
    }
    connected = true;
}

bool CANInterfacePHYTEC::Disconnect() {
    connected = false;
    stopRequest = true;
    // The read thread wakes at least every receive time-out and sees the stop request.
    if (readThread.joinable()) readThread.join();
    CloseSocket();
    {
        std::lock_guard<std::mutex> lock(sinkMutex);
        sink = nullptr;
    }
    if (!quiet.load()) LogSingleton::instance()->add("CAN interface SocketCAN disconnected.");
    return connected.load();
}

int CANInterfacePHYTEC::Reconnect() {
    Disconnect();
    wait2(500);
    Connect();
    return 0;
}

std::string CANInterfacePHYTEC::GetState() const { return connected.load() ? "ok" : "error"; }

void CANInterfacePHYTEC::WriteMessage(int id, int length, unsigned char* data) {
    if (!connected.load()) return;
    Frame frame;
    frame.id = id & 0xFF;
    frame.length = length;
    int n = length < 0 ? 0 : (length > 8 ? 8 : length);
    std::memset(frame.data, 0, 8);
    if (data != nullptr && n > 0) std::memcpy(frame.data, data, size_t(n));
    {
        std::lock_guard<std::mutex> lock(sinkMutex);
        if (sink) {
            sink(frame);
            return;
        }
    }
    if (socketFd < 0) return;
    unsigned char wire[16];
    Encode(frame, wire);
    if (udp) {
        sockaddr_in peer{};
        peer.sin_family = AF_INET;
        peer.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        peer.sin_port = htons(uint16_t(udpPort));
        // A missing peer is not an error: the answers simply stay away.
        (void)sendto(socketFd, wire, sizeof wire, MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&peer),
                     sizeof peer);
    } else {
        can_frame cf{};
        cf.can_id = canid_t(frame.id);
        cf.can_dlc = (unsigned char)frame.length;
        std::memcpy(cf.data, frame.data, 8);
        (void)write(socketFd, &cf, sizeof cf);
    }
}

long CANInterfacePHYTEC::GetLastMessage(int id, int* length, unsigned char* data, long* sequence) {
    if (!connected.load()) return 0;
    if (id < 0 || id >= slotCount) throw std::string("invalid message id!");
    timespec stamp;
    {
        std::lock_guard<std::mutex> lock(tableMutex);
        if (length != nullptr) *length = slots[id].length;
        if (data != nullptr) std::memcpy(data, slots[id].data, 8);
        if (sequence != nullptr) *sequence = received[id];
        stamp = arrival[id];
    }
    timespec now = Now();
    long long sec = (long long)now.tv_sec - (long long)stamp.tv_sec;
    long long nsec = (long long)now.tv_nsec - (long long)stamp.tv_nsec;
    if (nsec < 0) {
        nsec += 1000000000LL;
        sec -= 1;
    }
    long long age = sec * 10000 + nsec / 100000;
    // Keep the age representable on a 32-bit long; the epoch-old slot saturates.
    if (age > INT_MAX) age = INT_MAX;
    if (age < INT_MIN) age = INT_MIN;
    return long(age);
}

void CANInterfacePHYTEC::InjectFrame(int id, int length, const unsigned char* data) {
    Frame frame;
    frame.id = id;
    frame.length = length;
    std::memset(frame.data, 0, 8);
    if (data != nullptr) std::memcpy(frame.data, data, 8);
    StoreFrame(frame);
}

void CANInterfacePHYTEC::StoreFrame(const Frame& frame) {
    // Frames of other senders may carry extended or larger identifiers: no slot for them.
    if (frame.id < 0 || frame.id >= slotCount) return;
    // Acknowledge-style short frames carry no answer; a length above 8 is malformed.
    if (frame.length <= 2 || frame.length > 8) return;
    timespec now = Now();
    std::lock_guard<std::mutex> lock(tableMutex);
    slots[frame.id] = frame;
    arrival[frame.id] = now;
    received[frame.id]++;
}

void CANInterfacePHYTEC::ReadLoop() {
    RealTimeScheduling::EnterReceiveThread();
    if (!quiet.load()) LogSingleton::instance()->add("Starting SocketCAN ReadLoop..");
    while (!stopRequest.load()) {
        unsigned char buffer[64];
        ssize_t n = recv(socketFd, buffer, sizeof buffer, 0);
        if (n < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) continue;
            // A broken socket would spin; pause like an unconnected bus.
            usleep(kReadTimeoutUs);
            continue;
        }
        if (n != 16 || !connected.load()) continue;  // exactly one frame per read/datagram
        Frame frame;
        uint32_t id = 0;
        if (udp) {
            for (int i = 0; i < 4; ++i) id |= uint32_t(buffer[i]) << (8 * i);
        } else {
            std::memcpy(&id, buffer, 4);  // host order on SocketCAN
        }
        // Extended, remote and error frames have flag bits above bit 10: dropped as id > 255.
        frame.id = id > uint32_t(INT_MAX) ? -1 : int(id);
        frame.length = buffer[4];
        std::memcpy(frame.data, buffer + 8, 8);
        StoreFrame(frame);
    }
    if (!quiet.load()) LogSingleton::instance()->add("SocketCAN ReadLoop has stopped...");
}
