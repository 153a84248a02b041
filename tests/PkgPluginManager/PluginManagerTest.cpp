#include "PkgPluginManager/PluginManager.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "LogSingleton.h"
#include "PkgDataTypes/Matrix44.h"
#include "support/ChildProcess.h"
#include "support/TempDir.h"

using PluginFramework::PluginManager;

namespace {

std::string ThrownText(PluginManager& pm, const std::string& name) {
    int cls = 0;
    float pose[16] = {0}, angles[3] = {0}, joints[9] = {0};
    bool din[64] = {false}, dout[64] = {false};
    try {
        pm.ExecutePluginCmdTarget(name, &cls, joints, pose, angles, din, dout);
    } catch (const char* text) {
        return text;
    }
    return "";
}

struct Call {
    int result;
    int cls = -1;
    DataTypes::Matrix44 pose;
    float angles[3] = {0, 11, 22};
};

Call Execute(PluginManager& pm) {
    Call c{};
    float joints[9] = {0};
    bool din[64] = {false}, dout[64] = {false};
    c.result = pm.ExecutePluginCmdTarget("pluginsmartcameraifmo2d", &c.cls, joints, c.pose.m,
                                         c.angles, din, dout);
    return c;
}

template <typename Pred>
bool WaitFor(Pred pred, int timeoutMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!pred()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

}  // namespace

TEST(PluginManagerErrors, UnknownPluginAndCameraNotRunning) {
    PluginManager pm;
    std::string ignored;
    LogSingleton::instance()->DisplayGetMessage(&ignored);
    EXPECT_EQ(ThrownText(pm, "pluginfoo"), "PluginManager - Plugin not available!");
    std::string shown;
    ASSERT_EQ(LogSingleton::instance()->DisplayGetMessage(&shown), 1);
    EXPECT_EQ(shown, "Error! Plugin not available: pluginfoo");
    EXPECT_EQ(ThrownText(pm, "pluginsmartcameraifmo2d"), "PluginManager - Camera not connected!");
    ASSERT_EQ(LogSingleton::instance()->DisplayGetMessage(&shown), 1);
    EXPECT_EQ(shown, "Error! IFM-O2D not connected!");
}

TEST(PluginManagerCamera, TargetsFromTheSimulatorOverLoopback) {
    TempDir dir;
    int port = ChildProcess::FreePort();
    dir.Write("ConfigSmartCameraIFMO2D.xml",
              "<Configuration><Cam0Connection IP=\"127.0.0.1\" Port=\"" + std::to_string(port) +
                  "\"/><Cam0Geometry ScaleX=\"0.5\" ScaleY=\"0.5\" OriginX=\"100\" OriginY=\"200\" "
                  "OriginZ=\"800\" LookZ=\"-1\" UpX=\"1\" ZDistance=\"500\"/></Configuration>");
    PluginManager pm;
    pm.Camera().SetConfigDirectory(dir.Path());
    // The client starts before the camera is switched on and must pick it up.
    pm.StartPlugins();
    ASSERT_TRUE(pm.Camera().IsRunning());
    EXPECT_EQ(Execute(pm).result, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(1200));
    ChildProcess sim(std::string(ORVANE_BIN_DIR) + "/orvane-camsim", {"--port", std::to_string(port)});
    ASSERT_TRUE(sim.WaitForOutput("listening", 10000)) << sim.Output();
    ASSERT_TRUE(sim.WaitForOutput("client connected", 15000)) << sim.Output();
    ASSERT_TRUE(WaitFor([&] { return pm.Camera().IsConnected(); }, 10000));

    sim.Write("pass 3 420 300 45.7\n");
    ASSERT_TRUE(WaitFor([&] { return Execute(pm).result == 1; }, 10000));
    Call first = Execute(pm), second = Execute(pm);
    EXPECT_EQ(first.result, 1);
    EXPECT_EQ(second.result, 1);
    EXPECT_EQ(first.cls, 3);
    EXPECT_FLOAT_EQ(first.pose(0, 3), 150);
    EXPECT_FLOAT_EQ(first.pose(1, 3), 170);
    EXPECT_FLOAT_EQ(first.pose(2, 3), 300);
    EXPECT_FLOAT_EQ(first.angles[0], 45);
    EXPECT_FLOAT_EQ(first.angles[1], 11);  // B and C untouched
    EXPECT_FLOAT_EQ(second.pose(0, 3), first.pose(0, 3));
    EXPECT_EQ(second.cls, first.cls);

    sim.Write("fail\n");
    ASSERT_TRUE(WaitFor([&] { return Execute(pm).result == 0; }, 10000));

    pm.StopPlugins();
    EXPECT_FALSE(pm.Camera().IsRunning());
    sim.Write("quit\n");
    EXPECT_EQ(sim.Wait(10000), 0);
}
