// orvane-web: the browser front-end. See tools/orvane-web/README.md.
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>

#include "ComMessageParser.h"
#include "FrontendScript.h"
#include "FrontendTrace.h"
#include "LogSingleton.h"
#include "WebServer.h"

namespace {

volatile std::sig_atomic_t stopRequested = 0;
void OnSignal(int) { stopRequested = 1; }

void Usage() {
    std::cerr << "usage: orvane-web [--listen ADDR:PORT] [--token-file FILE] [--host H] [--port P]\n"
                 "                  [--base DIR] [--web-root DIR] [--script] [--trace FILE]\n"
                 "With --script, orvane-frontend's commands are read from standard input\n"
                 "beside the page (as orvane-frontend --script does).\n";
}

bool TokenChars(const std::string& t) {
    if (t.size() < 16 || t.size() > 128) return false;
    for (char c : t) {
        bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                  c == '-' || c == '_';
        if (!ok) return false;
    }
    return true;
}

// 128 random bits as 32 hex digits.
std::string NewToken() {
    std::ifstream random("/dev/urandom", std::ios::binary);
    unsigned char bytes[16] = {};
    random.read(reinterpret_cast<char*>(bytes), sizeof(bytes));
    if (!random) return std::string();
    static const char hex[] = "0123456789abcdef";
    std::string token;
    for (unsigned char b : bytes) {
        token.push_back(hex[b >> 4]);
        token.push_back(hex[b & 15]);
    }
    return token;
}

// The page's files: beside the installed executable (bin/../web), else in
// the source tree this executable was built from.
std::string DefaultWebRoot(const char* argv0) {
    std::error_code ec;
    std::filesystem::path exe = std::filesystem::canonical("/proc/self/exe", ec);
    if (ec) exe = argv0;
    std::filesystem::path installed = exe.parent_path().parent_path() / "web";
    if (std::filesystem::exists(installed / "index.html", ec)) return installed.string();
    return ORVANE_WEB_SOURCE_ROOT;
}

}  // namespace

int main(int argc, char** argv) {
    WebServer::Options options;
    if (const char* env = std::getenv("ORVANE_FRONTEND_PORT")) {
        int p = 0;
        if (ComMessageParser::ToInt(env, 10, &p) && p > 0 && p < 65536) options.controllerPort = p;
    }
    std::string tokenFile, tracePath;
    bool script = false;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) {
                std::cerr << "orvane-web: " << a << " needs a value" << std::endl;
                std::exit(2);
            }
            return argv[++i];
        };
        bool good = true;
        if (a == "--listen") {
            options.listen = value();
            std::size_t colon = options.listen.rfind(':');
            int p = 0;
            good = colon != std::string::npos && colon > 0 &&
                   ComMessageParser::ToInt(options.listen.substr(colon + 1), 10, &p) && p > 0 &&
                   p < 65536;
        } else if (a == "--token-file") {
            tokenFile = value();
        } else if (a == "--host") {
            options.controllerHost = value();
        } else if (a == "--port") {
            good = ComMessageParser::ToInt(value(), 10, &options.controllerPort) &&
                   options.controllerPort > 0 && options.controllerPort < 65536;
        } else if (a == "--base") {
            options.baseDirectory = value();
        } else if (a == "--web-root") {
            options.webRoot = value();
        } else if (a == "--script") {
            script = true;
        } else if (a == "--trace") {
            tracePath = value();
        } else if (a == "--help" || a == "-h") {
            Usage();
            return 0;
        } else {
            good = false;
        }
        if (!good) {
            std::cerr << "orvane-web: bad option " << a << std::endl;
            Usage();
            return 2;
        }
    }
    if (!tokenFile.empty()) {
        std::ifstream in(tokenFile);
        std::getline(in, options.token);
        while (!options.token.empty() && (options.token.back() == '\r' || options.token.back() == ' ')) {
            options.token.pop_back();
        }
        if (!in || !TokenChars(options.token)) {
            std::cerr << "orvane-web: " << tokenFile
                      << " must hold a token of 16 to 128 letters, digits, '-' or '_'" << std::endl;
            return 2;
        }
    } else {
        options.token = NewToken();
        if (options.token.empty()) {
            std::cerr << "orvane-web: cannot read /dev/urandom for a token" << std::endl;
            return 1;
        }
    }
    if (options.webRoot.empty()) options.webRoot = DefaultWebRoot(argv[0]);
    if (options.baseDirectory.empty()) {
        std::error_code ec;
        options.baseDirectory = LogSingleton::BaseDirectoryFor(std::filesystem::current_path(ec).string());
    }

    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);
    std::signal(SIGPIPE, SIG_IGN);

    // Console commands beside the page, as orvane-frontend --script runs them
    // (scripts/demo.sh drives the controller this way while the page looks on).
    FrontendTrace trace;
    if (!tracePath.empty() && !trace.Open(tracePath)) {
        std::cerr << "orvane-web: cannot write " << tracePath << std::endl;
        return 2;
    }
    FrontendScript::Options scriptOptions;
    scriptOptions.script = true;
    scriptOptions.stepTimeoutS = 30.0;
    scriptOptions.statusEveryS = 0.0;
    std::unique_ptr<FrontendScript> console;
    options.onEvent = [&console](const FrontendClient::Event& e) {
        if (console) console->OnEvent(e);
    };
    options.onStatus = [&trace, &tracePath](const ComStatusTelegram& s) {
        if (!tracePath.empty()) trace.Write(s);
    };
    if (!script) options.onEvent = nullptr;
    options.pollProgram = !script;

    WebServer server(options);
    if (script) console = std::make_unique<FrontendScript>(server.Client(), scriptOptions);
    std::string error;
    if (!server.Start(&error)) {
        std::cerr << "orvane-web: " << error << std::endl;
        return 1;
    }
    std::string host = options.listen.substr(0, options.listen.rfind(':'));
    if (host == "0.0.0.0" || host.empty()) host = "127.0.0.1";
    std::cout << "orvane-web: controller " << options.controllerHost << ":" << options.controllerPort
              << ", page files " << options.webRoot << ", programs "
              << (std::filesystem::path(options.baseDirectory) / "Data" / "Programs").string() << std::endl;
    std::cout << "orvane-web: open http://" << host << ":" << server.Port() << "/?token="
              << options.token << std::endl;
    int status = 0;
    if (script) {
        for (int i = 0; i < 300 && !server.Client().Connected() && !stopRequested; ++i) ::usleep(100000);
        if (!server.Client().Connected()) {
            std::cerr << "orvane-web: cannot connect to the controller" << std::endl;
            server.Stop();
            return FrontendScript::connectionFailed;
        }
        console->Print("connected to " + options.controllerHost + ":" + std::to_string(options.controllerPort));
        std::string line;
        while (!stopRequested && std::getline(std::cin, line)) {
            if (line == "quit" || line == "exit") break;
            console->Print("> " + line);
            if (console->Run(line) != FrontendScript::ok || console->Result() != FrontendScript::ok) break;
        }
        console->Drain(300);
        status = console->Result();
        console->Print("orvane-web: exit " + std::to_string(status));
    } else {
        while (!stopRequested) ::usleep(100000);
    }
    std::cout << "orvane-web: stopping" << std::endl;
    server.Stop();
    return status;
}
