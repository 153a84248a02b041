// orvane-frontend: a console front-end for the controller, for people and
// scripts. See tools/README.md.
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "ComMessageParser.h"
#include "FrontendClient.h"
#include "FrontendScript.h"
#include "FrontendTrace.h"

namespace {

void Usage() {
    std::cerr << "usage: orvane-frontend [--host H] [--port P] [--script] [--timeout S]\n"
                 "                       [--status-every S] [--connect-timeout S] [--trace FILE]\n"
                 "                       [command ...]\n"
                 "Each argument after the options is one command; without any, commands are\n"
                 "read line by line from standard input.\n"
              << FrontendScript::Help() << std::endl;
}

bool Seconds(const char* text, double* out) {
    float f = 0.0f;
    if (!ComMessageParser::ToFloat(text, &f) || f < 0.0f) return false;
    *out = f;
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    std::string host = "127.0.0.1";
    int port = 3920;
    if (const char* env = std::getenv("ORVANE_FRONTEND_PORT")) {
        int p = 0;
        if (ComMessageParser::ToInt(env, 10, &p) && p > 0 && p < 65536) port = p;
    }
    FrontendScript::Options options;
    double connectTimeoutS = 10.0;
    std::string tracePath;
    std::vector<std::string> commands;

    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto value = [&](const char* name) -> const char* {
            if (i + 1 >= argc) {
                std::cerr << "orvane-frontend: " << name << " needs a value" << std::endl;
                std::exit(FrontendScript::usage);
            }
            return argv[++i];
        };
        bool good = true;
        if (a == "--host") {
            host = value("--host");
        } else if (a == "--port") {
            good = ComMessageParser::ToInt(value("--port"), 10, &port) && port > 0 && port < 65536;
        } else if (a == "--script") {
            options.script = true;
        } else if (a == "--timeout") {
            good = Seconds(value("--timeout"), &options.stepTimeoutS);
        } else if (a == "--status-every") {
            good = Seconds(value("--status-every"), &options.statusEveryS);
        } else if (a == "--connect-timeout") {
            good = Seconds(value("--connect-timeout"), &connectTimeoutS);
        } else if (a == "--trace") {
            tracePath = value("--trace");
        } else if (a == "--help" || a == "-h") {
            Usage();
            return FrontendScript::ok;
        } else if (a.compare(0, 2, "--") == 0) {
            good = false;
        } else {
            commands.push_back(a);
        }
        if (!good) {
            std::cerr << "orvane-frontend: bad option " << a << std::endl;
            Usage();
            return FrontendScript::usage;
        }
    }

    FrontendClient client;
    FrontendScript script(client, options);
    client.SetEventPrinter([&script](const FrontendClient::Event& e) { script.OnEvent(e); });
    FrontendTrace trace;
    if (!tracePath.empty() && !trace.Open(tracePath)) {
        std::cerr << "orvane-frontend: cannot write " << tracePath << std::endl;
        return FrontendScript::usage;
    }
    client.SetStatusHook([&script, &trace](const ComStatusTelegram& s) {
        script.OnStatus(s);
        trace.Write(s);
    });

    std::string error;
    if (!client.Connect(host, port, static_cast<int>(connectTimeoutS * 1000), &error)) {
        std::cerr << "orvane-frontend: " << error << std::endl;
        return FrontendScript::connectionFailed;
    }
    script.Print("connected to " + host + ":" + std::to_string(port));

    auto runOne = [&](const std::string& line) -> bool {
        if (line == "quit" || line == "exit") return false;
        script.Print("> " + line);
        FrontendScript::Status s = script.Run(line);
        if (!options.script) return true;
        return s == FrontendScript::ok && script.Result() == FrontendScript::ok;
    };
    if (!commands.empty()) {
        for (const std::string& c : commands) {
            if (!runOne(c)) break;
        }
    } else {
        std::string line;
        while (std::getline(std::cin, line)) {
            if (!runOne(line)) break;
        }
    }
    script.Drain(300);  // late operator messages still count
    client.Close();
    int result = script.Result();
    if (options.script) script.Print("orvane-frontend: exit " + std::to_string(result));
    return result;
}
