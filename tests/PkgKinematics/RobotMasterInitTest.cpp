#include <gtest/gtest.h>

#include "ConfigError.h"
#include "LogSingleton.h"
#include "PkgHardware/HardwareProtocol.h"
#include "PkgKinematics/RobotMaster.h"
#include "support/TempDir.h"

namespace {

std::string ConfigFile(const std::string& bus, const std::string& kinematic, const std::string& rest) {
    return "<Robot>" + bus + "<Joints NrOfJoints=\"3\"/><Joint0 ID=\"16\" GearScale=\"1\" GearZero=\"0\"/>"
           "<Joint1 ID=\"32\" GearScale=\"1\" GearZero=\"0\"/><Joint2 ID=\"48\" GearScale=\"1\" GearZero=\"0\"/>"
           "</BusConfiguration><Referencing/>" + kinematic + "<SoftwareMinMax/><JointVelocities/>" + rest +
           "</Robot>";
}

const std::string goodBus = "<BusConfiguration Protocol=\"VKTCANV2\" CycleTimeMS=\"15\" GapMS=\"0\">";
const std::string goodKin = "<Kinematic Type=\"Cartesian\"/>";

class RobotInit : public ::testing::Test {
protected:
    void SetUp() override {
        saved = LogSingleton::instance()->GetBaseDirectory();
        LogSingleton::instance()->SetBaseDirectory(dir.Path() + "/");
    }
    void TearDown() override {
        LogSingleton::instance()->SetBaseDirectory(saved);
        LogSingleton::instance()->SetPathOptimize(true);
    }
    std::string Path() const { return dir.Path() + "/Data/Robots/R/R.xml"; }
    // Writes the configuration of robot type "R" and initialises a robot with it.
    std::string InitError(const std::string& content, int* code, const std::string& tool = "") {
        dir.Write("Data/Robots/R/R.xml", content);
        RobotMaster robot;
        robot.SetGripperName(tool);
        try {
            robot.Init("r", "R");
        } catch (const ConfigError& error) {
            *code = error.ExitCode();
            return error.what();
        }
        return "";
    }

    TempDir dir;
    std::string saved;
};

}  // namespace

TEST_F(RobotInit, EveryFatalConfigurationError) {
    const std::string bus = "<BusConfiguration Protocol=\"VKTCANV2\" GapMS=\"0\"";
    const struct {
        std::string content;
        int code;
        std::string message;
    } cases[] = {
        {"<Robot><Bus", 46, "RobotMaster: could not read robot ini file XML code correctly: " + Path()},
        {"<Robo/>", 46, "RobotMaster: line Robot not found in robot ini file!"},
        {"<Robot/>", 46, "RobotMaster: line BusConfiguration not found in robot ini file!"},
        {"<Robot><BusConfiguration CycleTimeMS=\"10\"/></Robot>", 46,
         "RobotMaster: attribute Protocol not found in line BusConfiguration of project file!"},
        {"<Robot>" + bus + "/></Robot>", 46,
         "RobotMaster: attribute CycleTimeMS not found in line BusConfiguration of robot ini file!"},
        {"<Robot>" + bus + " CycleTimeMS=\"0\"/></Robot>", 46,
         "RobotMaster: attribute CycleTimeMS not found in line BusConfiguration of robot ini file!"},
        {"<Robot>" + bus + " CycleTimeMS=\"10\"/></Robot>", 46, "RobotMaster: line Kinematic not found in robot ini file!"},
        {"<Robot>" + bus + " CycleTimeMS=\"10\"/><Kinematic/></Robot>", 46,
         "RobotMaster: attribute \"Type\" not found in line \"Kinematic\" of robot ini file!"},
        {ConfigFile(goodBus, "<Kinematic Type=\"Scara\"/>", ""), 54, "RobotMaster: could not recognize robot type Scara"},
        {ConfigFile("<BusConfiguration Protocol=\"CANopen\" CycleTimeMS=\"15\" GapMS=\"0\">", goodKin, ""), 54,
         "RobotMaster: could not recognize protocol type CANopen"},
    };
    int code = 0;
    for (const auto& c : cases) {
        code = 0;
        EXPECT_EQ(InitError(c.content, &code), c.message);
        EXPECT_EQ(code, c.code) << c.message;
    }
    dir.Write("Data/Robots/R/R.xml", "");
    std::remove(Path().c_str());
    RobotMaster robot;
    try {
        robot.Init("r", "R");
        ADD_FAILURE() << "a missing file must be fatal";
    } catch (const ConfigError& error) {
        EXPECT_EQ(error.ExitCode(), 46);
        EXPECT_EQ(std::string(error.what()), "RobotMaster: could not find robot ini file: " + Path());
    }
    // The tool file is read during Init: its errors are fatal too.
    EXPECT_EQ(InitError(ConfigFile(goodBus, goodKin, ""), &code, "none.xml"),
              "Tool: could not find tool ini file: " + dir.Path() + "/Data/Tools/none.xml");
    EXPECT_EQ(code, 46);
}

TEST_F(RobotInit, OptionalElementsKeepDefaults) {
    dir.Write("Data/Robots/R/R.xml", ConfigFile(goodBus, goodKin, ""));
    RobotMaster robot;
    robot.Init("r", "R");
    EXPECT_EQ(robot.GetCycleTime(), 15);
    EXPECT_FALSE(robot.GetDebugMode());
    EXPECT_EQ(robot.GetDisplayPort(), "");
    EXPECT_EQ(robot.GetProtocolType(), "VKTCANV2");
    EXPECT_TRUE(LogSingleton::instance()->GetPathOptimize());
    EXPECT_TRUE(robot.IsLoopRunning());
    EXPECT_FALSE(robot.IsPaused());
    // Start joints: 0, 0, 0 for the gantry's three axes.
    DataTypes::RobotState s;
    robot.GetValues(&s);
    EXPECT_EQ(s.jointSetPoint[0], 0.0f);
    EXPECT_EQ(s.jointSetPoint[3], 70.0f);
}

TEST_F(RobotInit, GripperAndPlatformAreSetUpOnTheBus) {
    dir.Write("Data/Tools/g.xml", "<Tool><KINEMATIC MotionVel=\"4\"/><INTERFACE BusID=\"120\"/></Tool>");
    dir.Write("Data/Robots/R/R.xml",
              ConfigFile(goodBus, goodKin, "<Orvane DebugMode=\"true\" DisplayPort=\"/dev/ttyO2\"/>"));
    RobotMaster robot;
    robot.SetGripperName("g.xml");
    robot.SetPlatformName("Rover150");
    robot.Init("r", "R");
    EXPECT_TRUE(robot.GetDebugMode());
    EXPECT_EQ(robot.GetDisplayPort(), "/dev/ttyO2");
    robot.StopMainLoop();
    EXPECT_EQ(robot.GetTool().GetBusID(), 120);
    EXPECT_FLOAT_EQ(robot.GetTool().GetMotionVel(), 4.0f);
    EXPECT_EQ(robot.GetProtocol()->nrOfGripperJoints, 1);
    EXPECT_EQ(robot.GetProtocol()->nrOfPlatformJoints, 4);
}
