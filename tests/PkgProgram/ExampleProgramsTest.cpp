#include <gtest/gtest.h>
#include <dirent.h>

#include <memory>
#include <string>
#include <vector>

#include "LogSingleton.h"
#include "PkgKinematics/KinematicFactory.h"
#include "PkgKinematics/RobotKinematic.h"
#include "PkgProgram/IPO.h"
#include "support/LogTail.h"

namespace {

const std::string kExamples = std::string(ORVANE_SOURCE_DIR) + "/examples/";

std::vector<std::string> ProgramFiles(const std::string& directory) {
    std::vector<std::string> names;
    DIR* dir = opendir(directory.c_str());
    if (dir == nullptr) return names;
    while (dirent* e = readdir(dir)) {
        const std::string name = e->d_name;
        if (name.size() > 4 && name.substr(name.size() - 4) == ".xml") names.push_back(name);
    }
    closedir(dir);
    return names;
}

// Every program shipped with the sample projects loads.
TEST(ExamplePrograms, EverySampleProgramLoads) {
    LogTail::UsePrivateLog();
    LogSingleton::instance()->SetConsoleEcho(false);
    int loaded = 0;
    DIR* dir = opendir(kExamples.c_str());
    ASSERT_NE(dir, nullptr);
    while (dirent* e = readdir(dir)) {
        const std::string project = e->d_name;
        if (project == "." || project == "..") continue;
        const std::string programs = kExamples + project + "/Data/Programs";
        for (const std::string& name : ProgramFiles(programs)) {
            IPO ipo;
            ipo.SetProgramDirectory(programs);
            EXPECT_EQ(ipo.LoadProgram(name), 0) << project << "/" << name;
            ++loaded;
        }
    }
    closedir(dir);
    EXPECT_GE(loaded, 4);
}

// The showcase runs on the gantry to its end: every element kind, with the
// gantry's own kinematic planning the paths and a second one standing for the
// robot, as in the cycle.
TEST(ExamplePrograms, ShowcaseRunsToItsEndOnTheGantry) {
    LogTail::UsePrivateLog();
    LogSingleton::instance()->SetConsoleEcho(false);
    const std::string base = kExamples + "CartesianV2/Data/";
    std::unique_ptr<RobotKinematic> robot = KinematicFactory::Create("Cartesian");
    ASSERT_NE(robot, nullptr);
    robot->Init("Gantry", "GANTRY", base + "Robots/GANTRY/GANTRY.xml");
    robot->cycleTime = 20.0;

    IPO ipo;
    ipo.SetProgramDirectory(base + "Programs");
    ipo.pathGenerator.SetKinematic(robot->Duplicate());
    ipo.pathGenerator.jointCount = 3;
    ASSERT_EQ(ipo.LoadProgram("Showcase.xml"), 0);
    ASSERT_EQ(ipo.GetProgramCount(), 3);

    DataTypes::RobotState state;
    float start[9] = {0, 0, 0, 0, 0, 0, 0, 0, 0};
    robot->SetJoints(start, false);
    robot->GetPosition(&state);
    state.digitalIn[1] = true;  // din2: the then-branch

    LogTail log;
    ipo.Start();
    int cycles = 0;
    while (ipo.running && cycles < 20000) {
        ipo.GetNextPosition(20, 100.0f, &state);
        ipo.pathGenerator.WaitForWorker();
        robot->SetJoints(state.jointSetPoint, true);
        robot->GetJoints(state.jointSetPoint);
        robot->GetPosition(&state);
        ++cycles;
    }
    EXPECT_TRUE(log.Has("IPO: Program done")) << cycles;
    EXPECT_FALSE(log.Has("PG: aborting interpolation Joint"));
    // Back at the stored start (a1 200, a2 250, a3 50), 20 mm lower.
    EXPECT_NEAR(state.jointSetPoint[0], 200.0f, 0.2f);
    EXPECT_NEAR(state.jointSetPoint[1], 250.0f, 0.2f);
    EXPECT_NEAR(state.jointSetPoint[2], 70.0f, 0.2f);
    EXPECT_FALSE(state.digitalOut[0]);
    EXPECT_TRUE(state.digitalOut[1]);
    EXPECT_FALSE(state.digitalOut[2]);
    EXPECT_TRUE(state.digitalOut[3]);
    EXPECT_TRUE(state.digitalOut[4]);
    const std::vector<MemoryPosition> memory = ipo.GetMemory();
    ASSERT_EQ(memory.size(), 2u);
    EXPECT_FLOAT_EQ(memory[1].value, 5.0f);
}

}  // namespace
