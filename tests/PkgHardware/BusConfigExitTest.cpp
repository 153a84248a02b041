// A broken bus part of the robot configuration ends the controller with exit
// status 46 and its message, seen from outside: the real controller binary is
// started in a copy of a sample project.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "support/ChildProcess.h"
#include "support/LoopbackPorts.h"
#include "support/TempDir.h"

namespace {

namespace fs = std::filesystem;

// Copies a sample base directory to <temp>/Orvane (the controller takes its base
// directory from a working directory ending in "Orvane") and edits the robot file.
std::string PrepareBase(const TempDir& dir, const std::string& example, const std::string& robotFile,
                        const std::string& from, const std::string& to) {
    fs::path base = fs::path(dir.Path()) / "Orvane";
    fs::copy(fs::path(ORVANE_SOURCE_DIR) / "examples" / example, base, fs::copy_options::recursive);
    fs::path robot = base / robotFile;
    std::stringstream text;
    text << std::ifstream(robot).rdbuf();
    std::string xml = text.str();
    size_t at = xml.find(from);
    if (at == std::string::npos) return "";
    xml.replace(at, from.size(), to);
    std::ofstream(robot, std::ios::trunc) << xml;
    return base.string();
}

void ExpectExit46(const std::string& base, const std::string& message) {
    ASSERT_FALSE(base.empty());
    int port = LoopbackPorts::FreeUdpPair();
    ChildProcess controller(std::string(ORVANE_BIN_DIR) + "/orvane", {}, base,
                            {"ORVANE_CAN=udp:" + std::to_string(port)});
    controller.CloseInput();
    EXPECT_EQ(controller.Wait(30000), 46) << controller.Output();
    EXPECT_NE(controller.Output().find(message), std::string::npos) << controller.Output();
}

}  // namespace

TEST(BusConfigExit, MissingGapEndsTheControllerWith46) {
    TempDir dir;
    ExpectExit46(PrepareBase(dir, "SixAxisV1", "Data/Robots/ORV6V1/ORV6V1.xml", "GapMS=\"1\"", ""),
                 "ProtocolVKTCAN: attribute GapMS not found in line BusConfiguration of project file!");
}

TEST(BusConfigExit, MissingReferencingEndsTheControllerWith46) {
    TempDir dir;
    ExpectExit46(PrepareBase(dir, "CartesianV2", "Data/Robots/GANTRY/GANTRY.xml", "<Referencing Mandatory=\"false\"/>", ""),
                 "ProtocolVKTCAN: line Referencing not found in project file!");
}
