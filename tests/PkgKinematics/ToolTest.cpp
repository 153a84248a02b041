#include "PkgKinematics/Tool.h"

#include <gtest/gtest.h>

#include "ConfigError.h"
#include "LogSingleton.h"
#include "support/TempDir.h"

namespace {

// Points the log's base directory at a temporary directory for one test.
class BaseDirectory {
public:
    BaseDirectory() : saved(LogSingleton::instance()->GetBaseDirectory()) {
        LogSingleton::instance()->SetBaseDirectory(dir.Path() + "/");
    }
    ~BaseDirectory() { LogSingleton::instance()->SetBaseDirectory(saved); }
    // Initialises `tool` from a tool file with this content.
    void Init(Tool& tool, const std::string& xml) const {
        dir.Write("Data/Tools/tool.xml", xml);
        tool.Init("tool.xml");
    }
    TempDir dir;

private:
    std::string saved;
};

std::string ConfigErrorText(Tool& tool, const std::string& name, int* code) {
    try {
        tool.Init(name);
    } catch (const ConfigError& error) {
        *code = error.ExitCode();
        return error.what();
    }
    return "";
}

}  // namespace

TEST(Tool, InitReadsTheToolFile) {
    BaseDirectory base;
    Tool tool;
    base.Init(tool, "<Tool><KINEMATIC MotionMin=\"10\" MotionMax=\"60\" MotionVel=\"5\"/>"
                    "<INTERFACE BusID=\"113\" GearScale=\"-20\" GearZero=\"100\"/></Tool>");
    EXPECT_EQ(tool.GetBusID(), 113);
    EXPECT_FLOAT_EQ(tool.GetGearScale(), -20.0f);
    EXPECT_FLOAT_EQ(tool.GetGearZero(), 100.0f);
    EXPECT_FLOAT_EQ(tool.GetMotionVel(), 5.0f);
    // Target 30 % at start: six steps of 5 %, then hardware 10 + 30 * 0.5.
    for (int i = 0; i < 6; ++i) tool.Update();
    EXPECT_FLOAT_EQ(tool.GetJoint(), 30.0f);
    EXPECT_FLOAT_EQ(tool.GetHWPosition(), 25.0f);
}

TEST(Tool, MissingAttributesKeepDefaultsAndBadVelocityIsRejected) {
    BaseDirectory base;
    Tool tool;
    base.Init(tool, "<Tool><KINEMATIC MotionVel=\"-2\"/><INTERFACE/></Tool>");
    EXPECT_EQ(tool.GetBusID(), 112);
    EXPECT_FLOAT_EQ(tool.GetGearScale(), -10.0f);
    EXPECT_FLOAT_EQ(tool.GetGearZero(), 210.0f);
    EXPECT_FLOAT_EQ(tool.GetMotionVel(), 3.0f);
    EXPECT_FLOAT_EQ(tool.GetMotionMax(), 70.0f);
}

TEST(Tool, FatalToolFileErrors) {
    BaseDirectory base;
    const std::string dir = base.dir.Path() + "/Data/Tools/";
    base.dir.Write("Data/Tools/bad.xml", "<Tool><KINEMATIC></Tool>");
    base.dir.Write("Data/Tools/noroot.xml", "<Gripper/>");
    base.dir.Write("Data/Tools/nokin.xml", "<Tool><INTERFACE/></Tool>");
    base.dir.Write("Data/Tools/noitf.xml", "<Tool><KINEMATIC/></Tool>");
    const struct {
        const char* name;
        std::string message;
    } cases[] = {
        {"none.xml", "Tool: could not find tool ini file: " + dir + "none.xml"},
        {"bad.xml", "Tool: could not read tool ini file XML code correctly: " + dir + "bad.xml"},
        {"noroot.xml", "Tool: line \"Tool\" not found in tool ini file!"},
        {"nokin.xml", "Tool: line \"KINEMATIC\" not found in ini file!"},
        {"noitf.xml", "Tool: line \"INTERFACE\" not found in ini file!"},
    };
    for (const auto& c : cases) {
        Tool tool;
        int code = 0;
        EXPECT_EQ(ConfigErrorText(tool, c.name, &code), c.message);
        EXPECT_EQ(code, 46) << c.name;
    }
}

TEST(Tool, JogStopsAtTheRangeAndUpdateReachesNearTargetsInOneStep) {
    Tool tool;  // constructed defaults: velocity 3, range 0...70
    tool.SetTargetValue(150.0f);
    EXPECT_FLOAT_EQ(tool.GetTargetValue(), 100.0f);
    tool.JogGripper(1.0f);
    EXPECT_FLOAT_EQ(tool.GetTargetValue(), 100.0f);
    tool.SetTargetValue(1.0f);
    tool.JogGripper(-1.0f);
    EXPECT_FLOAT_EQ(tool.GetTargetValue(), 0.0f);

    tool.SetTargetValue(2.0f);
    tool.Update();
    EXPECT_FLOAT_EQ(tool.GetJoint(), 2.0f);
    tool.SetTargetValue(10.0f);
    tool.Update();
    EXPECT_FLOAT_EQ(tool.GetJoint(), 5.0f);
    EXPECT_FLOAT_EQ(tool.GetHWPosition(), 3.5f);
}

TEST(Tool, HardwarePositionSetsTargetAndCurrent) {
    Tool tool;
    tool.SetHWPosition(35.0f);
    EXPECT_FLOAT_EQ(tool.GetJoint(), 50.0f);
    EXPECT_FLOAT_EQ(tool.GetTargetValue(), 50.0f);
    tool.Update();
    EXPECT_FLOAT_EQ(tool.GetHWPosition(), 35.0f);
}
