#include "FrontendClient.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>

#include "ComFrameReader.h"

namespace {
constexpr std::size_t kMaxEvents = 1000;  // a reader that falls behind loses the oldest
}

FrontendClient::~FrontendClient() { Close(); }

bool FrontendClient::Connect(const std::string& host, int port, int timeoutMs, std::string* error) {
    Close();
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    int rc = ::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found);
    if (rc != 0 || found == nullptr) {
        if (error != nullptr) *error = "cannot resolve " + host + ": " + ::gai_strerror(rc);
        return false;
    }
    sockaddr_in address{};
    std::memcpy(&address, found->ai_addr, sizeof(address));
    ::freeaddrinfo(found);

    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (s >= 0 && ::connect(s, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0) {
            // Under the send lock: another thread may be in Send (orvane-web
            // reconnects while its pages keep sending).
            std::lock_guard<std::mutex> lock(sendMutex);
            fd = s;
            break;
        }
        int err = errno;
        if (s >= 0) ::close(s);
        if (std::chrono::steady_clock::now() >= end) {
            if (error != nullptr) {
                *error = "cannot connect to " + host + ":" + std::to_string(port) + ": " +
                         std::strerror(err);
            }
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    stopping.store(false);
    connected.store(true);
    reader = std::thread(&FrontendClient::readLoop, this);
    keepAlive = std::thread(&FrontendClient::keepAliveLoop, this);
    return true;
}

void FrontendClient::Close() {
    {
        std::lock_guard<std::mutex> lock(wakeMutex);
        stopping.store(true);
    }
    wake.notify_all();
    if (fd >= 0) ::shutdown(fd, SHUT_RDWR);
    if (reader.joinable()) reader.join();
    if (keepAlive.joinable()) keepAlive.join();
    std::lock_guard<std::mutex> lock(sendMutex);
    if (fd >= 0) ::close(fd);
    fd = -1;
    connected.store(false);
}

bool FrontendClient::Send(const std::string& body) {
    std::lock_guard<std::mutex> lock(sendMutex);
    if (!connected.load() || fd < 0) return false;
    std::string text = "NEXSTART " + std::to_string(counter) + " " + body + " NEXEND";
    counter = (counter + 1) % 1000;
    std::size_t done = 0;
    while (done < text.size()) {
        ssize_t n = ::send(fd, text.data() + done, text.size() - done, MSG_NOSIGNAL);
        if (n <= 0) {
            if (n < 0 && errno == EINTR) continue;
            connected.store(false);
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

void FrontendClient::SetJog(const float* values) {
    bool changed = false;
    {
        std::lock_guard<std::mutex> lock(dataMutex);
        for (int i = 0; i < 9; ++i) {
            changed = changed || jog[i] != values[i];
            jog[i] = values[i];
        }
    }
    if (!changed) return;
    // A new jog, a stop above all, goes out now rather than with the next keep-alive.
    {
        std::lock_guard<std::mutex> lock(wakeMutex);
        jogChanged = true;
    }
    wake.notify_all();
}

bool FrontendClient::LatestStatus(ComStatusTelegram* out) const {
    std::lock_guard<std::mutex> lock(dataMutex);
    if (!haveStatus) return false;
    *out = status;
    return true;
}

bool FrontendClient::NextEvent(Event* out, int timeoutMs) {
    std::unique_lock<std::mutex> lock(dataMutex);
    if (!eventReady.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                             [this] { return !events.empty(); })) {
        return false;
    }
    *out = events.front();
    events.pop_front();
    return true;
}

void FrontendClient::push(Event event) {
    if (onEvent) onEvent(event);
    {
        std::lock_guard<std::mutex> lock(dataMutex);
        if (events.size() >= kMaxEvents) events.pop_front();
        events.push_back(std::move(event));
    }
    eventReady.notify_all();
}

void FrontendClient::readLoop() {
    ComFrameReader frames;
    char buf[2048];
    bool open = true;
    while (open && !stopping.load()) {
        pollfd p{fd, POLLIN, 0};
        int ready = ::poll(&p, 1, 100);
        if (ready <= 0) continue;
        ssize_t n = ::recv(fd, buf, sizeof(buf), 0);
        if (n <= 0) {
            if (n < 0 && errno == EINTR) continue;
            open = false;
            break;
        }
        for (ssize_t i = 0; i < n; ++i) {
            ComFrameReader::Result r = frames.Feed(buf[i]);
            if (r == ComFrameReader::Result::Overflow) {
                frames.Reset();
                continue;
            }
            if (r != ComFrameReader::Result::Complete) continue;
            std::string message = frames.Message();
            frames.Reset();
            ComStatusTelegram decoded;
            if (decoded.Parse(message)) {
                {
                    std::lock_guard<std::mutex> lock(dataMutex);
                    status = decoded;
                    haveStatus = true;
                }
                statusCount.fetch_add(1);
                if (onStatus) onStatus(decoded);
                continue;
            }
            // "NEXSTART <n> MESSAGE <text> NEXEND" or "NEXSTART <n> <answer> NEXEND".
            std::size_t afterCounter = message.find(' ', 9);
            if (afterCounter == std::string::npos || message.size() < afterCounter + 8) continue;
            std::string body = message.substr(afterCounter + 1, message.size() - afterCounter - 8);
            if (body.compare(0, 8, "MESSAGE ") == 0) {
                push(Event{Event::Kind::Message, body.substr(8)});
            } else {
                push(Event{Event::Kind::Answer, body});
            }
        }
    }
    connected.store(false);
    if (!stopping.load()) push(Event{Event::Kind::Closed, ""});
}

void FrontendClient::keepAliveLoop() {
    // Well inside the server's watchdog of 100 main-loop passes (2.5 s).
    while (!stopping.load() && connected.load()) {
        float values[9];
        {
            std::lock_guard<std::mutex> lock(dataMutex);
            for (int i = 0; i < 9; ++i) values[i] = jog[i];
        }
        char body[256];
        std::snprintf(body, sizeof(body), "ALIVEJOG %.2f %.2f %.2f %.2f %.2f %.2f %.2f %.2f %.2f",
                      double(values[0]), double(values[1]), double(values[2]), double(values[3]),
                      double(values[4]), double(values[5]), double(values[6]), double(values[7]),
                      double(values[8]));
        Send(body);
        std::unique_lock<std::mutex> lock(wakeMutex);
        wake.wait_for(lock, std::chrono::milliseconds(50),
                      [this] { return stopping.load() || jogChanged; });
        jogChanged = false;
    }
}
