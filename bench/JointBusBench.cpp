// Cost of one protocol cycle without transmission pauses: building and
// sending every module's frame and decoding every newest answer from the
// adapter's table. The robot cycle has a few milliseconds for all of it.

#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "PkgHardware/HardwareProtocolVKTCANV2.h"

namespace {

std::string WriteRobotFile() {
    char dir[] = "/tmp/orvane-bench-XXXXXX";
    if (mkdtemp(dir) == nullptr) return "";
    std::string path = std::string(dir) + "/robot.xml";
    std::ofstream out(path);
    out << "<Robot><BusConfiguration GapMS=\"0\"><Joints NrOfJoints=\"6\"/>";
    for (int i = 0; i < 6; ++i)
        out << "<Joint" << i << " ID=\"" << 16 * (i + 1) << "\" GearScale=\"190\" GearZero=\"0\"/>";
    out << "</BusConfiguration><Referencing/></Robot>";
    return path;
}

void BM_ProtocolV2Cycle(benchmark::State& bench) {
    std::string path = WriteRobotFile();
    HardwareProtocolVKTCANV2 p;
    p.Init("bench", "bench", path);
    p.InitTool(1, 112, -10.0f, 210.0f);
    p.InitPlatform(4);
    p.InitDIOModules(144);
    p.InitDIOModules(148);
    p.InitDIOModules(152);
    long frames = 0;
    p.canInterface.ConnectToSink([&frames](const CANInterfacePHYTEC::Frame&) { frames++; });
    p.Connect();
    unsigned char answer[8] = {0, 0, 0, 0x07, 0xCB, 0, 10, 0x80};
    for (int k = 0; k < p.nrOfModulesTotal; ++k) p.canInterface.InjectFrame(p.modules[k].busId + 1, 8, answer);
    DataTypes::RobotState state;
    long iterations = 0;
    for (auto _ : bench) {
        state.jointSetPoint[0] += 0.001f;
        p.SetJoints(state);
        p.GetJoints(&state);
        benchmark::DoNotOptimize(p.GetErrorShort());
        // Keep the answers fresh so they stay decoded rather than dead.
        if (++iterations % 1000 == 0)
            for (int k = 0; k < p.nrOfModulesTotal; ++k) p.canInterface.InjectFrame(p.modules[k].busId + 1, 8, answer);
    }
    bench.counters["frames/cycle"] = double(frames) / double(iterations > 0 ? iterations : 1);
    p.Disconnect();
    std::remove(path.c_str());
    std::string dir = path.substr(0, path.rfind('/'));
    rmdir(dir.c_str());
}
BENCHMARK(BM_ProtocolV2Cycle);

}  // namespace
