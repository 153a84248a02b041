#include "SimBus.h"

#include <arpa/inet.h>
#include <linux/can.h>
#include <linux/can/raw.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

SimBus::~SimBus() {
    if (fd >= 0) close(fd);
}

std::string SimBus::OpenUdp(int p) {
    if (p < 1 || p > 65534) return "UDP port must be 1 ... 65534";
    fd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK, 0);
    if (fd < 0) return std::string("socket: ") + std::strerror(errno);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(uint16_t(p));
    if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) < 0) {
        std::string reason = std::string("bind 127.0.0.1:") + std::to_string(p) + ": " + std::strerror(errno);
        close(fd);
        fd = -1;
        return reason;
    }
    udp = true;
    port = p;
    description = "udp 127.0.0.1:" + std::to_string(p) + " (controller on " + std::to_string(p + 1) + ")";
    return "";
}

std::string SimBus::OpenSocketCan(const std::string& name) {
    if (name.empty() || name.size() >= IFNAMSIZ) return "bad interface name";
    fd = socket(PF_CAN, SOCK_RAW | SOCK_NONBLOCK, CAN_RAW);
    if (fd < 0) return std::string("socket: ") + std::strerror(errno);
    ifreq request{};
    std::strncpy(request.ifr_name, name.c_str(), IFNAMSIZ - 1);
    bool ok = ioctl(fd, SIOCGIFINDEX, &request) == 0;
    if (ok) {
        sockaddr_can address{};
        address.can_family = AF_CAN;
        address.can_ifindex = request.ifr_ifindex;
        ok = bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    if (!ok) {
        std::string reason = name + ": " + std::strerror(errno);
        close(fd);
        fd = -1;
        return reason;
    }
    udp = false;
    description = "socketcan " + name;
    return "";
}

std::string SimBus::EnableArrivalStamps() {
    int on = 1;
    if (fd < 0 || setsockopt(fd, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on) < 0)
        return std::string("SO_TIMESTAMPNS: ") + std::strerror(fd < 0 ? EBADF : errno);
    return "";
}

bool SimBus::Receive(SimFrame* frame, double* arrival) {
    unsigned char buffer[64];
    alignas(cmsghdr) unsigned char control[CMSG_SPACE(sizeof(timespec))];
    iovec io{buffer, sizeof buffer};
    msghdr message{};
    message.msg_iov = &io;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    ssize_t n = recvmsg(fd, &message, 0);
    if (n != 16) return false;
    if (arrival != nullptr) {
        timespec stamp{};
        clock_gettime(CLOCK_REALTIME, &stamp);
        for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c))
            if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPNS)
                std::memcpy(&stamp, CMSG_DATA(c), sizeof stamp);
        *arrival = double(stamp.tv_sec) + double(stamp.tv_nsec) * 1e-9;
    }
    uint32_t id = 0;
    if (udp) {
        for (int i = 0; i < 4; ++i) id |= uint32_t(buffer[i]) << (8 * i);
    } else {
        std::memcpy(&id, buffer, 4);
    }
    if (id > 255 || buffer[4] > 8) return false;
    frame->id = int(id);
    frame->length = buffer[4];
    std::memcpy(frame->data, buffer + 8, 8);
    return true;
}

void SimBus::Send(const SimFrame& frame) {
    if (fd < 0) return;
    if (udp) {
        unsigned char wire[16] = {0};
        uint32_t id = uint32_t(frame.id);
        for (int i = 0; i < 4; ++i) wire[i] = (unsigned char)(id >> (8 * i));
        wire[4] = (unsigned char)frame.length;
        std::memcpy(wire + 8, frame.data, 8);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(uint16_t(port + 1));
        (void)sendto(fd, wire, sizeof wire, MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&a), sizeof a);
    } else {
        can_frame cf{};
        cf.can_id = canid_t(frame.id);
        cf.can_dlc = (unsigned char)frame.length;
        std::memcpy(cf.data, frame.data, 8);
        (void)write(fd, &cf, sizeof cf);
    }
}
