#include "fault/FaultRig.h"

#include <signal.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>

#include "MainDispatchLoop.h"
#include "e2e/AttachScript.h"
#include "support/LoopbackPorts.h"
#include "support/TempDir.h"

namespace {

using Clock = std::chrono::steady_clock;

const std::string kBin = ORVANE_BIN_DIR;

// Log lines read "HH:MM:SS:mmm     text"; other output (status prints) stays whole.
std::string WithoutStamp(const std::string& line) {
    if (line.size() >= 17 && line[2] == ':' && line[5] == ':' && line[8] == ':' && line.compare(12, 5, "     ") == 0)
        return line.substr(17);
    return line;
}

void SleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

}  // namespace

FaultRig::FaultRig(const std::string& example) : robot(std::make_unique<StagedRobot>(example)) {
    const std::string config =
        TempDir::Read(robot->Base() + "/Data/Robots/" + robot->robotType + "/" + robot->robotType + ".xml");
    std::smatch match;
    if (std::regex_search(config, match, std::regex("CycleTimeMS=\"([0-9]+)\""))) cycleMs = std::stoi(match[1].str());
}

FaultRig::~FaultRig() {
    client.Close();
    Stop();
    // The ChildProcess destructors kill and reap whatever still runs.
    orvane.reset();
    sim.reset();
}

void FaultRig::AddProgram(const std::string& name, const std::string& body) const {
    std::ofstream(robot->Base() + "/Data/Programs/" + name, std::ios::trunc)
        << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Program>\n" << body << "</Program>\n";
}

std::string FaultRig::Start() {
    busPort = LoopbackPorts::FreeUdpPair();
    frontendPort = LoopbackPorts::FreeTcp();
    if (busPort <= 0 || frontendPort <= 0) return "no free loopback ports";

    sim = SimulatorControl::Launch(robot->Base(), busPort);
    if (!sim->WaitForOutput("ready", startMs)) return "simulator did not start:\n" + sim->Output();
    const int controlPort = SimulatorControl::AnnouncedPort(sim->Output());
    if (controlPort <= 0) return "simulator has no control port:\n" + sim->Output();
    control.SetPort(controlPort);
    sim->CloseInput();

    orvane = std::make_unique<ChildProcess>(
        kBin + "/orvane", std::vector<std::string>{}, robot->Base(),
        std::vector<std::string>{"ORVANE_CAN=udp:" + std::to_string(busPort),
                                 "ORVANE_FRONTEND_PORT=" + std::to_string(frontendPort),
                                 "ORVANE_FRONTEND_ADDRESS=127.0.0.1"});
    orvane->CloseInput();
    pumping.store(true);
    pump = std::thread([this] { Pump(); });
    if (!WaitLine("NEX-Server: waiting for client", 0, startMs)) return "controller did not start:\n" + Tail();
    return "";
}

std::string FaultRig::ConnectClient() {
    script = AttachScript(client, false, stepMs);
    // A client that connects while the server restarts after its previous
    // client waits in the listen queue and is reset when the server closes
    // that socket; a front-end then connects again.
    const auto end = Clock::now() + std::chrono::milliseconds(startMs);
    std::string error;
    int attempts = 0;
    while (Clock::now() < end) {
        ++attempts;
        if (!client.Connect("127.0.0.1", frontendPort, startMs, &error)) return "front-end: " + error;
        if (WaitTelegrams(1)) return "";
        client.Close();
        SleepMs(200);
    }
    return "no status telegram from the controller after " + std::to_string(attempts) + " connections";
}

void FaultRig::Pump() {
    // Drains the simulator too, so that a full pipe never blocks it.
    while (pumping.load()) {
        orvane->WaitForOutput("\x01", 10);
        sim->WaitForOutput("\x01", 1);
        sim->TakeOutput();
        TakeLines(orvane->TakeOutput());
        if (!orvane->Running()) orvaneAlive.store(false);
    }
}

void FaultRig::TakeLines(const std::string& text) {
    if (text.empty()) return;
    std::lock_guard<std::mutex> lock(linesMutex);
    partial += text;
    size_t start = 0, end;
    while ((end = partial.find('\n', start)) != std::string::npos) {
        lines.push_back(WithoutStamp(partial.substr(start, end - start)));
        start = end + 1;
    }
    partial.erase(0, start);
}

int FaultRig::EndController() {
    client.Close();
    Stop();
    if (!orvane) return -1;
    // The pump has ended: this thread alone touches the process now.
    orvane->Signal(SIGTERM);
    const int status = orvane->Wait(stepMs);
    TakeLines(orvane->TakeOutput() + "\n");
    orvaneAlive.store(false);
    return status;
}

void FaultRig::Stop() {
    pumping.store(false);
    if (pump.joinable()) pump.join();
}

bool FaultRig::Run(const std::string& line) {
    return script != nullptr && script->Run(line) == FrontendScript::ok;
}

bool FaultRig::Inject(const std::string& command) const {
    const std::string reply = control.Command(command);
    return reply.size() >= 3 && reply.compare(reply.size() - 3, 3, "ok\n") == 0;
}

size_t FaultRig::LineCount() const {
    std::lock_guard<std::mutex> lock(linesMutex);
    return lines.size();
}

std::vector<std::string> FaultRig::LinesFrom(size_t from) const {
    std::lock_guard<std::mutex> lock(linesMutex);
    if (from >= lines.size()) return {};
    return std::vector<std::string>(lines.begin() + long(from), lines.end());
}

bool FaultRig::WaitLine(const std::string& text, size_t from, int limitMs, size_t* at) const {
    const auto end = Clock::now() + std::chrono::milliseconds(limitMs);
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(linesMutex);
            for (size_t i = from; i < lines.size(); ++i) {
                if (lines[i].find(text) != std::string::npos) {
                    if (at != nullptr) *at = i;
                    return true;
                }
            }
            from = lines.size() > from ? lines.size() : from;
        }
        if (Clock::now() > end || !orvaneAlive.load()) return false;
        SleepMs(20);
    }
}

int FaultRig::CountLines(const std::string& text, size_t from) const {
    int count = 0;
    for (const std::string& line : LinesFrom(from))
        if (line.find(text) != std::string::npos) ++count;
    return count;
}

std::string FaultRig::Tail(size_t count) const {
    std::lock_guard<std::mutex> lock(linesMutex);
    std::ostringstream out;
    out << "---- last controller lines:\n";
    for (size_t i = lines.size() > count ? lines.size() - count : 0; i < lines.size(); ++i) out << lines[i] << "\n";
    return out.str();
}

ComStatusTelegram FaultRig::Status() {
    ComStatusTelegram s;
    client.LatestStatus(&s);
    return s;
}

bool FaultRig::WaitStatus(const std::function<bool(const ComStatusTelegram&)>& condition, int limitMs) {
    const auto end = Clock::now() + std::chrono::milliseconds(limitMs);
    for (;;) {
        ComStatusTelegram s;
        if (client.LatestStatus(&s) && condition(s)) return true;
        if (Clock::now() > end || !client.Connected() || !orvaneAlive.load()) return false;
        SleepMs(10);
    }
}

bool FaultRig::WaitTelegrams(int count, int limitMs) {
    const int target = client.StatusCount() + count;
    const auto end = Clock::now() + std::chrono::milliseconds(limitMs);
    while (client.StatusCount() < target) {
        if (Clock::now() > end || !client.Connected()) return false;
        SleepMs(5);
    }
    return true;
}

double FaultRig::SimJoint(size_t joint) const {
    const StagedRobot::Joint& j = robot->joints.at(joint);
    const SimulatorControl::Module* m = nullptr;
    const std::vector<SimulatorControl::Module> modules = control.Modules();
    m = SimulatorControl::Find(modules, j.busId);
    return m != nullptr ? StagedRobot::CountsToJoint(j, m->counts) : 1e9;
}

long long FaultRig::SimFrames(size_t joint) const {
    // "frames" is not decoded by SimulatorControl: read it from the status line.
    const int busId = robot->joints.at(joint).busId;
    std::istringstream status(control.Command("status"));
    std::string line;
    while (std::getline(status, line)) {
        std::istringstream in(line);
        std::string word, id;
        if (!(in >> word >> id) || word != "module" || std::stol(id, nullptr, 0) != busId) continue;
        std::string key, value;
        while (in >> key >> value)
            if (key == "frames") return std::stoll(value);
    }
    return -1;
}

FaultRig::Progress FaultRig::Mark() const { return {LineCount(), SimFrames(0)}; }

std::string FaultRig::CheckCyclePace(const Progress& from, const Progress& to) const {
    const std::vector<std::string> between = LinesFrom(from.line);
    long long statusLines = 0;
    for (size_t i = 0; i + from.line < to.line && i < between.size(); ++i)
        if (between[i].find("Pos: ") != std::string::npos) ++statusLines;
    // Whole status intervals only: the passes before the first line are not known.
    const long long passes = (statusLines - 1) * MainDispatchLoop::statusEvery;
    const long long cycles = to.frames - from.frames;
    if (from.frames < 0 || to.frames < 0) return "the simulator did not report its frames";
    if (passes < MainDispatchLoop::statusEvery) return "too few main-loop passes to judge";
    const double nominal = double(MainDispatchLoop::passSleepMs) / cycleMs;  // cycles per pass, at least
    const double ratio = double(cycles) / double(passes);
    if (ratio >= 0.4 * nominal) return "";
    std::ostringstream problem;
    problem << cycles << " robot cycles in " << passes << " main-loop passes (" << ratio << " a pass, nominal "
            << nominal << ")";
    return problem.str();
}

