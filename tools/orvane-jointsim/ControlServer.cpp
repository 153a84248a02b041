#include "ControlServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

ControlServer::~ControlServer() {
    for (Client& c : clients) close(c.fd);
    if (listenFd >= 0) close(listenFd);
}

std::string ControlServer::Listen(int p) {
    listenFd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    if (listenFd < 0) return std::string("socket: ") + std::strerror(errno);
    int yes = 1;
    setsockopt(listenFd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(uint16_t(p));
    socklen_t len = sizeof a;
    if (bind(listenFd, reinterpret_cast<sockaddr*>(&a), sizeof a) < 0 || listen(listenFd, 4) < 0 ||
        getsockname(listenFd, reinterpret_cast<sockaddr*>(&a), &len) < 0) {
        std::string reason = "control port " + std::to_string(p) + ": " + std::strerror(errno);
        close(listenFd);
        listenFd = -1;
        return reason;
    }
    port = ntohs(a.sin_port);
    return "";
}

void ControlServer::AddPollFds(std::vector<pollfd>* fds) const {
    if (listenFd >= 0) fds->push_back(pollfd{listenFd, POLLIN, 0});
    for (const Client& c : clients) fds->push_back(pollfd{c.fd, POLLIN, 0});
}

void ControlServer::Drop(size_t index) {
    close(clients[index].fd);
    clients.erase(clients.begin() + long(index));
}

void ControlServer::Service(const Handler& handler) {
    if (listenFd < 0) return;
    for (;;) {
        int fd = accept4(listenFd, nullptr, nullptr, SOCK_NONBLOCK);
        if (fd < 0) break;
        if (clients.size() >= size_t(maxClients)) {
            const char* busy = "error: too many control clients\n";
            (void)send(fd, busy, std::strlen(busy), MSG_NOSIGNAL);
            close(fd);
            continue;
        }
        clients.push_back(Client{fd, ""});
    }
    for (size_t i = 0; i < clients.size();) {
        char chunk[512];
        ssize_t n = recv(clients[i].fd, chunk, sizeof chunk, 0);
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
            Drop(i);
            continue;
        }
        bool dropped = false;
        if (n > 0) {
            clients[i].buffer.append(chunk, size_t(n));
            size_t nl;
            while ((nl = clients[i].buffer.find('\n')) != std::string::npos) {
                std::string line = clients[i].buffer.substr(0, nl);
                clients[i].buffer.erase(0, nl + 1);
                if (!line.empty() && line.back() == '\r') line.pop_back();
                std::string reply = line.size() > maxLine ? "error: line too long\n" : handler(line);
                if (!reply.empty() && send(clients[i].fd, reply.data(), reply.size(), MSG_NOSIGNAL) < 0) {
                    Drop(i);
                    dropped = true;
                    break;
                }
            }
            if (!dropped && clients[i].buffer.size() > maxLine) {
                const char* tooLong = "error: line too long\n";
                (void)send(clients[i].fd, tooLong, std::strlen(tooLong), MSG_NOSIGNAL);
                clients[i].buffer.clear();
            }
        }
        if (!dropped) ++i;
    }
}
