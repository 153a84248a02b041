#pragma once

#include <functional>
#include <string>
#include <vector>

#include <poll.h>

// The simulator's fault-injection port: line-based text on loopback TCP.
// Each complete line goes to the handler; its reply is written back.
class ControlServer {
public:
    using Handler = std::function<std::string(const std::string& line)>;

    ControlServer() = default;
    ~ControlServer();
    ControlServer(const ControlServer&) = delete;
    ControlServer& operator=(const ControlServer&) = delete;

    // Listens on 127.0.0.1:port (0 = any free port). "" on success, else the reason.
    std::string Listen(int port);
    int Port() const { return port; }
    // Adds the descriptors to watch to `fds`.
    void AddPollFds(std::vector<pollfd>* fds) const;
    // Accepts clients, reads lines and answers them.
    void Service(const Handler& handler);

    static constexpr int maxClients = 8;
    static constexpr size_t maxLine = 256;

private:
    struct Client {
        int fd = -1;
        std::string buffer;
    };
    void Drop(size_t index);

    int listenFd = -1;
    int port = 0;
    std::vector<Client> clients;
};
