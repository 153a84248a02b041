// orvane-camsim: a stand-in for the IFM O2D smart camera. Listens on a loopback
// TCP port and sends result messages to the connected controller, on demand
// from standard input or repeatedly at a fixed interval.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <sstream>
#include <string>

namespace {

void Usage() {
    std::cerr << "usage: orvane-camsim --port N [--interval MS] [--pass CLASS,X,Y,ROT | --fail | --fail-nostop]\n"
                 "stdin commands: pass CLASS X Y ROT | fail [nostop] | raw TEXT | interval MS | quit\n";
}

std::string PassMessage(int cls, int x, int y, float rotation) {
    char text[256];
    std::snprintf(text, sizeof text, "0000startPASS#%f#%d#%d#%d#%d#%f#%fstop", 0.9, 1, cls, x, y,
                  double(rotation), 0.0);
    return text;
}

// The camera promises only "000startFAIL" in a FAIL result; both forms occur.
const char* kFail = "0000startFAILstop";
const char* kFailNoStop = "0000startFAIL";

// Returns the message for a command line, "" for none; sets quit / interval.
std::string Command(const std::string& line, bool* quit, int* intervalMs) {
    std::istringstream in(line);
    std::string word;
    in >> word;
    if (word == "pass") {
        int cls = 0, x = 0, y = 0;
        float rotation = 0;
        if (!(in >> cls >> x >> y >> rotation)) {
            std::cerr << "orvane-camsim: pass needs CLASS X Y ROT" << std::endl;
            return "";
        }
        return PassMessage(cls, x, y, rotation);
    }
    if (word == "fail") {
        std::string form;
        in >> form;
        if (form == "nostop") return kFailNoStop;
        if (form.empty()) return kFail;
        std::cerr << "orvane-camsim: fail takes nothing or nostop" << std::endl;
        return "";
    }
    if (word == "raw") {
        std::string rest;
        std::getline(in, rest);
        if (!rest.empty() && rest[0] == ' ') rest.erase(0, 1);
        return rest;
    }
    if (word == "interval") {
        in >> *intervalMs;
        return "";
    }
    if (word == "quit") *quit = true;
    else if (!word.empty()) std::cerr << "orvane-camsim: unknown command " << word << std::endl;
    return "";
}

}  // namespace

int main(int argc, char** argv) {
    signal(SIGPIPE, SIG_IGN);
    int port = 0, intervalMs = 0;
    std::string message;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--port" && i + 1 < argc) port = std::atoi(argv[++i]);
        else if (arg == "--interval" && i + 1 < argc) intervalMs = std::atoi(argv[++i]);
        else if (arg == "--fail") message = kFail;
        else if (arg == "--fail-nostop") message = kFailNoStop;
        else if (arg == "--pass" && i + 1 < argc) {
            int cls = 0, x = 0, y = 0;
            float rotation = 0;
            if (std::sscanf(argv[++i], "%d,%d,%d,%f", &cls, &x, &y, &rotation) != 4) {
                Usage();
                return 2;
            }
            message = PassMessage(cls, x, y, rotation);
        } else {
            Usage();
            return 2;
        }
    }
    if (port <= 0 || port > 65535) {
        Usage();
        return 2;
    }
    int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int yes = 1;
    setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(uint16_t(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(listener, 1) != 0) {
        std::perror("orvane-camsim: cannot listen");
        return 1;
    }
    std::cout << "orvane-camsim: listening on 127.0.0.1:" << port << std::endl;

    int client = -1;
    bool quit = false, stdinOpen = true;
    auto lastSent = std::chrono::steady_clock::now();
    std::string input;
    while (!quit) {
        pollfd fds[3];
        int n = 0;
        fds[n++] = {listener, POLLIN, 0};
        if (stdinOpen) fds[n++] = {0, POLLIN, 0};
        if (client >= 0) fds[n++] = {client, POLLIN, 0};
        poll(fds, nfds_t(n), 20);
        for (int i = 0; i < n; ++i) {
            if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            if (fds[i].fd == listener) {
                int c = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
                if (c >= 0) {
                    if (client >= 0) close(client);
                    client = c;
                    std::cout << "orvane-camsim: client connected" << std::endl;
                }
            } else if (fds[i].fd == 0) {
                char buffer[512];
                ssize_t got = read(0, buffer, sizeof buffer);
                if (got <= 0) {
                    stdinOpen = false;
                    continue;
                }
                input.append(buffer, size_t(got));
                std::string::size_type eol;
                while ((eol = input.find('\n')) != std::string::npos) {
                    std::string text = Command(input.substr(0, eol), &quit, &intervalMs);
                    input.erase(0, eol + 1);
                    if (text.empty()) continue;
                    message = text;
                    if (client >= 0 && send(client, text.data(), text.size(), MSG_NOSIGNAL) > 0)
                        std::cout << "orvane-camsim: sent " << text << std::endl;
                    else
                        std::cout << "orvane-camsim: no client, kept " << text << std::endl;
                    lastSent = std::chrono::steady_clock::now();
                }
                if (input.size() > 4096) input.clear();
            } else {
                char sink[256];
                if (recv(client, sink, sizeof sink, MSG_DONTWAIT) <= 0) {
                    close(client);
                    client = -1;
                    std::cout << "orvane-camsim: client disconnected" << std::endl;
                }
            }
        }
        auto now = std::chrono::steady_clock::now();
        if (intervalMs > 0 && client >= 0 && !message.empty() &&
            now - lastSent >= std::chrono::milliseconds(intervalMs)) {
            send(client, message.data(), message.size(), MSG_NOSIGNAL);
            lastSent = now;
        }
    }
    if (client >= 0) close(client);
    close(listener);
    return 0;
}
