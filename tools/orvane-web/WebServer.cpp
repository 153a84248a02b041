#include "WebServer.h"

#include <civetweb.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>

#include "PkgWeb/WebMessage.h"

namespace {

constexpr std::size_t kRecentMessages = 20;
constexpr std::size_t kMaxQueued = 256;
constexpr std::size_t kMaxPrograms = 500;
constexpr std::size_t kMaxPages = 16;
constexpr std::size_t kMaxCommands = 16;
constexpr int kTickMs = 20;
constexpr int kInfoEveryTicks = 10;  // program point every 200 ms

WebServer* Self(const mg_connection* conn) {
    return static_cast<WebServer*>(mg_get_user_data(mg_get_context(conn)));
}
int Request(mg_connection* c) { return Self(c)->OnRequest(c); }
int WsConnect(const mg_connection* c, void*) { return Self(c)->OnWebSocketConnect(c); }
void WsReady(mg_connection* c, void*) { Self(c)->OnWebSocketReady(c); }
int WsData(mg_connection* c, int flags, char* data, size_t n, void*) {
    return Self(c)->OnWebSocketData(c, flags, data, n);
}
void WsClose(const mg_connection* c, void*) { Self(c)->OnWebSocketClose(c); }
int Log(const mg_connection*, const char* message) {
    std::cerr << "orvane-web: " << message << std::endl;
    return 1;
}

// Same time for equal lengths whatever the contents.
bool SameToken(const std::string& a, const std::string& b) {
    if (a.size() != b.size() || a.empty()) return false;
    unsigned char diff = 0;
    for (std::size_t i = 0; i < a.size(); ++i) diff |= static_cast<unsigned char>(a[i] ^ b[i]);
    return diff == 0;
}

struct Page {
    std::string assembling;  // a fragmented message so far
};

}  // namespace

WebServer::WebServer(const Options& o) : options(o), jogGuard(o.jogTimeoutMs) {}

WebServer::~WebServer() { Stop(); }

int64_t WebServer::NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

bool WebServer::Start(std::string* error) {
    mg_init_library(0);
    const char* civetOptions[] = {"listening_ports", options.listen.c_str(),
                                  "num_threads", "8",
                                  "request_timeout_ms", "10000",
                                  "websocket_timeout_ms", "3000",
                                  "enable_websocket_ping_pong", "yes",
                                  nullptr};
    mg_callbacks callbacks{};
    callbacks.begin_request = Request;
    callbacks.log_message = Log;
    context = mg_start(&callbacks, this, civetOptions);
    if (context == nullptr) {
        *error = "cannot listen on " + options.listen;
        return false;
    }
    mg_set_websocket_handler(context, "/ws", WsConnect, WsReady, WsData, WsClose, nullptr);
    mg_server_port ports[4];
    int n = mg_get_server_ports(context, 4, ports);
    port = n > 0 ? ports[0].port : 0;

    client.SetStatusHook([this](const ComStatusTelegram& s) {
        if (options.onStatus) options.onStatus(s);
        std::string json = WebMessage::Status(s);
        {
            std::lock_guard<std::mutex> lock(outMutex);
            latestStatus = std::move(json);
        }
        outReady.notify_all();
    });
    client.SetEventPrinter([this](const FrontendClient::Event& e) {
        if (options.onEvent) options.onEvent(e);
        if (e.kind == FrontendClient::Event::Kind::Message) {
            if (!options.onEvent) std::cout << "controller: " << e.text << std::endl;
            std::string json = WebMessage::Message(e.text);
            {
                std::lock_guard<std::mutex> lock(outMutex);
                recentMessages.push_back(json);
                if (recentMessages.size() > kRecentMessages) recentMessages.pop_front();
            }
            Broadcast(json);
            if (e.text.find(" uploaded, ") != std::string::npos) Broadcast(ProgramList());
        } else if (e.kind == FrontendClient::Event::Kind::Answer) {
            std::string json = WebMessage::ProgramInfo(e.text);
            if (json.empty()) return;
            bool changed;
            {
                std::lock_guard<std::mutex> lock(stateMutex);
                changed = json != lastProgram;
                lastProgram = json;
            }
            if (changed) Broadcast(json);
        }
    });
    stopping.store(false);
    ticker = std::thread(&WebServer::Tick, this);
    broadcaster = std::thread(&WebServer::BroadcastLoop, this);
    return true;
}

void WebServer::Stop() {
    if (context != nullptr) {
        mg_stop(context);  // ends every page's connection and handler
        context = nullptr;
    }
    {
        std::lock_guard<std::mutex> lock(outMutex);
        stopping.store(true);
    }
    outReady.notify_all();
    if (ticker.joinable()) ticker.join();
    if (broadcaster.joinable()) broadcaster.join();
    client.Close();
}

bool WebServer::Authorized(const mg_connection* conn) const {
    const mg_request_info* info = mg_get_request_info(conn);
    char value[256];
    if (info->query_string != nullptr &&
        mg_get_var(info->query_string, std::strlen(info->query_string), "token", value,
                   sizeof(value)) > 0 &&
        SameToken(value, options.token)) {
        return true;
    }
    const char* cookie = mg_get_header(conn, "Cookie");
    return cookie != nullptr && mg_get_cookie(cookie, "orvane_token", value, sizeof(value)) > 0 &&
           SameToken(value, options.token);
}

int WebServer::OnRequest(mg_connection* conn) {
    const mg_request_info* info = mg_get_request_info(conn);
    const std::string uri = info->local_uri != nullptr ? info->local_uri : "";
    if (!Authorized(conn)) {
        // Written out in full: civetweb's error page leaves out the status
        // line for a WebSocket upgrade request.
        static const char body[] = "Unauthorized: open the address orvane-web printed, with its token.\n";
        mg_printf(conn,
                  "HTTP/1.1 401 Unauthorized\r\nContent-Type: text/plain; charset=utf-8\r\n"
                  "Content-Length: %zu\r\nCache-Control: no-store\r\nConnection: close\r\n\r\n%s",
                  sizeof(body) - 1, body);
        return 401;
    }
    if (uri == "/ws") return 0;  // the WebSocket handler takes it (and checks again)
    if (std::strcmp(info->request_method, "GET") != 0 && std::strcmp(info->request_method, "HEAD") != 0) {
        mg_send_http_error(conn, 405, "%s", "Method not allowed\n");
        return 405;
    }
    // Only the page's own files; nothing else of the disk is reachable.
    static const std::pair<const char*, const char*> files[] = {
        {"/", "index.html"}, {"/index.html", "index.html"}, {"/app.js", "app.js"},
        {"/style.css", "style.css"}};
    const char* file = nullptr;
    for (const auto& f : files) {
        if (uri == f.first) file = f.second;
    }
    if (file == nullptr) {
        mg_send_http_error(conn, 404, "%s", "Not found\n");
        return 404;
    }
    std::ifstream in(options.webRoot + "/" + file, std::ios::binary);
    std::ostringstream body;
    body << in.rdbuf();
    if (!in) {
        mg_send_http_error(conn, 500, "%s", "The page's files are missing; see orvane-web --web-root\n");
        return 500;
    }
    const std::string text = body.str();
    const std::string name = file;
    const char* type = name.size() > 3 && name.compare(name.size() - 3, 3, ".js") == 0
                           ? "text/javascript; charset=utf-8"
                       : name.size() > 4 && name.compare(name.size() - 4, 4, ".css") == 0
                           ? "text/css; charset=utf-8"
                           : "text/html; charset=utf-8";
    // The cookie lets the page's own requests through without the token in
    // every address; SameSite keeps other sites' pages from using it.
    mg_printf(conn,
              "HTTP/1.1 200 OK\r\nContent-Type: %s\r\nContent-Length: %zu\r\n"
              "Cache-Control: no-store\r\nX-Content-Type-Options: nosniff\r\n"
              "Set-Cookie: orvane_token=%s; Path=/; HttpOnly; SameSite=Strict\r\n"
              "Connection: close\r\n\r\n",
              type, text.size(), options.token.c_str());
    if (std::strcmp(info->request_method, "GET") == 0) mg_write(conn, text.data(), text.size());
    return 200;
}

int WebServer::OnWebSocketConnect(const mg_connection* conn) {
    if (!Authorized(conn)) return 1;
    // A page of another site must not drive the robot through this browser.
    const char* origin = mg_get_header(conn, "Origin");
    const char* host = mg_get_header(conn, "Host");
    if (origin != nullptr) {
        std::string o = origin;
        std::size_t scheme = o.find("://");
        if (host == nullptr || scheme == std::string::npos || o.substr(scheme + 3) != host) return 1;
    }
    std::lock_guard<std::mutex> lock(pagesMutex);
    return pages.size() >= kMaxPages ? 1 : 0;
}

void WebServer::OnWebSocketReady(mg_connection* conn) {
    mg_set_user_connection_data(conn, new Page);
    {
        std::lock_guard<std::mutex> lock(pagesMutex);
        pages.insert(conn);
    }
    std::vector<std::string> first;
    {
        std::lock_guard<std::mutex> lock(stateMutex);
        first.push_back(WebMessage::Connection(client.Connected(), mode));
        if (!lastProgram.empty()) first.push_back(lastProgram);
    }
    first.push_back(ProgramList());
    {
        std::lock_guard<std::mutex> lock(outMutex);
        first.insert(first.end(), recentMessages.begin(), recentMessages.end());
    }
    for (const std::string& json : first) SendTo(conn, json);
}

int WebServer::OnWebSocketData(mg_connection* conn, int flags, const char* data, std::size_t length) {
    Page* page = static_cast<Page*>(mg_get_user_connection_data(conn));
    const int opcode = flags & 0x0F;
    const bool last = (flags & 0x80) != 0;
    if (opcode == 0x8) return 0;                   // close
    if (opcode == 0x9 || opcode == 0xA) return 1;  // ping, pong
    if (page == nullptr || opcode == 0x2) return 0;  // binary: not ours
    if (opcode == 0x1) page->assembling.clear();
    if (page->assembling.size() + length > WebMessage::maxMessageBytes) {
        SendTo(conn, WebMessage::Error("message too long"));
        return 0;
    }
    page->assembling.append(data, length);
    if (!last) return 1;
    std::string text;
    text.swap(page->assembling);
    Handle(conn, text);
    return 1;
}

void WebServer::OnWebSocketClose(const mg_connection* conn) {
    jogGuard.Drop(conn);
    float values[9];
    jogGuard.Values(NowMs(), values);
    client.SetJog(values);  // a page that goes away stops its jog at once
    {
        std::lock_guard<std::mutex> lock(pagesMutex);
        pages.erase(const_cast<mg_connection*>(conn));
    }
    delete static_cast<Page*>(mg_get_user_connection_data(conn));
    mg_set_user_connection_data(conn, nullptr);
}

void WebServer::Handle(mg_connection* conn, const std::string& text) {
    WebRequest r = WebMessage::Parse(text);
    switch (r.kind) {
        case WebRequest::Kind::Invalid:
            std::cerr << "orvane-web: refused a message of a page: " << r.error << std::endl;
            SendTo(conn, WebMessage::Error(r.error));
            return;
        case WebRequest::Kind::Jog: {
            jogGuard.Jog(conn, r.axis, r.value, NowMs());
            float values[9];
            jogGuard.Values(NowMs(), values);
            client.SetJog(values);
            return;
        }
        case WebRequest::Kind::Command: {
            std::lock_guard<std::mutex> lock(stateMutex);
            if (pendingCommands.size() >= kMaxCommands) {
                SendTo(conn, WebMessage::Error("too many commands at once"));
                return;
            }
            pendingCommands.push_back(r.frames[0]);
            if (r.name.compare(0, 4, "mode") == 0) {
                std::string m = r.name.substr(4);
                for (char& c : m) c = char(std::tolower(static_cast<unsigned char>(c)));
                mode = m;
            }
            return;
        }
        case WebRequest::Kind::Load:
        case WebRequest::Kind::Upload:
            for (const std::string& body : r.frames) {
                if (!client.Send(body)) {
                    SendTo(conn, WebMessage::Error("no connection to the controller"));
                    return;
                }
            }
            return;
        case WebRequest::Kind::Programs:
            SendTo(conn, ProgramList());
            return;
    }
}

std::string WebServer::ProgramList() const {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(
             options.baseDirectory + "/Data/Programs", ec)) {
        std::string name = entry.path().filename().string();
        if (entry.is_regular_file(ec) && WebMessage::IsProgramName(name)) names.push_back(name);
        if (names.size() >= kMaxPrograms) break;
    }
    std::sort(names.begin(), names.end());
    return WebMessage::Programs(names);
}

void WebServer::Tick() {
    int ticks = 0;
    auto next = std::chrono::steady_clock::now();
    while (!stopping.load()) {
        next += std::chrono::milliseconds(kTickMs);
        std::this_thread::sleep_until(next);
        const bool connected = client.Connected();
        bool changed;
        {
            std::lock_guard<std::mutex> lock(stateMutex);
            changed = connected != wasConnected;
            wasConnected = connected;
        }
        if (changed) {
            std::string m;
            {
                std::lock_guard<std::mutex> lock(stateMutex);
                m = mode;
            }
            std::cerr << (connected ? "orvane-web: connected to the controller"
                                    : "orvane-web: no connection to the controller")
                      << std::endl;
            Broadcast(WebMessage::Connection(connected, m));
        }
        if (!connected) {
            // Short tries, so that a stop is not held up for long.
            std::string error;
            client.Connect(options.controllerHost, options.controllerPort, 500, &error);
            next = std::chrono::steady_clock::now();
            continue;
        }
        float values[9];
        if (jogGuard.Values(NowMs(), values)) {
            std::cerr << "orvane-web: jog stopped, its page went quiet" << std::endl;
            Broadcast(WebMessage::Error("Jog stopped: the page went quiet. Let go and press again."));
        }
        client.SetJog(values);

        // The controller takes one operator command per pass of its main loop
        // (one status telegram) and a newer one replaces one not yet taken.
        std::string command;
        {
            std::lock_guard<std::mutex> lock(stateMutex);
            if (!pendingCommands.empty() && client.StatusCount() >= lastCommandStatus + 2) {
                command = pendingCommands.front();
                pendingCommands.pop_front();
                lastCommandStatus = client.StatusCount();
            }
        }
        if (!command.empty()) client.Send(command);
        if (options.pollProgram && ++ticks % kInfoEveryTicks == 0) client.Send("CMD GetProgramInfo");
    }
}

void WebServer::Broadcast(const std::string& json) {
    {
        std::lock_guard<std::mutex> lock(outMutex);
        if (outQueue.size() >= kMaxQueued) outQueue.pop_front();
        outQueue.push_back(json);
    }
    outReady.notify_all();
}

void WebServer::SendTo(mg_connection* conn, const std::string& json) {
    mg_lock_connection(conn);
    mg_websocket_write(conn, MG_WEBSOCKET_OPCODE_TEXT, json.data(), json.size());
    mg_unlock_connection(conn);
}

void WebServer::BroadcastLoop() {
    for (;;) {
        std::vector<std::string> batch;
        {
            std::unique_lock<std::mutex> lock(outMutex);
            outReady.wait(lock, [this] {
                return stopping.load() || !outQueue.empty() || !latestStatus.empty();
            });
            if (stopping.load()) return;
            batch.assign(outQueue.begin(), outQueue.end());
            outQueue.clear();
            // Only the newest status counts; a slow page skips the ones between.
            if (!latestStatus.empty()) batch.push_back(std::move(latestStatus));
            latestStatus.clear();
        }
        std::lock_guard<std::mutex> lock(pagesMutex);
        for (mg_connection* conn : pages) {
            for (const std::string& json : batch) SendTo(conn, json);
        }
    }
}
