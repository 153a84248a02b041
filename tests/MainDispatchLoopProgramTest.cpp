#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "MainDispatchLoop.h"
#include "PkgProgram/IPO.h"
#include "support/LogTail.h"
#include "support/RobotFixture.h"
#include "support/TempDir.h"

// The interpreter as the operator reaches it: program codes of the main loop and
// the program branch of the robot cycle.
namespace {

class ProgramCodes : public RobotFixture {
protected:
    void SetUp() override {
        LogTail::UsePrivateLog();
        RobotFixture::SetUp();
        Build();
        for (int i = 0; i < 6; ++i) {
            kin->jointMin[i] = -1000.0f;
            kin->jointMax[i] = 1000.0f;
        }
        robot->ProgramSetPlanningKinematic();  // the planner's copy gets the limits too
        ipo().SetProgramDirectory(dir.Path());
        loop = std::make_unique<MainDispatchLoop>(*robot, snapshot, keyboard, display, frontend);
        loop->SetSleep([](int) {});
    }
    void TearDown() override {
        loop.reset();
        RobotFixture::TearDown();
    }
    IPO& ipo() { return Interpreter(); }
    void Code(int code) {
        keyboard.PostCommand(code);
        loop->Pass();
    }
    void Write(const std::string& name, const std::string& body) {
        dir.Write(name, "<?xml version=\"1.0\"?>\n<Program>\n" + body + "</Program>\n");
    }
    int RunProgram(int maxCycles = 5000) { return RobotFixture::RunProgram(maxCycles); }

    TempDir dir;
    DataTypes::RobotState snapshot;
    OperatorChannel keyboard;
    OperatorChannel display;
    OperatorChannel frontend;
    std::unique_ptr<MainDispatchLoop> loop;
};

TEST_F(ProgramCodes, ReplayModes) {
    Code(8);
    EXPECT_EQ(ipo().runMode, 1);
    Code(9);
    EXPECT_EQ(ipo().runMode, 2);
    Code(7);
    EXPECT_EQ(ipo().runMode, 0);
}

TEST_F(ProgramCodes, StartFromTheConsoleRunsTheProgramInTheCycle) {
    Write("blink.xml", "<Output Channel=\"DOut3\" State=\"true\"/>\n"
                       "<Joint a1=\"12\" a2=\"-4\" a3=\"7\" a4=\"0\" a5=\"0\" a6=\"0\" velPercent=\"100\"/>\n");
    ASSERT_EQ(robot->ProgramLoad("blink.xml"), 0);
    LogTail log;
    Code(2);
    EXPECT_TRUE(ipo().running);
    robot->RunCycleOnce();
    EXPECT_TRUE(State().digitalOut[2]);
    EXPECT_EQ(State().programStatus[1], 2);
    EXPECT_EQ(State().programName, "blink.xml");
    RunProgram();
    EXPECT_TRUE(log.Has("IPO: Program done"));
    robot->RunCycleOnce();
    const DataTypes::RobotState s = State();
    EXPECT_NEAR(s.jointSetPoint[0], 12.0f, 1e-3);
    EXPECT_NEAR(s.jointSetPoint[1], -4.0f, 1e-3);
    EXPECT_NEAR(s.jointSetPoint[2], 7.0f, 1e-3);
    EXPECT_EQ(s.programStatus[0], -1);
    EXPECT_EQ(s.programStatus[2], 0);

    // Pause (3) keeps the point, stop (4) ends the run, delete (5) empties the list.
    Code(62);
    EXPECT_EQ(ipo().runMode, 1);
    EXPECT_TRUE(ipo().running);
    robot->RunCycleOnce();
    Code(3);
    EXPECT_FALSE(ipo().running);
    robot->RunCycleOnce();
    EXPECT_EQ(State().programStatus[2], 2);
    Code(4);
    EXPECT_EQ(ipo().GetCurrentCommand(), -1);
    Code(5);
    EXPECT_EQ(ipo().GetProgramCount(), 0);
    Code(61);
    EXPECT_EQ(ipo().runMode, 0);
    EXPECT_FALSE(ipo().running);
}

TEST_F(ProgramCodes, TeachCodesAppendToProgramZeroAndWriteStorage) {
    robot->RunCycleOnce();
    loop->Pass();  // snapshot of the robot
    Code(52);
    Code(54);
    Code(56);
    Code(50);
    Code(57);
    EXPECT_EQ(DisplayMessage(), "Touch up not impl. yet");
    const RobotProgram program = ipo().GetProgram(0);
    ASSERT_EQ(program.commands.size(), 4u);
    EXPECT_EQ(program.commands[0].typeName, "CommandJoint");
    EXPECT_NEAR(program.commands[0].velocityPercent, robot->GetOverride() * 0.5f, 1e-3);
    EXPECT_EQ(program.commands[1].typeName, "CommandWait");
    EXPECT_EQ(program.commands[1].waitTimeMs, 1000);
    EXPECT_EQ(program.commands[2].typeName, "CommandDIO");
    EXPECT_EQ(program.commands[3].typeName, "CommandLinear");
    Code(83);
    EXPECT_EQ(DisplayMessage(), "4 Cmds written");
    EXPECT_NE(TempDir::Read(dir.Path() + "/storage01.xml").find("<Linear Nr="), std::string::npos);
}

TEST_F(ProgramCodes, SelectionCodesBrowseAndLoadProgramFiles) {
    Write("one.xml", "<Output Channel=\"DOut1\" State=\"true\"/>\n");
    Write("two.xml", "<Output Channel=\"DOut2\" State=\"true\"/>\n");
    std::string first, second;
    ASSERT_EQ(ipo().GetFilename(0, &first), 2);
    ipo().GetFilename(1, &second);
    std::string name;
    Code(84);
    ASSERT_EQ(LogSingleton::instance()->DisplayGetFilename(&name), 1);
    EXPECT_EQ(name, first);
    Code(81);
    LogSingleton::instance()->DisplayGetFilename(&name);
    EXPECT_EQ(name, second);
    Code(82);
    EXPECT_EQ(ipo().GetProgramCount(), 1);
    EXPECT_EQ(ipo().GetLoadedName(), second);
    Code(80);
    LogSingleton::instance()->DisplayGetFilename(&name);
    EXPECT_EQ(name, first);
}

}  // namespace
