#include "PkgPluginManager/TCPClient.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>

namespace {
constexpr int kMaxReceive = 4096;
}

TCPClient::~TCPClient() { Close(); }

void TCPClient::Close() {
    if (sock >= 0) ::close(sock);
    sock = -1;
    connected = false;
}

bool TCPClient::setup(std::string address, int port, int connectTimeoutMs) {
    Close();
    if (address.empty() || port <= 0 || port > 65535) return false;
    sock = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (sock < 0) {
        std::cout << "Could not create socket" << std::endl;
        return false;
    }
    std::memset(&server, 0, sizeof server);
    server.sin_family = AF_INET;
    server.sin_port = htons(static_cast<uint16_t>(port));
    if (inet_pton(AF_INET, address.c_str(), &server.sin_addr) != 1) {
        addrinfo hints{};
        hints.ai_family = AF_INET;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* found = nullptr;
        if (getaddrinfo(address.c_str(), nullptr, &hints, &found) != 0 || found == nullptr) {
            std::cout << "Failed to resolve hostname\n" << std::flush;
            Close();
            return false;
        }
        server.sin_addr = reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr;
        freeaddrinfo(found);
    }
    // Non-blocking connect with a time-out, so an absent camera cannot stall
    // the thread that has to notice a stop request.
    int flags = fcntl(sock, F_GETFL, 0);
    fcntl(sock, F_SETFL, flags | O_NONBLOCK);
    int rc = ::connect(sock, reinterpret_cast<sockaddr*>(&server), sizeof server);
    if (rc != 0 && errno == EINPROGRESS) {
        pollfd p{sock, POLLOUT, 0};
        rc = -1;
        if (::poll(&p, 1, connectTimeoutMs) == 1) {
            int err = 0;
            socklen_t len = sizeof err;
            getsockopt(sock, SOL_SOCKET, SO_ERROR, &err, &len);
            if (err == 0) rc = 0;
            else errno = err;
        } else {
            errno = ETIMEDOUT;
        }
    }
    fcntl(sock, F_SETFL, flags);
    if (rc != 0) {
        std::perror("connect failed. Error");
        Close();
        return false;
    }
    connected = true;
    return true;
}

bool TCPClient::Send(std::string text) {
    if (!IsConnected()) return false;
    const char* data = text.c_str();
    size_t length = std::strlen(data);
    ssize_t sent = ::send(sock, data, length, MSG_NOSIGNAL);
    if (sent < 0 || size_t(sent) != length) {
        std::cout << "Send failed : " << text << std::endl;
        return false;
    }
    return true;
}

std::string TCPClient::receive(int size) {
    if (size <= 0) return std::string();
    if (size > kMaxReceive) size = kMaxReceive;
    char buffer[kMaxReceive];
    ssize_t n = IsConnected() ? ::recv(sock, buffer, size_t(size), 0) : -1;
    if (n < 0) {
        std::cout << "receive failed!" << std::endl;
        return std::string();
    }
    return std::string(buffer, size_t(n));
}

std::string TCPClient::read() {
    std::string line;
    while (line.size() < size_t(kMaxReceive)) {
        char c;
        ssize_t n = IsConnected() ? ::recv(sock, &c, 1, 0) : -1;
        if (n <= 0) {
            std::cout << "receive failed!" << std::endl;
            return line;
        }
        line.push_back(c);
        if (c == '\n') break;
    }
    return line;
}

int TCPClient::readBytes(char* buffer, int size, int waitMs) {
    if (!IsConnected() || size <= 0) return -1;
    pollfd p{sock, POLLIN, 0};
    int ready = ::poll(&p, 1, waitMs);
    if (ready < 0) return errno == EINTR ? 0 : -1;
    if (ready == 0) return 0;
    ssize_t n = ::recv(sock, buffer, size_t(size), MSG_DONTWAIT);
    if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)) {
        Close();  // peer gone: the owner reconnects
        return -1;
    }
    return n < 0 ? 0 : int(n);
}
