#include "FrontendScript.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cmath>
#include <fstream>
#include <iostream>
#include <sstream>
#include <thread>

#include "ComMessageParser.h"

namespace {

using Clock = std::chrono::steady_clock;

long long NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch())
        .count();
}

std::vector<std::string> Words(const std::string& line) {
    std::istringstream in(line);
    std::vector<std::string> out;
    std::string w;
    while (in >> w) out.push_back(w);
    return out;
}

std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

bool Number(const std::string& text, double* out) {
    float f = 0.0f;
    if (!ComMessageParser::ToFloat(text, &f)) return false;
    *out = f;
    return true;
}

bool Integer(const std::string& text, int* out) { return ComMessageParser::ToInt(text, 10, out); }

// Longest upload line that still fits the server's 255-character message with
// a three-digit counter.
constexpr std::size_t kMaxUploadLine = 255 - 29 - 3 - 7;

}  // namespace

FrontendScript::FrontendScript(FrontendClient& c, const Options& o) : client(c), options(o) {}

void FrontendScript::Print(const std::string& line) {
    std::lock_guard<std::mutex> lock(printMutex);
    std::cout << line << std::endl;
}

bool FrontendScript::IsErrorMessage(const std::string& text) {
    static const char* const marks[] = {"error", "not found", "refused", "failed",
                                        "could not", "empty", "no program loaded"};
    std::string lower = Lower(text);
    return std::any_of(std::begin(marks), std::end(marks),
                       [&](const char* m) { return lower.find(m) != std::string::npos; });
}

void FrontendScript::OnEvent(const FrontendClient::Event& event) {
    switch (event.kind) {
        case FrontendClient::Event::Kind::Message:
            Print("MESSAGE " + event.text);
            if (IsErrorMessage(event.text)) errorSeen.store(true);
            break;
        case FrontendClient::Event::Kind::Answer:
            Print("ANSWER " + event.text);
            break;
        case FrontendClient::Event::Kind::Closed:
            Print(expectClose.load() ? "connection closed by the controller"
                                     : "ERROR: connection to the controller lost");
            break;
    }
}

void FrontendScript::OnStatus(const ComStatusTelegram& status) {
    if (options.statusEveryS <= 0.0) return;
    long long now = NowMs();
    if (now - lastStatusPrintMs < static_cast<long long>(options.statusEveryS * 1000.0)) return;
    lastStatusPrintMs = now;
    Print(status.ToReadable());
}

FrontendScript::Status FrontendScript::Fail(Status status, const std::string& why) {
    Print("ERROR: " + why);
    if (worst == ok) worst = status;  // the first failure decides
    return status;
}

FrontendScript::Status FrontendScript::Result() const {
    if (!options.script) return worst == connectionFailed ? connectionFailed : ok;
    if (worst != ok) return worst;
    return errorSeen.load() ? controllerError : ok;
}

void FrontendScript::Drain(int ms) {
    FrontendClient::Event event;
    auto end = Clock::now() + std::chrono::milliseconds(ms);
    while (Clock::now() < end) {
        if (!NextEvent(&event, 20) && !client.Connected()) break;
    }
}

FrontendScript::Status FrontendScript::WaitPasses(int passes) {
    // Each status telegram is one pass of the controller's main loop, which
    // takes at most one operator command per pass.
    int target = client.StatusCount() + passes;
    auto end = Clock::now() + std::chrono::milliseconds(TimeoutMs());
    FrontendClient::Event event;
    while (client.StatusCount() < target) {
        if (!client.Connected()) return Fail(connectionFailed, "connection lost");
        if (Clock::now() >= end) return Fail(timedOut, "no status from the controller");
        NextEvent(&event, 10);
    }
    return ok;
}

FrontendScript::Status FrontendScript::SendPaced(const std::string& body) {
    if (!client.Send(body)) return Fail(connectionFailed, "could not send to the controller");
    return WaitPasses(3);
}

bool FrontendScript::Matches(const FrontendClient::Event& event, const std::string& prefix,
                             bool answer) {
    bool kindMatches = answer ? event.kind == FrontendClient::Event::Kind::Answer
                              : event.kind == FrontendClient::Event::Kind::Message;
    bool textMatches = answer ? event.text.compare(0, prefix.size(), prefix) == 0
                              : event.text.find(prefix) != std::string::npos;
    return kindMatches && textMatches;
}

bool FrontendScript::NextEvent(FrontendClient::Event* event, int timeoutMs) {
    if (!client.NextEvent(event, timeoutMs)) return false;
    kept.push_back(*event);
    if (kept.size() > maxKept) kept.pop_front();
    return true;
}

// A match among the kept events is taken together with everything before it, so
// each wait moves forward through the messages in the order they came.
bool FrontendScript::TakeKept(const std::string& prefix, bool answer, std::string* text) {
    for (std::size_t i = 0; i < kept.size(); ++i) {
        if (!Matches(kept[i], prefix, answer)) continue;
        if (text != nullptr) *text = kept[i].text;
        kept.erase(kept.begin(), kept.begin() + static_cast<std::ptrdiff_t>(i) + 1);
        return true;
    }
    return false;
}

FrontendScript::Status FrontendScript::WaitEvent(const std::string& prefix, bool answer,
                                                 std::string* text, double timeoutS) {
    // Answers belong to the request just sent; only operator messages can have
    // come early.
    if (!answer && TakeKept(prefix, answer, text)) return ok;
    auto end = Clock::now() + std::chrono::milliseconds(static_cast<long long>(timeoutS * 1000));
    FrontendClient::Event event;
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
        if (left.count() <= 0) {
            return Fail(timedOut, std::string("timed out waiting for ") +
                                      (answer ? "answer " : "message ") + prefix);
        }
        if (client.NextEvent(&event, static_cast<int>(std::min<long long>(left.count(), 100)))) {
            if (Matches(event, prefix, answer)) {
                kept.clear();  // everything before the match is older than it
                if (text != nullptr) *text = event.text;
                return ok;
            }
            kept.push_back(event);
            if (kept.size() > maxKept) kept.pop_front();
        } else if (!client.Connected()) {
            return Fail(connectionFailed, "connection lost");
        }
    }
}

FrontendScript::Status FrontendScript::Jog(const std::vector<std::string>& args) {
    int axis = 0;
    double percent = 0.0, seconds = 0.0;
    if (args.size() != 4 || !Integer(args[1], &axis) || axis < 1 || axis > 9 ||
        !Number(args[2], &percent) || !Number(args[3], &seconds) || seconds < 0) {
        return Fail(usage, "usage: jog <axis 1-9> <percent> <seconds>");
    }
    float jog[9] = {0, 0, 0, 0, 0, 0, 0, 0, 0};
    jog[axis - 1] = static_cast<float>(percent);
    client.SetJog(jog);
    auto end = Clock::now() + std::chrono::milliseconds(static_cast<long long>(seconds * 1000));
    FrontendClient::Event event;
    while (Clock::now() < end && client.Connected()) NextEvent(&event, 10);
    jog[axis - 1] = 0.0f;
    client.SetJog(jog);
    if (!client.Connected()) return Fail(connectionFailed, "connection lost while jogging");
    return WaitPasses(3);
}

FrontendScript::Status FrontendScript::Upload(const std::vector<std::string>& args) {
    if (args.size() < 2 || args.size() > 3) {
        return Fail(usage, "usage: upload <local file> [<name below Data/>]");
    }
    std::string remote = args.size() == 3 ? args[2] : std::string();
    if (remote.empty()) {
        std::size_t slash = args[1].find_last_of('/');
        remote = "Programs/" + (slash == std::string::npos ? args[1] : args[1].substr(slash + 1));
    }
    std::ifstream in(args[1]);
    if (!in) return Fail(usage, "cannot read " + args[1]);
    std::vector<std::string> lines;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.size() > kMaxUploadLine) {
            return Fail(usage, args[1] + ": line " + std::to_string(lines.size() + 1) +
                                   " is longer than " + std::to_string(kMaxUploadLine) +
                                   " characters");
        }
        lines.push_back(line);
    }
    if (!client.Send("CMD UploadFileInit " + remote + " " + std::to_string(lines.size()))) {
        return Fail(connectionFailed, "could not send to the controller");
    }
    for (const std::string& l : lines) {
        if (!client.Send("CMD UploadFileLine " + l)) {
            return Fail(connectionFailed, "could not send to the controller");
        }
    }
    if (!client.Send("CMD UploadFileFinish")) {
        return Fail(connectionFailed, "could not send to the controller");
    }
    // The server handles one message every few milliseconds.
    double timeout = options.stepTimeoutS + 0.01 * static_cast<double>(lines.size());
    return WaitEvent(remote + " uploaded", false, nullptr, timeout);
}

FrontendScript::Status FrontendScript::WaitReady(double timeoutS) {
    auto end = Clock::now() + std::chrono::milliseconds(static_cast<long long>(timeoutS * 1000));
    FrontendClient::Event event;
    ComStatusTelegram status;
    for (;;) {
        if (client.LatestStatus(&status) && status.errorText == "NoError" && status.kinState == 0) {
            return ok;
        }
        if (!client.Connected()) return Fail(connectionFailed, "connection lost");
        if (Clock::now() >= end) return Fail(timedOut, "controller not ready: " + status.ToReadable());
        NextEvent(&event, 20);
    }
}

FrontendScript::Status FrontendScript::Shutdown(int number) {
    if (number == 99) expectClose.store(true);
    if (!client.Send("SYSTEM Shutdown " + std::to_string(number))) {
        return Fail(connectionFailed, "could not send to the controller");
    }
    if (number != 99) return WaitPasses(3);
    auto end = Clock::now() + std::chrono::milliseconds(TimeoutMs());
    FrontendClient::Event event;
    while (client.Connected()) {
        if (Clock::now() >= end) return Fail(timedOut, "controller did not shut down");
        NextEvent(&event, 20);
    }
    return ok;
}

FrontendScript::Status FrontendScript::Run(const std::string& rawLine) {
    std::vector<std::string> w = Words(rawLine);
    if (w.empty() || w[0][0] == '#') return ok;
    const std::string cmd = Lower(w[0]);
    auto arg = [&](std::size_t i) { return i < w.size() ? w[i] : std::string(); };
    auto needConnection = [&]() -> bool { return client.Connected(); };
    if (cmd == "help") {
        Print(Help());
        return ok;
    }
    if (!needConnection()) return Fail(connectionFailed, "not connected");

    // Commands that become one pending operator command.
    static const std::pair<const char*, const char*> simple[] = {
        {"enable", "CMD Enable"},
        {"disable", "CMD Disable"},
        {"reset", "CMD Reset"},
        {"zero", "CMD SetJointsToZero"},
        {"reference-all", "CMD ReferenceAllJoints"},
        {"start", "CMD StartProgram"},
        {"pause", "CMD PauseProgram"},
        {"stop", "CMD StopProgram"},
        {"clear", "CMD DeleteProgram"},
    };
    for (const auto& s : simple) {
        if (cmd == s.first) return SendPaced(s.second);
    }
    if (cmd == "mode") {
        static const std::pair<const char*, const char*> modes[] = {
            {"joint", "CMD MotionTypeJoint"},
            {"base", "CMD MotionTypeCartBase"},
            {"tool", "CMD MotionTypeCartTool"},
            {"platform", "CMD MotionTypePlatform"}};
        for (const auto& m : modes) {
            if (Lower(arg(1)) == m.first) return SendPaced(m.second);
        }
        return Fail(usage, "usage: mode joint|base|tool|platform");
    }
    if (cmd == "replay") {
        static const char* const names[] = {"single", "repeat", "step"};
        for (int i = 0; i < 3; ++i) {
            if (Lower(arg(1)) == names[i]) {
                return SendPaced("CMD ProgramReplayMode " + std::to_string(i));
            }
        }
        return Fail(usage, "usage: replay single|repeat|step");
    }
    if (cmd == "override") {
        double v = 0;
        if (!Number(arg(1), &v)) return Fail(usage, "usage: override <percent>");
        return SendPaced("CMD Override " + arg(1));
    }
    if (cmd == "reference") {
        int joint = 0;
        if (!Integer(arg(1), &joint)) return Fail(usage, "usage: reference <joint>");
        return SendPaced("CMD ReferenceSingleJoint " + std::to_string(joint));
    }
    if (cmd == "dout") {
        int channel = 0;
        std::string state = Lower(arg(2));
        if (!Integer(arg(1), &channel) || (state != "on" && state != "off")) {
            return Fail(usage, "usage: dout <channel 0-63> on|off");
        }
        return SendPaced("CMD DOUT " + std::to_string(channel) + (state == "on" ? " true" : " false"));
    }
    if (cmd == "jog") return Jog(w);
    if (cmd == "load" || cmd == "delete") {
        if (w.size() != 2) return Fail(usage, "usage: " + cmd + " <program file>");
        return SendPaced((cmd == "load" ? "CMD LoadProgram " : "CMD DeleteProgramFromFileSystem ") +
                         w[1]);
    }
    if (cmd == "upload") return Upload(w);
    if (cmd == "info") {
        if (!client.Send("CMD GetProgramInfo")) return Fail(connectionFailed, "could not send");
        return WaitEvent("INFO ProgramInfo", true, nullptr, options.stepTimeoutS);
    }
    if (cmd == "name") {
        int index = 0;
        if (!Integer(arg(1), &index)) return Fail(usage, "usage: name <index>");
        if (!client.Send("CMD GetProgramName " + std::to_string(index))) {
            return Fail(connectionFailed, "could not send");
        }
        return WaitEvent("INFO ProgramName", true, nullptr, options.stepTimeoutS);
    }
    if (cmd == "wait") {
        double seconds = 0;
        if (!Number(arg(1), &seconds) || seconds < 0) return Fail(usage, "usage: wait <seconds>");
        Drain(static_cast<int>(seconds * 1000));
        return client.Connected() ? ok : Fail(connectionFailed, "connection lost");
    }
    if (cmd == "wait-message") {
        // wait-message <text...> : the rest of the line is the text to wait for.
        std::size_t at = rawLine.find(w[0]) + w[0].size();
        std::string text = rawLine.substr(at);
        text.erase(0, text.find_first_not_of(" \t"));
        if (text.empty()) return Fail(usage, "usage: wait-message <text>");
        return WaitEvent(text, false, nullptr, options.stepTimeoutS);
    }
    if (cmd == "wait-ready") return WaitReady(options.stepTimeoutS);
    if (cmd == "status" || cmd == "check") {
        ComStatusTelegram status;
        if (!client.LatestStatus(&status)) {
            Status s = WaitPasses(1);
            if (s != ok) return s;
            client.LatestStatus(&status);
        }
        Print(status.ToReadable());
        if (cmd == "check" && (status.errorText != "NoError" || status.kinState != 0)) {
            return Fail(controllerError, "controller reports " + status.errorText + ", kinematic " +
                                             ComStatusTelegram::KinStateText(status.kinState));
        }
        return ok;
    }
    if (cmd == "shutdown") {
        int number = 99;
        if (w.size() > 1 && !Integer(arg(1), &number)) return Fail(usage, "usage: shutdown [number]");
        return Shutdown(number);
    }
    if (cmd == "raw") {
        std::size_t at = rawLine.find(w[0]) + w[0].size();
        std::string body = rawLine.substr(at);
        body.erase(0, body.find_first_not_of(" \t"));
        if (!client.Send(body)) return Fail(connectionFailed, "could not send");
        return WaitPasses(3);
    }
    return Fail(usage, "unknown command: " + w[0] + " (try help)");
}

std::string FrontendScript::Help() {
    return "commands:\n"
           "  enable | disable | reset | zero | reference <joint> | reference-all\n"
           "  mode joint|base|tool|platform      override <percent>\n"
           "  jog <axis 1-9> <percent> <seconds> dout <channel> on|off\n"
           "  upload <local file> [<name below Data/>]   (default Programs/<file name>)\n"
           "  load <program> | delete <program> | start | pause | stop | clear\n"
           "  replay single|repeat|step          info | name <index>\n"
           "  status | check | wait <seconds> | wait-ready | wait-message <text>\n"
           "  raw <message body> | shutdown [number] | help | quit";
}
