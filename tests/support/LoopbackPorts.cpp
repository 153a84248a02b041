#include "support/LoopbackPorts.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>

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

int KernelPort(int type) {
    int fd = socket(AF_INET, type, 0);
    if (fd < 0) return 0;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = 0;
    int port = 0;
    socklen_t len = sizeof a;
    if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0)
        port = ntohs(a.sin_port);
    close(fd);
    return port;
}

std::atomic<int> attempt{0};

}  // namespace

int LoopbackPorts::FreeUdpPair() {
    for (int i = 0; i < 200; ++i) {
        int port = KernelPort(SOCK_DGRAM);
        if (port < 1024 || port > 65000) {
            // Fallback: a port derived from the process id.
            port = 20000 + int((getpid() * 7 + attempt.fetch_add(2)) % 40000);
        }
        if (port % 2 == 1) port -= 1;  // keep pairs apart from each other
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
        const int port = 20000 + int((getpid() * 7919L + attempt.fetch_add(1) * 131L) % 12000);  // below 32768
        if (CanBind(SOCK_STREAM, port)) return port;
    }
    return 0;
}
