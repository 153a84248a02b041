#include "PkgPluginManager/CameraIFMO2D.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <string>
#include <thread>

#include "support/LogTail.h"
#include "support/TempDir.h"

using PluginFramework::CameraIFMO2D;

namespace {

const char* kConfig = R"(<?xml version="1.0"?>
<Configuration>
  <Cam0Connection IP="127.0.0.1" Port="%PORT%"/>
  <Cam0Geometry MaxWaitTime="2.5" ScaleX="0.5" ScaleY="0.5" OriginX="100" OriginY="200" OriginZ="800"
                LookX="0" LookY="0" LookZ="-1" UpX="1" UpY="0" UpZ="0" ZDistance="500"/>
</Configuration>
)";

std::string Config(int port) {
    std::string text = kConfig;
    text.replace(text.find("%PORT%"), 6, std::to_string(port));
    return text;
}

int Parse(CameraIFMO2D& cam, const std::string& message) {
    char buffer[CameraIFMO2D::receiveBufferSize];
    std::strncpy(buffer, message.c_str(), sizeof buffer - 1);
    buffer[sizeof buffer - 1] = '\0';
    return cam.ParseMessage(buffer);
}

struct Target {
    bool valid;
    float xyz[3] = {-1, -1, -1};
    float angle = -1;
    int cls = -1;
};

Target Get(CameraIFMO2D& cam) {
    Target t{};
    t.valid = cam.GetTargetPos(t.xyz, &t.angle, &t.cls);
    return t;
}

class CameraParse : public ::testing::Test {
protected:
    void SetUp() override {
        LogTail::UsePrivateLog();
        dir.Write("ConfigSmartCameraIFMO2D.xml", Config(5000));
        cam.SetConfigDirectory(dir.Path());
        ASSERT_EQ(cam.ReadConfigFile(), 0);
    }
    TempDir dir;
    CameraIFMO2D cam;
};

}  // namespace

TEST_F(CameraParse, ConfigurationBuildsTheCameraPose) {
    EXPECT_EQ(cam.ip, "127.0.0.1");
    EXPECT_EQ(cam.port, 5000);
    EXPECT_FLOAT_EQ(cam.maxWaitTime, 2.5f);
    // columns: up, third axis, look, origin
    EXPECT_FLOAT_EQ(cam.cameraPose(0, 0), 1);
    EXPECT_FLOAT_EQ(cam.cameraPose(1, 1), -1);
    EXPECT_FLOAT_EQ(cam.cameraPose(2, 2), -1);
    EXPECT_FLOAT_EQ(cam.cameraPose(0, 3), 100);
    EXPECT_FLOAT_EQ(cam.cameraPose(2, 3), 800);
}

TEST_F(CameraParse, PassMessageGivesTargetThroughThePose) {
    EXPECT_FALSE(Get(cam).valid);
    ASSERT_EQ(Parse(cam, "0000startPASS#0.9#1#3#420#300#45.7#0stop"), 0);
    Target t = Get(cam);
    ASSERT_TRUE(t.valid);
    // camera point (50, 30, 500) -> base (100 + 50, 200 - 30, 800 - 500)
    EXPECT_FLOAT_EQ(t.xyz[0], 150);
    EXPECT_FLOAT_EQ(t.xyz[1], 170);
    EXPECT_FLOAT_EQ(t.xyz[2], 300);
    EXPECT_FLOAT_EQ(t.angle, 45);
    EXPECT_EQ(t.cls, 3);
    // reading does not consume the target
    EXPECT_TRUE(Get(cam).valid);
}

TEST_F(CameraParse, FailShiftedAndUnparsedFields) {
    ASSERT_EQ(Parse(cam, "0000startPASS#0.9#1#3#420#300#45.7#0stop"), 0);
    EXPECT_EQ(Parse(cam, "0000startFAILstop"), -1);
    EXPECT_FALSE(Get(cam).valid);

    ASSERT_EQ(Parse(cam, "0000startPASS#0.9#1#3#420#300#45.7#0stop"), 0);
    EXPECT_EQ(Parse(cam, "x0000startPASS#0.9#1#3#420#300#45.7#0stop"), -2);
    EXPECT_FALSE(Get(cam).valid);
    EXPECT_EQ(Parse(cam, "garbage"), -2);

    // fields that do not parse stay 0: y = 0 and rotation = 0
    ASSERT_EQ(Parse(cam, "0000startPASS#0.9#1#7#420#abc#1#0stop"), 0);
    Target t = Get(cam);
    EXPECT_EQ(t.cls, 7);
    EXPECT_FLOAT_EQ(t.xyz[1], 200 - (0 - 240) * 0.5f);
    EXPECT_FLOAT_EQ(t.angle, 0);
}

TEST_F(CameraParse, BusyGeometryDropsTheResult) {
    ASSERT_EQ(Parse(cam, "0000startPASS#0.9#1#3#420#300#45.7#0stop"), 0);
    cam.geometryBusy = true;
    EXPECT_EQ(Parse(cam, "0000startPASS#0.9#1#9#0#0#10#0stop"), -1);
    cam.geometryBusy = false;
    Target t = Get(cam);
    ASSERT_TRUE(t.valid);  // previous target kept
    EXPECT_EQ(t.cls, 3);
}

TEST_F(CameraParse, ReceivedBytesAreReassembled) {
    std::string msg = "0000startPASS#0.9#1#4#420#300#10#0stop";
    cam.Receive(msg.data(), 10);
    EXPECT_FALSE(Get(cam).valid);
    cam.Receive(msg.data() + 10, int(msg.size()) - 10);
    EXPECT_EQ(Get(cam).cls, 4);

    // several messages in one read: the newest complete one wins
    std::string two = "0000startPASS#0.9#1#5#420#300#10#0stop\r\n0000startPASS#0.9#1#6#420#300#10#0stop\r\n";
    cam.Receive(two.data(), int(two.size()));
    EXPECT_EQ(Get(cam).cls, 6);
    std::string fail = "0000startFAILstop";
    cam.Receive(fail.data(), int(fail.size()));
    EXPECT_FALSE(Get(cam).valid);

    // endless text without a terminator is dropped, later messages still parse
    std::string junk(5000, 'j');
    cam.Receive(junk.data(), int(junk.size()));
    cam.Receive(msg.data(), int(msg.size()));
    EXPECT_EQ(Get(cam).cls, 4);
}

// A FAIL need not end in "stop": it takes the target away as soon as it
// arrives, and the next start ends it, so it never swallows the next PASS.
TEST_F(CameraParse, ResultsWithoutStop) {
    LogTail log;
    auto feed = [&](const std::string& text) { cam.Receive(text.data(), int(text.size())); };
    auto pass = [](int cls) { return "0000startPASS#0.9#1#" + std::to_string(cls) + "#420#300#10#0stop"; };
    feed(pass(4));
    ASSERT_EQ(Get(cam).cls, 4);
    feed("0000startFAIL");
    EXPECT_FALSE(Get(cam).valid);
    feed(pass(5));
    EXPECT_EQ(Get(cam).cls, 5);
    feed("0000sta");  // not yet a start
    EXPECT_TRUE(Get(cam).valid);
    feed("rtFAIL");
    EXPECT_FALSE(Get(cam).valid);
    feed(pass(6) + "0000startFAIL" + pass(7));
    EXPECT_EQ(Get(cam).cls, 7);

    // A PASS cut before its "stop" is no target (its fields may be cut too),
    // also when its last field ends in digits; the next message still counts.
    feed("0000startPASS#0.9#1#8#420#3");
    EXPECT_FALSE(Get(cam).valid);
    feed(pass(9));
    EXPECT_EQ(Get(cam).cls, 9);
    feed("0000startPASS#0.9#1#8#420#300#10#0" + pass(10));
    EXPECT_EQ(Get(cam).cls, 10);
    EXPECT_EQ(log.Count("Camera Client IFM O2D: result without \"stop\" ignored"), 1);
}

TEST(CameraConfig, MissingAndDefectiveFiles) {
    TempDir dir;
    CameraIFMO2D cam;
    cam.SetConfigDirectory(dir.Path());
    EXPECT_EQ(cam.ReadConfigFile(), 1);
    dir.Write("ConfigSmartCameraIFMO2D.xml", "<Configuration><Cam0Connection");
    EXPECT_EQ(cam.ReadConfigFile(), -5);
    dir.Write("ConfigSmartCameraIFMO2D.xml", "<Other/>");
    EXPECT_EQ(cam.ReadConfigFile(), -6);
    dir.Write("ConfigSmartCameraIFMO2D.xml", "<Configuration><Cam0Geometry/></Configuration>");
    EXPECT_EQ(cam.ReadConfigFile(), -8);
    dir.Write("ConfigSmartCameraIFMO2D.xml",
              "<Configuration><Cam0Connection IP=\"127.0.0.1\" Port=\"9\"/></Configuration>");
    EXPECT_EQ(cam.ReadConfigFile(), -8);
    dir.Write("ConfigSmartCameraIFMO2D.xml",
              "<Configuration><Cam0Connection IP=\"127.0.0.1\" Port=\"9\"/><Cam0Geometry/></Configuration>");
    EXPECT_EQ(cam.ReadConfigFile(), 0);
    EXPECT_FLOAT_EQ(cam.scaleX, 1.0f);
    EXPECT_FLOAT_EQ(cam.zDistance, 0.0f);
}

TEST(CameraConfig, NoAddressMeansNoClientThread) {
    TempDir dir;
    CameraIFMO2D cam;
    cam.SetConfigDirectory(dir.Path());
    cam.Start();
    // The thread finds no address and ends by itself.
    for (int i = 0; i < 1000 && cam.IsRunning(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_FALSE(cam.IsRunning());
    EXPECT_FALSE(cam.IsConnected());
    EXPECT_EQ(cam.Stop(), 0);
    // A configuration that appears later is read on the next start.
    dir.Write("ConfigSmartCameraIFMO2D.xml",
              "<Configuration><Cam0Connection IP=\"127.0.0.1\" Port=\"9\"/></Configuration>");
    cam.Start();
    EXPECT_TRUE(cam.IsRunning());
    EXPECT_EQ(cam.Stop(), 0);
}

// Found by fuzzing: a rotation beyond the int range (or NaN) was converted to int
// (undefined), and extreme pixel values overflowed the centre subtraction.
TEST_F(CameraParse, RotationOutOfIntRangeIsRejectedAndExtremePixelsStayFinite) {
    ASSERT_EQ(Parse(cam, "0000startPASS#0.9#1#3#420#300#45.7#0stop"), 0);
    EXPECT_EQ(Parse(cam, "0000startPASS#1.0#1#2#320#240#455555555555555555555555555.0#0.9stop"), -2);
    EXPECT_FALSE(Get(cam).valid);
    EXPECT_EQ(Parse(cam, "0000startPASS#1.0#1#2#320#240#nan#0.9stop"), -2);
    EXPECT_EQ(Parse(cam, "0000startPASS#1.0#1#2#320#240#-1e30#0.9stop"), -2);
    EXPECT_FALSE(Get(cam).valid);

    ASSERT_EQ(Parse(cam, "0000startPASS#1.0#1#2#-2147483648#2147483647#-90#0.9stop"), 0);
    Target t = Get(cam);
    ASSERT_TRUE(t.valid);
    for (float v : t.xyz) EXPECT_TRUE(std::isfinite(v));
    EXPECT_FLOAT_EQ(t.angle, -90);
}
