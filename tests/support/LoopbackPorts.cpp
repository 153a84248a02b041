#include "support/LoopbackPorts.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <fstream>

namespace {

bool CanBind(int type, int port) {
    int fd = socket(AF_INET, type, 0);
    if (fd < 0) return false;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(uint16_t(port));
    bool ok = bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    close(fd);
    return ok;
}

std::atomic<int> attempt{0};

// A port from the 12000 below the kernel's source-port range
// (net.ipv4.ip_local_port_range, 32768 and up by default), spread by process
// so that tests running at once rarely try the same one.
int BelowSourcePorts(int step) {
    std::ifstream range("/proc/sys/net/ipv4/ip_local_port_range");
    int low = 0;
    if (!(range >> low) || low < 13024) low = 32768;
    return low - 12000 + int((getpid() * 7919L + attempt.fetch_add(step) * 131L) % 12000);
}

}  // namespace

// Below the kernel's source-port range: see FreeTcp.
int LoopbackPorts::FreeUdpPair() {
    for (int i = 0; i < 200; ++i) {
        int port = BelowSourcePorts(2);
        port -= port % 2;  // keep pairs apart from each other
        if (CanBind(SOCK_DGRAM, port) && CanBind(SOCK_DGRAM, port + 1)) return port;
    }
    return 0;
}

// Not a port the kernel chose: it hands the same numbers out as source ports
// of outgoing connections (the tests open thousands), so one free a moment
// ago may be taken before the controller binds it. Below the kernel's range
// only an explicit bind can take a port.
int LoopbackPorts::FreeTcp() {
    for (int i = 0; i < 200; ++i) {
        const int port = BelowSourcePorts(1);
        if (CanBind(SOCK_STREAM, port)) return port;
    }
    return 0;
}
