#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

#include <fstream>
#include <regex>
#include <string>

#include "support/ChildProcess.h"
#include "support/ExampleBase.h"
#include "support/LoopbackPorts.h"
#include "support/SimulatorControl.h"
#include "support/TempDir.h"

namespace {

const std::string controller = std::string(ORVANE_BIN_DIR) + "/orvane";

int RunToEnd(const ExampleBase& base, std::string* output) {
    ChildProcess child(controller, {}, base.base, {"ORVANE_CAN=udp:1"});
    child.CloseInput();
    int status = child.Wait(20000);
    *output = child.Output();
    return status;
}

}  // namespace

TEST(ControllerSystem, FatalStartUpErrorsEndTheProcessWithTheirCode) {
    std::string output;
    {
        ExampleBase empty("");
        EXPECT_EQ(RunToEnd(empty, &output), 56);
        EXPECT_NE(output.find("Project: front-end file not available, no project to run: " + empty.base +
                              "/VKTFrontend.xml"),
                  std::string::npos)
            << output;
    }
    {
        ExampleBase base("CartesianV2");
        base.Edit("Data/Robots/GANTRY/GANTRY.xml", "Type=\"Cartesian\"", "Type=\"Scara\"");
        EXPECT_EQ(RunToEnd(base, &output), 54);
        EXPECT_NE(output.find("RobotMaster: could not recognize robot type Scara"), std::string::npos) << output;
    }
    {
        ExampleBase base("CartesianV2");
        base.Edit("Data/Projects/CartesianV2.xml", "Override=\"40.0\"", "");
        EXPECT_EQ(RunToEnd(base, &output), 46);
        EXPECT_NE(output.find("Project: attribute \"Override\" not found in line Program of project file!"),
                  std::string::npos)
            << output;
    }
}

// Without any joint module on the bus the controller runs, reports, takes
// console commands and ends in order on SIGTERM.
TEST(ControllerSystem, RunsWithoutModulesAndStopsInOrderOnSigterm) {
    ExampleBase base("CartesianV2");
    const int port = LoopbackPorts::FreeUdpPair();
    ASSERT_GT(port, 0);
    ChildProcess child(controller, {}, base.base, {"ORVANE_CAN=udp:" + std::to_string(port)});
    ASSERT_TRUE(child.WaitForOutput("Keyboard Commands:", 20000)) << child.Output();
    ASSERT_TRUE(child.WaitForOutput("Pos: ", 20000)) << child.Output();
    child.Write("9\n");
    ASSERT_TRUE(child.WaitForOutput("Changing motion mode to ROBOT-CART-BASE", 20000)) << child.Output();
    child.Signal(SIGTERM);
    EXPECT_EQ(child.Wait(10000), 0) << child.Output();
    EXPECT_EQ(OutputMismatch(child.Output(), {"Shutdown done", "Orvane: Exiting...", "RobotMainLoop stopped"},
                             {"ERROR: AddressSanitizer", "WARNING: ThreadSanitizer"}),
              "")
        << child.Output();
}

namespace {

std::string Control(int port, const std::string& command) { return SimulatorControl(port).Command(command); }

// The newest status line's first joint set-point, or nothing yet.
bool LastJointZero(const std::string& output, double* value) {
    static const std::regex pattern("Joints: (-?[0-9]+\\.[0-9]), ");
    bool found = false;
    for (auto it = std::sregex_iterator(output.begin(), output.end(), pattern); it != std::sregex_iterator(); ++it) {
        *value = std::stod((*it)[1].str());
        found = true;
    }
    return found;
}

}  // namespace

// End to end over the UDP loopback bus: the console enables the motors and
// jogs a joint, the status line and the simulated joint show the motion, and
// a shutdown request from the bus ends the controller in order.
TEST(ControllerSystem, JogsAgainstTheSimulatorAndShutsDownOnBusRequest) {
    ExampleBase base("CartesianV2");
    SimulatorRun sim;
    ASSERT_NO_FATAL_FAILURE(sim.Start(base.base));
    const int control = sim.controlPort;

    ChildProcess orvane(controller, {}, base.base, {"ORVANE_CAN=udp:" + std::to_string(sim.busPort)});
    ASSERT_TRUE(orvane.WaitForOutput("Keyboard Commands:", 20000)) << orvane.Output();
    orvane.Write("2\n");
    ASSERT_TRUE(orvane.WaitForOutput("RobotMaster:  Enabling Motors", 20000)) << orvane.Output();
    ASSERT_TRUE(orvane.WaitForOutput("Status: NoError, KinOK", 10000)) << orvane.Output();

    orvane.Write("q\n");  // joint 0 at +10 %: 100 mm/s * 10 % * 40 % override = 4 mm/s
    double joint = 0.0;
    for (int i = 0; i < 100; ++i) {
        orvane.WaitForOutput("\x01", 100);  // reads for 100 ms
        if (LastJointZero(orvane.Output(), &joint) && joint >= 2.0) break;
    }
    EXPECT_GE(joint, 2.0) << orvane.Output();
    const std::string status = Control(control, "status");
    std::smatch match;
    ASSERT_TRUE(std::regex_search(status, match, std::regex("module 0x10 joint 0 enabled 1 .* target (-?[0-9.]+)")))
        << status;
    EXPECT_GT(std::stod(match[1].str()), 1.0) << status;

    orvane.Write("a\n");
    EXPECT_NE(Control(control, "shutdown").find("ok"), std::string::npos);
    EXPECT_EQ(orvane.Wait(30000), 0) << orvane.Output();
    // Acted on in the first status pass (once a second) after the cycle took
    // the request: at most one status line, of a pass already under way, lies
    // between the two. Judged by the order of the log lines, not by a clock.
    const std::string out = orvane.Output();
    const size_t taken = out.find("ProtocolVKTCANV2: Shutdown request stage 2 final");
    const size_t acted = out.find("Orvane: shutdown requested by the joint bus");
    ASSERT_NE(taken, std::string::npos) << out;
    ASSERT_NE(acted, std::string::npos) << out;
    ASSERT_LT(taken, acted) << out;
    int statusLines = 0;
    for (size_t at = out.find("Joints: ", taken); at < acted; at = out.find("Joints: ", at + 1)) ++statusLines;
    EXPECT_LE(statusLines, 1) << out.substr(taken, acted - taken);
    EXPECT_NE(out.find("Shutdown done", acted), std::string::npos) << out;
}
