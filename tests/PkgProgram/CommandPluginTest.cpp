#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "PkgPluginManager/PluginManager.h"
#include "PkgProgram/CommandPlugin.h"
#include "support/ChildProcess.h"
#include "support/ProgramVariables.h"
#include "support/TempDir.h"
#include "support/ThrownText.h"

namespace {

bool WaitFor(const std::function<bool()>& predicate, int timeoutMs)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!predicate()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

class CommandPluginTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        MemoryPosition target;
        target.name = "target";
        target.type = "position";
        target.state.posCartRobot.ABCToMatrix(10.0f, 0.0f, 0.0f);
        target.state.posCartRobot.SetTranslation(1.0f, 2.0f, 3.0f);
        target.state.posCartRobot(3, 3) = 1.0f;
        target.state.posA = 10.0f;
        target.state.posB = 11.0f;
        target.state.posC = 0.0f;
        memory.push_back(target);
        memory.push_back(NumberVariable("cls", 99.0f));

        command.pluginName = "pluginsmartcameraifmo2d";
        command.targetPosVariable = "target";
        command.modelClassVariable = "cls";
        command.memory = &memory;
        command.pluginManager = &manager;
        command.successor[0] = 8;
    }

    // Configures the camera client for a loopback port.
    void Configure(int port)
    {
        dir.Write("ConfigSmartCameraIFMO2D.xml",
                  "<Configuration><Cam0Connection IP=\"127.0.0.1\" Port=\"" +
                      std::to_string(port) +
                      "\"/><Cam0Geometry ScaleX=\"0.5\" ScaleY=\"0.5\" OriginX=\"100\" "
                      "OriginY=\"200\" OriginZ=\"800\" LookZ=\"-1\" UpX=\"1\" "
                      "ZDistance=\"500\"/></Configuration>");
        manager.Camera().SetConfigDirectory(dir.Path());
    }

    TempDir dir;
    PluginFramework::PluginManager manager;
    std::vector<MemoryPosition> memory;
    CommandPlugin command;
    DataTypes::RobotState state;
};

TEST_F(CommandPluginTest, ErrorsStopTheProgramWithTheirTexts)
{
    EXPECT_EQ("PluginManager - Camera not connected!",
              ThrownText([&] { command.Interpolate(10, 100.0f, &state); }));
    command.pluginName = "pluginfoo";
    EXPECT_EQ("PluginManager - Plugin not available!",
              ThrownText([&] { command.Interpolate(10, 100.0f, &state); }));
    command.pluginManager = nullptr;
    EXPECT_EQ("CommandPlugin: plug-ins not available",
              ThrownText([&] { command.Interpolate(10, 100.0f, &state); }));
    command.modelClassVariable = "nothing";
    EXPECT_EQ("Command: could not find variable",
              ThrownText([&] { command.Interpolate(10, 100.0f, &state); }));
    command.modelClassVariable = "cls";
    command.targetPosVariable = "cls";
    EXPECT_EQ("GetFromMemory: wrong var type",
              ThrownText([&] { command.Interpolate(10, 100.0f, &state); }));
    EXPECT_FLOAT_EQ(99.0f, memory[1].value);
}

TEST_F(CommandPluginTest, WithoutTargetRepeatsAndRewritesVariablesWithValuesPassedIn)
{
    Configure(ChildProcess::FreePort());  // nobody listens there
    manager.StartPlugins();
    ASSERT_TRUE(manager.Camera().IsRunning());
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(-1, command.Interpolate(10, 100.0f, &state));
    EXPECT_FLOAT_EQ(-1.0f, memory[1].value);
    EXPECT_FLOAT_EQ(2.0f, memory[0].state.posCartRobot(1, 3));
    EXPECT_FLOAT_EQ(11.0f, memory[0].state.posB);
    manager.StopPlugins();
}

TEST_F(CommandPluginTest, TargetFromCameraSimulatorLandsInVariables)
{
    int port = ChildProcess::FreePort();
    Configure(port);
    ChildProcess sim(std::string(ORVANE_BIN_DIR) + "/orvane-camsim", {"--port", std::to_string(port)});
    ASSERT_TRUE(sim.WaitForOutput("listening", 10000)) << sim.Output();
    manager.StartPlugins();
    ASSERT_TRUE(sim.WaitForOutput("client connected", 15000)) << sim.Output();
    ASSERT_TRUE(WaitFor([&] { return manager.Camera().IsConnected(); }, 10000));
    sim.Write("pass 3 420 300 45.7\n");
    int result = -1;
    ASSERT_TRUE(WaitFor([&] { return (result = command.Interpolate(10, 100.0f, &state)) != -1; },
                        10000));
    EXPECT_EQ(8, result);
    EXPECT_FLOAT_EQ(3.0f, memory[1].value);
    EXPECT_FLOAT_EQ(150.0f, memory[0].state.posCartRobot(0, 3));
    EXPECT_FLOAT_EQ(170.0f, memory[0].state.posCartRobot(1, 3));
    EXPECT_FLOAT_EQ(300.0f, memory[0].state.posCartRobot(2, 3));
    EXPECT_FLOAT_EQ(45.0f, memory[0].state.posA);
    EXPECT_FLOAT_EQ(11.0f, memory[0].state.posB);  // B and C as passed in
    DataTypes::Matrix44 expected;
    expected.ABCToMatrix(45.0f, 11.0f, 0.0f);
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c)
            EXPECT_NEAR(expected(r, c), memory[0].state.posCartRobot(r, c), 1e-6f);
    manager.StopPlugins();
    sim.Write("quit\n");
    EXPECT_EQ(0, sim.Wait(10000));
}

}  // namespace
