#pragma once

#include <netinet/in.h>

#include <string>

// A small blocking-free TCP client for sensor peers on the network.
class TCPClient {
public:
    TCPClient() = default;
    virtual ~TCPClient();
    TCPClient(const TCPClient&) = delete;
    TCPClient& operator=(const TCPClient&) = delete;

    // Connects to address (dotted IPv4 or host name) and port, waiting at most
    // connectTimeoutMs. A fresh socket is used for every attempt. Returns
    // whether the connection stands.
    bool setup(std::string address, int port, int connectTimeoutMs = 1000);
    bool Send(std::string text);
    // One receive of up to size bytes (at most 4096).
    std::string receive(int size);
    // Bytes up to and including a line feed (at most 4096).
    std::string read();
    // Waits up to waitMs for data, then one receive of up to size bytes.
    // Returns the count, 0 when nothing arrived, negative on error or when the
    // peer closed the connection (the client is then disconnected).
    int readBytes(char* buffer, int size, int waitMs = 0);
    bool IsConnected() const { return sock >= 0 && connected; }
    void Close();

private:
    int sock = -1;
    bool connected = false;
    sockaddr_in server{};
};
