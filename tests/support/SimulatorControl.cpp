#include "support/SimulatorControl.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>

#include "support/LoopbackPorts.h"

std::string SimulatorControl::Command(const std::string& line) const {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return "";
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(uint16_t(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::string reply;
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0) {
        const std::string text = line + "\n";
        if (send(fd, text.data(), text.size(), MSG_NOSIGNAL) == ssize_t(text.size())) {
            timeval timeout{30, 0};
            setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof(timeout));
            char buffer[4096];
            // Bounded: a status reply holds one short line per module.
            while (reply.size() < (1u << 16)) {
                if (reply.size() >= 3 && reply.compare(reply.size() - 3, 3, "ok\n") == 0) break;
                if (reply.find("error") != std::string::npos && reply.back() == '\n') break;
                ssize_t n = read(fd, buffer, sizeof(buffer));
                if (n <= 0) break;
                reply.append(buffer, size_t(n));
            }
        }
    }
    close(fd);
    return reply;
}

std::vector<SimulatorControl::Module> SimulatorControl::Modules() const {
    std::vector<Module> modules;
    std::istringstream lines(Command("status"));
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream in(line);
        std::string word;
        if (!(in >> word) || word != "module") continue;
        Module m;
        std::string id;
        in >> id >> m.kind >> m.index;
        m.busId = int(std::stol(id, nullptr, 0));
        std::string key, value;
        while (in >> key >> value) {
            if (key == "enabled") m.enabled = value == "1";
            if (key == "referenced") m.referenced = value == "1";
            if (key == "counts") m.counts = std::stoll(value);
            if (key == "target") m.target = std::stoll(value);
            if (key == "outputs") m.outputs = int(std::stol(value, nullptr, 0));
            if (key == "inputs") m.inputs = int(std::stol(value, nullptr, 0));
        }
        modules.push_back(m);
    }
    return modules;
}

const SimulatorControl::Module* SimulatorControl::Find(const std::vector<Module>& modules, int busId) {
    for (const Module& m : modules)
        if (m.busId == busId) return &m;
    return nullptr;
}

std::unique_ptr<ChildProcess> SimulatorControl::Launch(const std::string& base, int udpPort,
                                                       const std::vector<std::string>& extra) {
    std::vector<std::string> arguments{"--base", base, "--udp", std::to_string(udpPort), "--control", "0"};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    return std::make_unique<ChildProcess>(std::string(ORVANE_BIN_DIR) + "/orvane-jointsim", arguments);
}

int SimulatorControl::AnnouncedPort(const std::string& simulatorOutput) {
    const std::string marker = "control listening on 127.0.0.1:";
    const size_t at = simulatorOutput.find(marker);
    return at == std::string::npos ? 0 : std::atoi(simulatorOutput.c_str() + at + marker.size());
}

void SimulatorRun::Start(const std::string& base, const std::vector<std::string>& extra, int timeoutMs) {
    busPort = LoopbackPorts::FreeUdpPair();
    ASSERT_GT(busPort, 0);
    process = SimulatorControl::Launch(base, busPort, extra);
    ASSERT_TRUE(process->WaitForOutput("ready\n", timeoutMs)) << process->Output();
    controlPort = SimulatorControl::AnnouncedPort(process->Output());
    ASSERT_GT(controlPort, 0) << process->Output();
}
