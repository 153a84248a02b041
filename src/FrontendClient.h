#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "ComStatusTelegram.h"

// The console front-end's connection to a controller: a reader thread that
// frames and decodes everything the controller sends, and a keep-alive thread
// that sends the jog values every 50 ms while connected.
class FrontendClient {
public:
    struct Event {
        enum class Kind { Message, Answer, Closed } kind;
        std::string text;  // message text or answer body
    };

    FrontendClient() = default;
    ~FrontendClient();
    FrontendClient(const FrontendClient&) = delete;
    FrontendClient& operator=(const FrontendClient&) = delete;

    // Connects (retrying until timeoutMs has passed) and starts both threads.
    bool Connect(const std::string& host, int port, int timeoutMs, std::string* error);
    void Close();
    bool Connected() const { return connected.load(); }

    // Sends "NEXSTART <counter> <body> NEXEND"; false when not connected.
    bool Send(const std::string& body);
    // The jog values of the keep-alives; a change is sent at once.
    void SetJog(const float* values);

    // Latest status telegram; false before the first.
    bool LatestStatus(ComStatusTelegram* out) const;
    int StatusCount() const { return statusCount.load(); }
    // Next message, answer or close event; false on time-out.
    bool NextEvent(Event* out, int timeoutMs);

    // Called on the reader thread for each event as it arrives (printing).
    // Set before Connect.
    void SetEventPrinter(std::function<void(const Event&)> printer) { onEvent = std::move(printer); }
    // Called on the reader thread for every status telegram (set before Connect).
    void SetStatusHook(std::function<void(const ComStatusTelegram&)> hook) { onStatus = std::move(hook); }

private:
    void readLoop();
    void keepAliveLoop();
    void push(Event event);

    int fd = -1;
    std::atomic<bool> connected{false};
    std::atomic<bool> stopping{false};
    std::thread reader;
    std::thread keepAlive;

    std::mutex sendMutex;
    int counter = 0;

    mutable std::mutex dataMutex;
    std::condition_variable eventReady;
    std::deque<Event> events;
    ComStatusTelegram status;
    bool haveStatus = false;
    std::atomic<int> statusCount{0};
    float jog[9] = {0, 0, 0, 0, 0, 0, 0, 0, 0};

    std::mutex wakeMutex;
    std::condition_variable wake;
    bool jogChanged = false;  // under wakeMutex
    std::function<void(const Event&)> onEvent;
    std::function<void(const ComStatusTelegram&)> onStatus;
};
