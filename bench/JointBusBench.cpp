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

// Wall time of Disconnect on the UDP loopback transport: the read thread must
// see the stop within one receive time-out, however quiet the bus is.
void BM_UdpDisconnect(benchmark::State& bench) {
    CANInterfacePHYTEC bus;
    bus.SetQuiet(true);
    // The first loopback port pair from 47000 on that is free.
    for (int port = 47000; port < 47200 && !bus.IsConnected(); port += 2) {
        bus.SetTransport("udp:" + std::to_string(port));
        bus.Connect();
    }
    if (!bus.IsConnected()) {
        bench.SkipWithError("no free loopback port pair");
        return;
    }
    for (auto _ : bench) {
        bus.Disconnect();
        bench.PauseTiming();
        bus.Connect();
        usleep(20000);  // the read thread is waiting in its receive, as on a quiet bus
        bench.ResumeTiming();
    }
    bus.Disconnect();
}
BENCHMARK(BM_UdpDisconnect)->UseRealTime()->Unit(benchmark::kMillisecond)->Iterations(20);

}  // namespace
