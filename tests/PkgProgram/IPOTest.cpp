#include "PkgProgram/IPO.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "LogSingleton.h"
#include "PkgProgram/CommandDIO.h"
#include "PkgProgram/CommandJoint.h"
#include "PkgProgram/CommandSub.h"
#include "support/IdentityKinematic.h"
#include "support/LoopbackPorts.h"
#include "support/LogTail.h"
#include "support/TempDir.h"

namespace {

std::string Program(const std::string& body) {
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<Program>\n" + body + "</Program>\n";
}

std::string Out(int channel, bool on = true) {
    return "<Output Channel=\"DOut" + std::to_string(channel) + "\" State=\"" + (on ? "true" : "false") +
           "\"/>\n";
}

std::string Joint(float a1, float a2, float a3, float smooth = 0.0f) {
    char buffer[200];
    std::snprintf(buffer, sizeof buffer,
                  "<Joint a1=\"%g\" a2=\"%g\" a3=\"%g\" velPercent=\"100\" smooth=\"%g\"/>\n", double(a1),
                  double(a2), double(a3), double(smooth));
    return buffer;
}

std::string Shown() { return LogTail::DisplayMessage(); }

class IPOTest : public ::testing::Test {
protected:
    void SetUp() override {
        LogTail::UsePrivateLog();
        LogSingleton::instance()->SetConsoleEcho(false);
        ipo.SetProgramDirectory(dir.Path() + "/Data/Programs");
        ipo.pathGenerator.SetKinematic(&kinematic);
        ipo.pathGenerator.jointCount = 6;
    }
    void Write(const std::string& name, const std::string& content) {
        dir.Write("Data/Programs/" + name, content);
    }
    void Load(const std::string& name, const std::string& body) {
        Write(name, Program(body));
        ASSERT_EQ(ipo.LoadProgram(name), 0);
    }
    // One robot cycle of 10 ms at 100 % override. A path worker started in the
    // cycle is waited for, so every run takes the same number of cycles.
    void Cycle() {
        ipo.GetNextPosition(10, 100.0f, &state);
        ipo.pathGenerator.WaitForWorker();
    }
    // The interpreter's current program and command.
    std::pair<int, int> Where() const { return {ipo.GetCurrentProgram(), ipo.GetCurrentCommand()}; }
    // Cycles until the program is no longer running; returns the cycles taken.
    int RunToEnd(int maxCycles = 20000) {
        int cycles = 0;
        while (ipo.running && cycles < maxCycles) {
            Cycle();
            ++cycles;
        }
        return cycles;
    }

    TempDir dir;
    IdentityKinematic kinematic;
    IPO ipo;
    DataTypes::RobotState state;
};

TEST_F(IPOTest, RunOnceStepsLogicCommandsAndEnds) {
    Load("once.xml", Out(1) + "<Wait Type=\"Time\" Seconds=\"0.05\"/>\n" + Out(3));
    LogTail log;
    ipo.Start();
    EXPECT_TRUE(ipo.running);
    EXPECT_TRUE(log.Has("IPO: Starting program with 3 points, first: CommandDIO"));
    EXPECT_EQ(Shown(), "Starting/Resuming");

    Cycle();
    EXPECT_TRUE(state.digitalOut[0]);
    EXPECT_EQ(ipo.GetCurrentCommand(), 1);
    // 50 ms at 10 ms per cycle: finished in the first cycle whose sum exceeds 50.
    int waitCycles = 0;
    while (ipo.GetCurrentCommand() == 1 && waitCycles < 100) {
        Cycle();
        ++waitCycles;
    }
    EXPECT_EQ(waitCycles, 6);
    EXPECT_FALSE(state.digitalOut[2]);
    Cycle();
    EXPECT_TRUE(state.digitalOut[2]);
    EXPECT_FALSE(ipo.running);
    EXPECT_EQ(ipo.GetCurrentCommand(), -1);
    EXPECT_EQ(Shown(), "Program done");
    EXPECT_TRUE(log.Has("IPO: Program done"));
}

TEST_F(IPOTest, RepeatModeRestartsInTheSameCycle) {
    Load("rep.xml", Out(1) + "<Wait Type=\"Time\" Seconds=\"0\"/>\n" + Out(1, false));
    ipo.runMode = 1;
    LogTail log;
    ipo.Start();
    for (int round = 1; round <= 3; ++round) {
        Cycle();
        EXPECT_TRUE(state.digitalOut[0]);
        Cycle();  // a wait of 0 ms takes one cycle
        Cycle();  // the last command; the program starts over in this cycle
        EXPECT_FALSE(state.digitalOut[0]);
        EXPECT_TRUE(ipo.running);
        EXPECT_EQ(ipo.GetCurrentCommand(), 0);
        EXPECT_EQ(log.Count("IPO: Program done, restarting"), round);
    }
    EXPECT_EQ(Shown(), "Program done, restarting");
    EXPECT_FALSE(log.Has("IPO: Program done"));
}

TEST_F(IPOTest, DeleteAllEmptiesProgramsAndMemory) {
    Load("store.xml", "<Store Type=\"number\" Name=\"runs\" Value=\"4\"/>\n");
    ipo.Start();
    RunToEnd();
    ASSERT_EQ(ipo.GetMemory().size(), 1u);
    // Variables survive further loads and runs.
    Load("other.xml", Out(1));
    EXPECT_EQ(ipo.GetMemory().size(), 1u);
    LogTail log;
    ipo.DeleteAll();
    EXPECT_TRUE(log.Has("IPO:    Deleting All Programs"));
    EXPECT_TRUE(ipo.GetMemory().empty());
    EXPECT_EQ(ipo.GetProgramCount(), 0);
    EXPECT_EQ(ipo.GetCurrentCommand(), -1);
    EXPECT_FALSE(ipo.running);
}

TEST_F(IPOTest, SingleStepPausesAfterEveryCommand) {
    Load("step.xml", Out(1) + Out(2) + Out(3));
    ipo.runMode = 2;
    LogTail log;
    ipo.Start();
    Cycle();
    EXPECT_FALSE(ipo.running);
    EXPECT_EQ(ipo.GetCurrentCommand(), 1);
    EXPECT_EQ(Shown(), "Pausing Program");
    Cycle();  // paused: nothing happens
    EXPECT_FALSE(state.digitalOut[1]);
    ipo.Start();
    EXPECT_TRUE(log.Has("IPO: Resuming program at point 2 of 3"));
    Cycle();
    EXPECT_TRUE(state.digitalOut[1]);
    EXPECT_EQ(ipo.GetCurrentCommand(), 2);
    EXPECT_FALSE(ipo.running);
}

TEST_F(IPOTest, SingleStepPlansOneMotionPerPath) {
    Load("steps.xml", Joint(10, 0, 0, 50) + Joint(20, 0, 0, 50) + Joint(30, 0, 0, 50));
    ipo.runMode = 2;
    ipo.Start();
    Cycle();
    EXPECT_EQ(ipo.pathGenerator.commandCount, 1);
    RunToEnd();
    EXPECT_EQ(ipo.GetCurrentCommand(), 1);
    EXPECT_NEAR(state.jointSetPoint[0], 10.0f, 1e-3);
}

TEST_F(IPOTest, ChainingFollowsSmoothingAndStopsAtLogicCommands) {
    Load("chain.xml", Joint(10, 0, 0, 50) + Joint(20, 0, 0, 0) + Joint(30, 0, 0, 50) + Joint(40, 0, 0, 50) +
                          Out(1) + Joint(50, 0, 0, 50));
    ipo.Start();
    Cycle();
    // The second motion has no smoothing: the path ends with it.
    ASSERT_EQ(ipo.pathGenerator.commandCount, 2);
    EXPECT_EQ(ipo.GetPathCommand(), 0);
    while (ipo.GetCurrentCommand() < 2 && ipo.running) Cycle();
    EXPECT_NEAR(state.jointSetPoint[0], 20.0f, 1e-3);
    // A motion whose predecessor has no smoothing starts a new path; the logic
    // command after the fourth motion ends that path.
    EXPECT_EQ(ipo.GetPathCommand(), 2);
    EXPECT_EQ(ipo.pathGenerator.commandCount, 2);
    EXPECT_EQ(ipo.pathGenerator.commandIndex[1], 3);
    RunToEnd();
    EXPECT_NEAR(state.jointSetPoint[0], 50.0f, 1e-3);
    EXPECT_TRUE(state.digitalOut[0]);
}

TEST_F(IPOTest, ChainHoldsAtMostTenCommandsAndNeverWrapsToCommandZero) {
    std::string body;
    for (int i = 1; i <= 12; ++i) body += Joint(float(i), 0, 0, 50);
    Load("long.xml", body);
    ipo.Start();
    Cycle();
    EXPECT_EQ(ipo.pathGenerator.commandCount, 10);
    RunToEnd();
    EXPECT_NEAR(state.jointSetPoint[0], 12.0f, 1e-3);

    // Hand-linked: 0 -> 1 -> 0. The chain from 0 takes 1 and stops before 0.
    ipo.DeleteAll();
    RobotProgram loop;
    loop.name = "ring";
    for (int i = 0; i < 2; ++i) {
        CommandJoint joint;
        joint.valid = true;
        joint.velocityPercent = 100;
        joint.smoothPercent = 50;
        joint.targetState.jointSetPoint[0] = float(5 * (i + 1));
        joint.successor[0] = 1 - i;
        loop.commands.push_back(joint);
    }
    ipo.AddProgram(loop);
    ipo.Start();
    Cycle();
    EXPECT_EQ(ipo.pathGenerator.commandCount, 2);
    ipo.Stop();
}

TEST_F(IPOTest, JointProgramEndsAtTheFinalTarget) {
    Load("joints.xml", Joint(10, -5, 3, 20) + Joint(15, 5, 0, 20) + Joint(-2, 8, 4, 0));
    ipo.Start();
    const int cycles = RunToEnd();
    EXPECT_LT(cycles, 20000);
    EXPECT_FALSE(ipo.running);
    EXPECT_NEAR(state.jointSetPoint[0], -2.0f, 1e-3);
    EXPECT_NEAR(state.jointSetPoint[1], 8.0f, 1e-3);
    EXPECT_NEAR(state.jointSetPoint[2], 4.0f, 1e-3);
}

TEST_F(IPOTest, MotionAloneInALoopMovesOnEveryPass) {
    Load("relloop.xml", "<Loop Mode=\"Count\" Times=\"3\"/>\n"
                        "<Relative MoType=\"Joint\" a1=\"10\" velPercent=\"100\" smooth=\"0\"/>\n"
                        "<EndLoop/>\n");
    ipo.Start();
    RunToEnd();
    EXPECT_NEAR(state.jointSetPoint[0], 30.0f, 1e-3);
}

TEST_F(IPOTest, LinearTargetFromAVariableIsReadOnTheCycle) {
    Load("var.xml", "<Store Type=\"position\" Name=\"Home\"/>\n" + Joint(10, 20, 30) +
                        "<Linear Source=\"Variable\" VariableName=\"Home\" vel=\"100\" acc=\"50\"/>\n"
                        "<Linear Source=\"Variable\" VariableName=\"Nowhere\" vel=\"100\" acc=\"50\"/>\n");
    // The robot: poses follow the joints as the cycle's kinematic would make them.
    IdentityKinematic robot;
    float start[9] = {4, 5, 6, 0, 0, 0, 0, 0, 0};
    robot.SetJoints(start, false);
    for (int i = 0; i < 9; ++i) state.jointSetPoint[i] = start[i];
    robot.GetPosition(&state);
    LogTail log;
    ipo.Start();
    int cycles = 0;
    float highest = 0.0f;
    while (ipo.running && cycles < 5000) {
        Cycle();
        robot.SetJoints(state.jointSetPoint, true);
        robot.GetPosition(&state);
        highest = std::max(highest, state.jointSetPoint[2]);
        ++cycles;
    }
    EXPECT_NEAR(highest, 30.0f, 0.05f);
    // Back at the stored position, then stopped by the unknown variable.
    EXPECT_NEAR(state.jointSetPoint[0], 4.0f, 0.05f);
    EXPECT_NEAR(state.jointSetPoint[1], 5.0f, 0.05f);
    EXPECT_NEAR(state.jointSetPoint[2], 6.0f, 0.05f);
    EXPECT_TRUE(log.Has("Memory: could not find variable nowhere!"));
    EXPECT_TRUE(log.Has("Logic IPO ERROR: Command: could not find variable"));
    EXPECT_EQ(ipo.GetCurrentCommand(), -1);
}

TEST_F(IPOTest, OverrideScalesPathTime) {
    Load("slow.xml", Joint(10, 0, 0));
    ipo.Start();
    ipo.GetNextPosition(10, 100.0f, &state);  // plans
    ipo.pathGenerator.WaitForWorker();
    ipo.GetNextPosition(10, 50.0f, &state);
    EXPECT_EQ(ipo.GetPathTime(), 5000);
    ipo.GetNextPosition(20, 25.0f, &state);
    EXPECT_EQ(ipo.GetPathTime(), 5000 + 5000);
}

TEST_F(IPOTest, SubProgramReturnsToTheCommandAfterItsCall) {
    Write("sub1.xml", Program(Out(2)));
    Load("caller.xml", Out(1) + "<Sub File=\"sub1.xml\"/>\n" + Out(3));
    LogTail log;
    ipo.Start();
    Cycle();
    Cycle();  // the Sub command
    EXPECT_EQ(Where(), std::make_pair(1, 0));
    EXPECT_TRUE(log.Has("IPO - changing to program 1, from 0, 2"));
    EXPECT_EQ(ipo.GetProgram(1).parentProgram, 0);
    EXPECT_EQ(ipo.GetProgram(1).returnCommand, 2);
    Cycle();  // the sub-program's output, then back
    EXPECT_TRUE(state.digitalOut[1]);
    EXPECT_EQ(Where(), std::make_pair(0, 2));
    Cycle();
    EXPECT_TRUE(state.digitalOut[2]);
    EXPECT_FALSE(ipo.running);
}

TEST_F(IPOTest, ReturnWalksThroughACallerWhoseSubWasLast) {
    Write("inner.xml", Program(Out(3)));
    Write("middle.xml", Program(Out(2) + "<Sub File=\"inner.xml\"/>\n"));
    Load("top.xml", "<Sub File=\"middle.xml\"/>\n" + Out(5));
    ipo.Start();
    for (int i = 0; i < 4; ++i) Cycle();  // Sub, output 2, Sub, output 3 and return
    EXPECT_TRUE(state.digitalOut[2]);
    EXPECT_EQ(Where(), std::make_pair(0, 1));
    Cycle();
    EXPECT_TRUE(state.digitalOut[4]);
    EXPECT_FALSE(ipo.running);

    // When every caller's Sub was its last command, the main program ends.
    ipo.DeleteAll();
    Write("leaf.xml", Program(Out(7)));
    Write("mid.xml", Program("<Sub File=\"leaf.xml\"/>\n"));
    Load("root.xml", "<Sub File=\"mid.xml\"/>\n");
    LogTail log;
    ipo.Start();
    RunToEnd(10);
    EXPECT_TRUE(state.digitalOut[6]);
    EXPECT_EQ(ipo.GetCurrentCommand(), -1);
    EXPECT_EQ(ipo.GetCurrentProgram(), 0);
    EXPECT_TRUE(log.Has("IPO: Program done"));
}

TEST_F(IPOTest, EmptySubProgramReturnsAtOnce) {
    Write("nothing.xml", Program("<Header/>\n"));
    Load("usesempty.xml", "<Sub File=\"nothing.xml\"/>\n" + Out(4));
    ipo.Start();
    EXPECT_LE(RunToEnd(10), 4);
    EXPECT_TRUE(state.digitalOut[3]);
}

TEST_F(IPOTest, UnknownCommandTypeHoldsTheProgram) {
    RobotProgram program;
    program.name = "odd";
    Command odd;
    odd.typeName = "CommandTeleport";
    odd.valid = true;
    odd.successor[0] = 1;
    program.commands.push_back(odd);
    program.commands.push_back(CommandDIO());
    ipo.AddProgram(program);
    LogTail log;
    ipo.Start();
    for (int i = 0; i < 3; ++i) Cycle();
    EXPECT_EQ(log.Count("IPO:    Unknown command!!"), 3);
    EXPECT_TRUE(ipo.running);
    EXPECT_EQ(ipo.GetCurrentCommand(), 0);
}

TEST_F(IPOTest, StartWithoutProgramStaysIdle) {
    LogTail log;
    ipo.Start();
    EXPECT_FALSE(ipo.running);
    EXPECT_EQ(Shown(), "No Program loaded");
    EXPECT_TRUE(log.Has("IPO:    No Program loaded"));
    ipo.AddProgram(RobotProgram());
    ipo.Start();
    EXPECT_FALSE(ipo.running);
}

TEST_F(IPOTest, TextExceptionStopsTheProgram) {
    Load("err.xml", Out(1) + "<MathOperator Function=\"add\" FirstOperand=\"ghost\" SecondOperand=\"1\"/>\n" +
                        Out(2));
    LogTail log;
    ipo.Start();
    Cycle();
    Cycle();
    EXPECT_FALSE(ipo.running);
    EXPECT_EQ(ipo.GetCurrentCommand(), -1);
    EXPECT_TRUE(log.Has("Logic IPO ERROR: Command: could not find variable"));
    EXPECT_TRUE(log.Has("IPO:    Stopping Program"));
    EXPECT_EQ(Shown(), "Logic IPO ERROR: Command: could not find variable");
    EXPECT_FALSE(state.digitalOut[1]);
}

// A path the planner cannot make (here a linear move written without `acc`,
// which reads as 0 %) stops the program with the reason in the log; the robot
// stays where it stands and the commands after it do not run.
TEST_F(IPOTest, PlanningFailureStopsTheProgram) {
    LogSingleton::instance()->SetPathOptimize(true);
    Load("noacc.xml", Out(1) + "<Linear x=\"10\" y=\"0\" z=\"0\" a=\"0\" b=\"0\" c=\"0\" vel=\"100\"/>\n" + Out(2));
    LogTail log;
    ipo.Start();
    const int cycles = RunToEnd(100);
    EXPECT_LT(cycles, 100);
    EXPECT_FALSE(ipo.running);
    EXPECT_EQ(ipo.GetCurrentCommand(), -1);
    EXPECT_TRUE(log.Has("PG: Error in ComputePath: command 1 has an acceleration of 0%"));
    EXPECT_TRUE(log.Has("IPO: no path to command 1 of program 0, stopping"));
    EXPECT_TRUE(log.Has("IPO:    Stopping Program"));
    EXPECT_EQ(Shown(), "IPO: no path to command 1 of program 0, stopping");
    EXPECT_TRUE(state.digitalOut[0]);
    EXPECT_FALSE(state.digitalOut[1]);
    EXPECT_FLOAT_EQ(state.jointSetPoint[0], 0.0f);

    // Started again, it fails the same way rather than hanging.
    ipo.Start();
    EXPECT_LT(RunToEnd(100), 100);
    EXPECT_EQ(log.Count("IPO: no path to command 1 of program 0, stopping"), 2);
}

// The camera client is started before the program runs: the cycle thread,
// stepping the program while Start is still busy, finds it running at the
// Plugin element instead of failing with "not connected". No camera listens
// at the address, so the program then waits for a target.
TEST_F(IPOTest, PluginsAreStartedBeforeTheProgramRuns) {
    const int port = LoopbackPorts::FreeTcp();
    ASSERT_GT(port, 0);
    dir.Write("Data/Plugins/ConfigSmartCameraIFMO2D.xml",
              "<Configuration><Cam0Connection IP=\"127.0.0.1\" Port=\"" + std::to_string(port) +
                  "\"/><Cam0Geometry LookZ=\"-1\" UpX=\"1\"/></Configuration>");
    ipo.pluginManager.Camera().SetConfigDirectory(dir.Path() + "/Data/Plugins");
    Load("cam.xml", "<Store Type=\"position\" Name=\"part\"/>\n<Store Type=\"number\" Name=\"cls\" Value=\"0\"/>\n"
                    "<Plugin PluginName=\"PluginSmartCameraIFMO2D\" VarTargetPos=\"part\" VarModelClass=\"cls\"/>\n");
    LogTail log;
    std::atomic<bool> stop{false};
    std::thread cycle([&] {
        DataTypes::RobotState s;
        while (!stop) {
            ipo.GetNextPosition(10, 100.0f, &s);
            std::this_thread::sleep_for(std::chrono::microseconds(100));
        }
    });
    ipo.Start();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (ipo.running && ipo.GetCurrentCommand() != 2 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    stop = true;
    cycle.join();
    EXPECT_TRUE(ipo.running);
    EXPECT_EQ(ipo.GetCurrentCommand(), 2);
    EXPECT_FALSE(log.Has("Camera not connected"));
    ipo.pluginManager.StopPlugins();
}

TEST_F(IPOTest, ConditionsOnInputsSteerIfAndLoop) {
    Load("cond.xml", "<If Condition=\"din1\"/>\n" + Out(1) + "<Else/>\n" + Out(2) + "<EndIf/>\n" +
                         "<Store Type=\"number\" Name=\"i\" Value=\"0\"/>\n"
                         "<Loop Mode=\"DIn\" Condition=\"i >= 3\"/>\n"
                         "<MathOperator Function=\"add\" FirstOperand=\"i\" SecondOperand=\"1\"/>\n"
                         "<EndLoop/>\n"
                         "<If Condition=\"!din2\"/>\n" +
                         Out(3) + "<EndIf/>\n" + Out(4));
    state.digitalIn[0] = true;
    ipo.Start();
    RunToEnd(100);
    EXPECT_TRUE(state.digitalOut[0]);
    EXPECT_FALSE(state.digitalOut[1]);
    EXPECT_TRUE(state.digitalOut[2]);  // If without Else: then-branch, then on
    EXPECT_TRUE(state.digitalOut[3]);
    const std::vector<MemoryPosition> memory = ipo.GetMemory();
    ASSERT_EQ(memory.size(), 1u);
    EXPECT_FLOAT_EQ(memory[0].value, 3.0f);

    // The other way round: else-branch taken, If without Else skipped.
    for (bool& out : state.digitalOut) out = false;
    state.digitalIn[0] = false;
    state.digitalIn[1] = true;
    ipo.Start();
    RunToEnd(100);
    EXPECT_FALSE(state.digitalOut[0]);
    EXPECT_TRUE(state.digitalOut[1]);
    EXPECT_FALSE(state.digitalOut[2]);
    EXPECT_TRUE(state.digitalOut[3]);
}

TEST_F(IPOTest, PauseKeepsThePlaceAndStopStartsAgainFromTheTop) {
    Write("waitsub.xml", Program("<Loop Mode=\"Count\" Times=\"2\"/>\n<Wait Type=\"Time\" Seconds=\"1\"/>\n"
                                 "<EndLoop/>\n" + Out(6)));
    Load("pausing.xml", Out(1) + "<Sub File=\"waitsub.xml\"/>\n" + Out(2));
    ipo.Start();
    for (int i = 0; i < 10; ++i) Cycle();
    EXPECT_EQ(ipo.GetCurrentProgram(), 1);
    ipo.Pause();
    EXPECT_EQ(Shown(), "Pausing Program");
    EXPECT_FALSE(ipo.running);
    const int kept = ipo.GetCurrentCommand();
    EXPECT_EQ(kept, 1);
    LogTail log;
    ipo.Start();
    EXPECT_TRUE(log.Has("IPO: Resuming program at point 2 of 3"));
    EXPECT_EQ(ipo.GetCurrentProgram(), 1);

    ipo.Stop();
    EXPECT_EQ(Shown(), "Stopping Program");
    EXPECT_EQ(ipo.GetCurrentCommand(), -1);
    ipo.Start();
    EXPECT_EQ(Where(), std::make_pair(0, 0));
    // The sub-program's loop and wait start afresh: 2 x 1000 ms at 10 ms, plus the
    // loop, Sub and output steps.
    const int cycles = RunToEnd();
    EXPECT_EQ(cycles, 1 + 1 + 1 + 2 * (101 + 1) + 1 + 1);
    EXPECT_TRUE(state.digitalOut[5]);
    EXPECT_TRUE(state.digitalOut[1]);
}

TEST_F(IPOTest, TeachWriteAndLoadAgain) {
    const float joints[6] = {1.5f, -2.0f, 3.25f, 4.0f, 5.0f, 6.0f};
    const float grip[3] = {40.0f, 0.0f, 0.0f};
    dir.Write("Data/Programs/readme.txt", "");
    LogTail log;
    ipo.AddCommandJoint(5, 6, joints, 35.0f);
    EXPECT_EQ(Shown(), "Added Joint Motion");
    ipo.AddCommandLinear(4, 100.0f, 50.0f, 300.0f, 10.0f, 20.0f, 30.0f, 50.0f);
    EXPECT_EQ(Shown(), "Added Linear Motion");
    ipo.AddCommandWait(7, 1000);
    ipo.AddCommandDIO(9, 0, true);
    ipo.AddCommandGripper(8, grip);
    EXPECT_EQ(Shown(), "Added Gripper Cmd");
    ipo.AddCommandRelative(0, 1.0f, 2.0f, 3.0f, 4.0f);
    EXPECT_TRUE(log.Has("IPO:     Added joint motion"));
    EXPECT_TRUE(log.Has("IPO:     Added Command Linear: 100.0 50.0 300.0 --  10.0 20.0 30.0  with 75.0 mm/s"));
    EXPECT_TRUE(log.Has("IPO:     Added CommandWait 1000 ms"));
    EXPECT_TRUE(log.Has("IPO:     Added CommandDIO ch: 0 state: 1"));
    EXPECT_TRUE(log.Has("IPO:     Added CommandGripper 40.0"));
    EXPECT_TRUE(log.Has("IPO:     Added relative motion 1.0 2.0 0.0"));
    ASSERT_EQ(ipo.GetProgram(0).commands.size(), 6u);
    EXPECT_EQ(ipo.GetProgram(0).commands[5].relativeMode, 1);

    EXPECT_EQ(ipo.WriteXMLFile(0, "taught.xml"), 6);
    EXPECT_EQ(Shown(), "6 Cmds written");
    EXPECT_TRUE(log.Has("IPO: XML program file written with 6 commands"));
    const std::string text = TempDir::Read(dir.Path() + "/Data/Programs/taught.xml");
    EXPECT_EQ(text.rfind("<?xml version=\"1.0\" encoding=\"utf-8\"?><Program><Joint Nr=", 0), 0u) << text;
    EXPECT_NE(text.find("</Program>"), std::string::npos);
    EXPECT_EQ(text.find("Wait"), std::string::npos);
    EXPECT_EQ(text.find("Output"), std::string::npos);

    ipo.DeleteAll();
    ASSERT_EQ(ipo.LoadProgram("taught.xml"), 0);
    const RobotProgram p = ipo.GetProgram(0);
    ASSERT_EQ(p.commands.size(), 3u);
    EXPECT_EQ(p.commands[0].typeName, "CommandJoint");
    for (int i = 0; i < 6; ++i) EXPECT_NEAR(p.commands[0].targetState.jointSetPoint[i], joints[i], 1e-3);
    EXPECT_NEAR(p.commands[0].velocityPercent, 35.0f, 1e-3);
    EXPECT_EQ(p.commands[1].typeName, "CommandLinear");
    EXPECT_NEAR(p.commands[1].targetState.posCartRobot(0, 3), 100.0f, 1e-3);
    EXPECT_NEAR(p.commands[1].targetState.posCartRobot(2, 3), 300.0f, 1e-3);
    EXPECT_NEAR(p.commands[1].targetState.posC, 30.0f, 1e-3);
    EXPECT_NEAR(p.commands[1].cartVelocity, 75.0f, 1e-3);
    EXPECT_EQ(p.commands[2].typeName, "CommandGripper");
    EXPECT_NEAR(p.commands[2].gripperValues[0], 40.0f, 1e-3);
    EXPECT_EQ(p.commands[0].successor[0], 1);
    EXPECT_EQ(p.commands[1].successor[0], 2);
}

TEST_F(IPOTest, WriteRefusalsAndFailuresAreReported) {
    LogTail log;
    EXPECT_EQ(ipo.WriteXMLFile(0, "x.xml"), 0);
    EXPECT_TRUE(log.Has("IPO:    Cannot write, no Program loaded"));
    EXPECT_EQ(Shown(), "No Program to write");

    const float grip[3] = {10.0f, 0.0f, 0.0f};
    ipo.AddCommandGripper(1, grip);
    EXPECT_EQ(ipo.WriteXMLFile(0, "../escape.xml"), -1);
    EXPECT_EQ(Shown(), "Invalid program name: ../escape.xml");
    EXPECT_EQ(ipo.WriteXMLFile(0, "/tmp/escape.xml"), -1);

    // A failed write reports the failure and leaves no partial file behind.
    dir.Write("Data/Programs/adir.xml/inside", "x");
    EXPECT_EQ(ipo.WriteXMLFile(0, "adir.xml"), -1);
    EXPECT_EQ(Shown(), "Could not write adir.xml");
    std::string listed;
    EXPECT_EQ(ipo.GetFilename(0, &listed), 0);
    ipo.SetProgramDirectory(dir.Path() + "/Data/Missing");
    EXPECT_EQ(ipo.WriteXMLFile(0, "new.xml"), -1);
    EXPECT_TRUE(log.Has("IPO: Could not open program file for writing: " + dir.Path() + "/Data/Missing/new.xml"));
}

TEST_F(IPOTest, DirectoryListingSelectionAndDelete) {
    Write("a.xml", Program(Out(1)));
    Write("b.xml", Program(Out(1)));
    dir.Write("Data/Programs/folder/c.xml", Program(Out(1)));
    std::string name;
    EXPECT_EQ(ipo.GetFilename(0, &name), 2);
    EXPECT_EQ(ipo.GetProgFileCount(), 2);
    std::string other;
    ipo.GetFilename(1, &other);
    EXPECT_TRUE((name == "a.xml" && other == "b.xml") || (name == "b.xml" && other == "a.xml"));
    std::string untouched = "keep";
    EXPECT_EQ(ipo.GetFilename(5, &untouched), 2);
    EXPECT_EQ(untouched, "keep");

    EXPECT_EQ(ipo.GetCurrentProgShowName(), name);
    ipo.ProgShowCntIncrease();
    ipo.ProgShowCntIncrease();  // stays at the last file
    EXPECT_EQ(ipo.GetProgShowIndex(), 1);
    LogTail log;
    ipo.SendCurrentProgShowName();
    EXPECT_TRUE(log.Has("IPO:     Sending selected filename 1: " + other));
    std::string shownFile;
    EXPECT_EQ(LogSingleton::instance()->DisplayGetFilename(&shownFile), 1);
    EXPECT_EQ(shownFile, other);
    ipo.ProgShowCntDecrease();
    ipo.ProgShowCntDecrease();
    EXPECT_EQ(ipo.GetProgShowIndex(), 0);

    EXPECT_EQ(ipo.DeleteProgramFile("a.xml"), 0);
    EXPECT_EQ(Shown(), "Deleted file a.xml");
    EXPECT_TRUE(log.Has("Deleted file a.xml"));
    EXPECT_NE(ipo.DeleteProgramFile("a.xml"), 0);
    EXPECT_EQ(Shown(), "Error: Could not delete file a.xml");
    EXPECT_EQ(ipo.DeleteProgramFile("../b.xml"), -1);
    EXPECT_EQ(ipo.GetFilename(0, &name), 1);
    EXPECT_EQ(name, "b.xml");

    ipo.SetProgramDirectory(dir.Path() + "/nowhere");
    EXPECT_EQ(ipo.GetFilename(0, &name), 0);
    EXPECT_EQ(ipo.GetCurrentProgShowName(), "storage01.xml");
}

TEST_F(IPOTest, ProgramInformationAndDiagnostics) {
    std::string name = "n/a";
    int count = 0, current = 0;
    ipo.GetProgramInformation(&name, &count, &current);
    EXPECT_EQ(name, "n/a");
    Load("info.xml", Out(1) + "<Loop Mode=\"Count\" Times=\"1\"/>\n" + Out(2) + "<EndLoop/>\n");
    ipo.GetProgramInformation(&name, &count, &current);
    EXPECT_EQ(name, "info.xml");
    EXPECT_EQ(count, 3);
    EXPECT_EQ(current, -1);

    LogTail log;
    ipo.PrintCommands(0);
    ipo.PrintCommands(7);  // no such program: only the heading
    EXPECT_EQ(log.Count("PrintCommands: "), 2);
    EXPECT_TRUE(log.Has("IPO: cmd Command DIO 0 to 1 - Pre: 0 - Succ: 1 -2 -2"));
    ipo.TouchUpLastCommand();
    EXPECT_TRUE(log.Has("IPO:     TouchUp - not implemented yet"));
    EXPECT_EQ(Shown(), "Touch up not impl. yet");
}

// The cycle steps while other threads start, stop, load, teach and read back:
// run under ThreadSanitizer, this shows the lock discipline.
TEST_F(IPOTest, OperationsFromOtherThreadsDoNotRaceWithTheCycle) {
    Write("busy.xml", Program("<Loop Mode=\"Count\" Times=\"1000000\"/>\n" + Out(1) + Out(1, false) +
                              "<Store Type=\"number\" Name=\"v\" Value=\"1\"/>\n<EndLoop/>\n"));
    ASSERT_EQ(ipo.LoadProgram("busy.xml"), 0);
    ipo.runMode = 1;
    std::atomic<bool> stop{false};
    std::thread cycle([&] {
        DataTypes::RobotState own;
        while (!stop) {
            if (ipo.running) ipo.GetNextPosition(10, 100.0f, &own);
            std::string name;
            int point = 0, loaded = 0;
            ipo.GetStatus(&name, &point, &loaded);
        }
    });
    const float joints[6] = {0, 0, 0, 0, 0, 0};
    for (int i = 0; i < 30; ++i) {
        ipo.Start();
        ipo.AddCommandJoint(0, 6, joints, 10.0f);
        ipo.Pause();
        ipo.Start();
        EXPECT_EQ(ipo.LoadProgram("busy.xml"), 0);
        ipo.Stop();
        if (i % 10 == 9) {
            ipo.DeleteAll();
            ASSERT_EQ(ipo.LoadProgram("busy.xml"), 0);
        }
        ipo.Start();
    }
    stop = true;
    cycle.join();
    ipo.Stop();
}

}  // namespace
