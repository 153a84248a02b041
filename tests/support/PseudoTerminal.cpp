#include "support/PseudoTerminal.h"

#include <cerrno>
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <thread>
#include <unistd.h>

PseudoTerminal::PseudoTerminal() {
    master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0)
        throw std::runtime_error(std::string("pseudo-terminal: ") + std::strerror(errno));
    char name[128];
    if (ptsname_r(master, name, sizeof name) != 0) throw std::runtime_error("pseudo-terminal: no slave name");
    slavePath = name;
}

PseudoTerminal::~PseudoTerminal() {
    Close();
}

void PseudoTerminal::Close() {
    if (master >= 0) ::close(master);
    master = -1;
    if (monitor >= 0) ::close(monitor);
    monitor = -1;
}

size_t PseudoTerminal::Pending() {
    if (monitor < 0) monitor = ::open(slavePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    int queued = 0;
    if (monitor < 0 || ioctl(monitor, FIONREAD, &queued) != 0) return 0;
    return size_t(queued);
}

void PseudoTerminal::Write(const std::vector<uint8_t>& bytes) {
    const size_t before = Pending();
    size_t done = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (done < bytes.size() && std::chrono::steady_clock::now() < deadline) {
        const ssize_t n = ::write(master, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += size_t(n);
        } else {
            pollfd p{master, POLLOUT, 0};
            poll(&p, 1, 10);
        }
    }
    if (done < bytes.size()) throw std::runtime_error("pseudo-terminal: write timed out");
    while (Pending() < before + bytes.size()) {
        if (std::chrono::steady_clock::now() >= deadline)
            throw std::runtime_error("pseudo-terminal: bytes not delivered");
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

std::vector<uint8_t> PseudoTerminal::Read(size_t count, int timeoutMs) {
    std::vector<uint8_t> out;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (out.size() < count) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        pollfd p{master, POLLIN, 0};
        if (poll(&p, 1, int(left.count())) <= 0) continue;
        uint8_t buffer[512];
        const ssize_t n = ::read(master, buffer, std::min(sizeof buffer, count - out.size()));
        if (n > 0)
            out.insert(out.end(), buffer, buffer + n);
        else if (n < 0 && errno != EAGAIN && errno != EINTR)
            break;  // slave side closed
    }
    return out;
}

std::vector<uint8_t> PseudoTerminal::ReadAll(int quietMs) {
    std::vector<uint8_t> out;
    for (;;) {
        pollfd p{master, POLLIN, 0};
        if (poll(&p, 1, quietMs) <= 0) break;
        uint8_t buffer[512];
        const ssize_t n = ::read(master, buffer, sizeof buffer);
        if (n <= 0) break;
        out.insert(out.end(), buffer, buffer + n);
    }
    return out;
}
