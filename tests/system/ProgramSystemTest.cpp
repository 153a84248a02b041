#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <filesystem>
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

std::string Control(int port, const std::string& command) { return SimulatorControl(port).Command(command); }

// Output bits of the I/O module (bus id 0xa0) as the simulator saw them last.
int DioOutputs(int port) {
    std::smatch match;
    const std::string status = Control(port, "status");
    if (!std::regex_search(status, match, std::regex("module 0x[aA]0 [^\\n]* outputs 0x([0-9a-fA-F]+)"))) return -1;
    return std::stoi(match[1].str(), nullptr, 16);
}

// Joint set-point as the simulator received it, in joint units (GearScale 190 counts
// per mm on the gantry sample, GearZero 0).
double JointTarget(int port, int joint) {
    std::smatch match;
    const std::string status = Control(port, "status");
    const std::regex pattern("module 0x[0-9a-fA-F]+ joint " + std::to_string(joint) + " [^\\n]* target (-?[0-9.]+)");
    if (!std::regex_search(status, match, pattern)) return -1e9;
    return std::stod(match[1].str()) / 190.0;
}

}  // namespace

// A program with loops, a conditional wait and a branch on inputs set at the
// simulator, outputs seen at the simulator, a sub-program and linear moves,
// started from the console, runs to its end on the gantry over the loopback bus.
// Gantry: x = a1 - 195, y = a2 - 250, z = 130 - a3.
TEST(ProgramSystem, ProgramRunsAgainstTheSimulatorToItsEnd) {
    ExampleBase base("CartesianV2");  // the gantry
    base.Edit("Data/Projects/CartesianV2.xml", "File=\"Square.xml\" Override=\"40.0\"",
              "File=\"SystemRun.xml\" Override=\"100.0\"");
    base.Program("SystemRun.xml",
                 "<Store Type=\"number\" Name=\"passes\" Value=\"0\"/>\n"
                 "<Joint a1=\"50\" a2=\"50\" a3=\"20\" velPercent=\"100\" smooth=\"0\"/>\n"
                 "<Loop Mode=\"Count\" Times=\"2\"/>\n"
                 "<Linear x=\"-125\" y=\"-180\" z=\"110\" a=\"0\" b=\"0\" c=\"0\" vel=\"100\" acc=\"50\" smooth=\"0\"/>\n"
                 "<Linear x=\"-145\" y=\"-200\" z=\"110\" a=\"0\" b=\"0\" c=\"0\" vel=\"100\" acc=\"50\" smooth=\"0\"/>\n"
                 "<MathOperator Function=\"add\" FirstOperand=\"passes\" SecondOperand=\"1\"/>\n"
                 "<EndLoop/>\n"
                 "<Output Channel=\"DOut21\" State=\"true\"/>\n"
                 "<Wait Type=\"Conditional\" Condition=\"din22\"/>\n"
                 "<If Condition=\"din23\"/>\n"
                 "<Output Channel=\"DOut22\" State=\"true\"/>\n"
                 "<Else/>\n"
                 "<Output Channel=\"DOut23\" State=\"true\"/>\n"
                 "<EndIf/>\n"
                 "<Loop Mode=\"DIn\" Condition=\"passes &gt;= 4\"/>\n"
                 "<MathOperator Function=\"add\" FirstOperand=\"passes\" SecondOperand=\"1\"/>\n"
                 "<EndLoop/>\n"
                 "<Sub File=\"SystemSub.xml\"/>\n");
    base.Program("SystemSub.xml",
                 "<Linear x=\"-115\" y=\"-190\" z=\"100\" a=\"0\" b=\"0\" c=\"0\" vel=\"100\" acc=\"50\" smooth=\"0\"/>\n"
                 "<Output Channel=\"DOut24\" State=\"true\"/>\n");

    SimulatorRun sim;
    ASSERT_NO_FATAL_FAILURE(sim.Start(base.base));
    const int control = sim.controlPort;

    ChildProcess orvane(controller, {}, base.base, {"ORVANE_CAN=udp:" + std::to_string(sim.busPort)});
    ASSERT_TRUE(orvane.WaitForOutput("Keyboard Commands:", 20000)) << orvane.Output();
    ASSERT_NE(orvane.Output().find("IPO: Program: SystemRun.xml (0 of 2) with 14 points"), std::string::npos)
        << orvane.Output();
    orvane.Write("2\n");  // reset and enable the motors
    ASSERT_TRUE(orvane.WaitForOutput("Status: NoError, KinOK", 10000)) << orvane.Output();

    orvane.Write("5\n");  // start the program
    ASSERT_TRUE(orvane.WaitForOutput("IPO: Starting program with 14 points, first: CommandStoreData", 20000))
        << orvane.Output();

    // The moves and the counted loop are done when output 21 shows; the program
    // then waits for input 22.
    int outputs = 0;
    for (int i = 0; i < 300 && !(outputs > 0 && (outputs & 1)); ++i) {
        orvane.WaitForOutput("\x01", 100);  // keeps reading the controller's output for 100 ms
        outputs = DioOutputs(control);
    }
    ASSERT_EQ(outputs, 0x01) << orvane.Output();
    EXPECT_NEAR(JointTarget(control, 0), 50.0, 0.2);
    EXPECT_NEAR(JointTarget(control, 1), 50.0, 0.2);
    orvane.WaitForOutput("\x01", 300);
    EXPECT_EQ(orvane.Output().find("IPO: Program done"), std::string::npos);

    ASSERT_NE(Control(control, "inputs 160 2").find("ok"), std::string::npos);  // din22; din23 stays off
    ASSERT_TRUE(orvane.WaitForOutput("IPO: Program done", 20000)) << orvane.Output();
    const std::string output = orvane.Output();
    EXPECT_NE(output.find("IPO - changing to program 1, from 0, -2"), std::string::npos);
    EXPECT_EQ(output.find("Logic IPO ERROR"), std::string::npos);

    // Outputs 21, 23 (else-branch) and 24 (sub-program); the gantry at the last
    // target. The last frames may still be on their way to the simulator.
    const auto atEnd = [&] {
        return DioOutputs(control) == 0x0d && std::fabs(JointTarget(control, 0) - 80.0) <= 0.2 &&
               std::fabs(JointTarget(control, 1) - 60.0) <= 0.2 && std::fabs(JointTarget(control, 2) - 30.0) <= 0.2;
    };
    for (int i = 0; i < 300 && !atEnd(); ++i) orvane.WaitForOutput("\x01", 100);
    EXPECT_EQ(DioOutputs(control), 0x0d);
    EXPECT_NEAR(JointTarget(control, 0), 80.0, 0.2);
    EXPECT_NEAR(JointTarget(control, 1), 60.0, 0.2);
    EXPECT_NEAR(JointTarget(control, 2), 30.0, 0.2);
    ASSERT_TRUE(orvane.WaitForOutput("Joints: 80.0, 60.0, 30.0", 20000)) << orvane.Output();

    EXPECT_NE(Control(control, "shutdown").find("ok"), std::string::npos);
    EXPECT_EQ(orvane.Wait(10000), 0) << orvane.Output();
}
