#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "FrontendClient.h"
#include "PkgWeb/WebJogGuard.h"

struct mg_context;
struct mg_connection;

// The browser front-end: serves the page's files from disk and one WebSocket
// per open page, and relays between the pages and the controller's front-end
// port, which it uses as that port's one client.
class WebServer {
public:
    struct Options {
        std::string listen = "127.0.0.1:8080";
        std::string token;            // every request must carry it
        std::string webRoot;          // index.html, app.js, style.css
        std::string baseDirectory;    // the controller's; its Data/Programs is listed
        std::string controllerHost = "127.0.0.1";
        int controllerPort = 3920;
        int64_t jogTimeoutMs = WebJogGuard::defaultTimeoutMs;
        // Ask for the program point; off when console commands run beside the
        // page, whose own "info" answers would otherwise be mixed with these.
        bool pollProgram = true;
        // Also told of everything the controller sends (console commands, trace).
        std::function<void(const FrontendClient::Event&)> onEvent;
        std::function<void(const ComStatusTelegram&)> onStatus;
    };

    explicit WebServer(const Options& options);
    ~WebServer();
    WebServer(const WebServer&) = delete;
    WebServer& operator=(const WebServer&) = delete;

    // Starts listening and the link to the controller; false with *error.
    bool Start(std::string* error);
    void Stop();
    // The port actually listened on (after Start).
    int Port() const { return port; }
    FrontendClient& Client() { return client; }

    // civetweb callbacks (public for the C trampolines).
    int OnRequest(mg_connection* conn);
    int OnWebSocketConnect(const mg_connection* conn);
    void OnWebSocketReady(mg_connection* conn);
    int OnWebSocketData(mg_connection* conn, int flags, const char* data, std::size_t length);
    void OnWebSocketClose(const mg_connection* conn);

private:
    bool Authorized(const mg_connection* conn) const;
    void Tick();
    void BroadcastLoop();
    void Broadcast(const std::string& json);
    void SendTo(mg_connection* conn, const std::string& json);
    void Handle(mg_connection* conn, const std::string& text);
    std::string ProgramList() const;
    static int64_t NowMs();

    const Options options;
    int port = 0;
    mg_context* context = nullptr;
    FrontendClient client;
    WebJogGuard jogGuard;

    std::atomic<bool> stopping{false};
    std::thread ticker;
    std::thread broadcaster;

    std::mutex pagesMutex;  // the open pages
    std::set<mg_connection*> pages;

    std::mutex outMutex;  // what goes to every page
    std::condition_variable outReady;
    std::deque<std::string> outQueue;
    std::string latestStatus;
    std::deque<std::string> recentMessages;  // shown to a page that opens later

    std::mutex stateMutex;  // small state of the link
    std::deque<std::string> pendingCommands;  // operator commands, paced
    int lastCommandStatus = -100;
    std::string mode;          // motion mode last selected here
    std::string lastProgram;   // last program info, for pages that open later
    bool wasConnected = false;
};
