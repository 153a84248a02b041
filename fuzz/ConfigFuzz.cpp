// Configuration readers. The first byte picks the reader, the rest is the file
// it reads: robot file (with its kinematic and bus parts), project file,
// front-end file, tool file, camera file, bus configuration of either protocol.
// Fatal configuration errors arrive as ConfigError, as at start-up.
#include <cstdint>
#include <filesystem>
#include <string>

#include "ConfigError.h"
#include "LogSingleton.h"
#include "PkgHardware/BusConfigReader.h"
#include "PkgHardware/ProtocolFactory.h"
#include "PkgKinematics/KinematicFactory.h"
#include "PkgKinematics/RobotMaster.h"
#include "PkgKinematics/Tool.h"
#include "PkgPluginManager/CameraIFMO2D.h"
#include "ProjectManager.h"
#include "support/FuzzSupport.h"

namespace {

// A valid robot and tool that a fuzzed project file can name.
const char* const gantry = R"(<?xml version="1.0" encoding="UTF-8"?>
<Robot>
    <BusConfiguration Protocol="VKTCANV2" CycleTimeMS="20" GapMS="1">
        <Joints NrOfJoints="3"/>
        <Joint0 ID="16" GearScale="190.0" GearZero="0.0"/>
        <Joint1 ID="32" GearScale="190.0" GearZero="0.0"/>
        <Joint2 ID="48" GearScale="190.0" GearZero="0.0"/>
    </BusConfiguration>
    <Referencing Mandatory="false"/>
    <Kinematic Type="Cartesian" lx="500" ly="500" lz="100" xOffset="-195" yOffset="-250" zOffset="130" dirA1="1 0 0" dirA2="0 1 0" dirA3="0 0 -1"/>
    <SoftwareMinMax A1Min="-5" A1Max="500" A2Min="-5" A2Max="500" A3Min="-5" A3Max="300"/>
    <JointVelocities A1="100" A2="100" A3="100"/>
    <Orvane DebugMode="false" DisplayPort="/dev/ttyO1"/>
    <PathGeneration Optimize="true"/>
</Robot>
)";

const char* const gripper = R"(<?xml version="1.0" encoding="UTF-8"?>
<Tool>
    <KINEMATIC MotionMin="0.0" MotionMax="70.0" MotionVel="3.0"/>
    <INTERFACE BusID="112" GearScale="-10.0" GearZero="210.0"/>
</Tool>
)";

void Prepare(const std::string& base) {
    std::filesystem::create_directories(base + "Data/Robots/GANTRY");
    std::filesystem::create_directories(base + "Data/Robots/FUZZ");
    std::filesystem::create_directories(base + "Data/Tools");
    std::filesystem::create_directories(base + "Data/Projects");
    std::filesystem::create_directories(base + "Data/Plugins");
    FuzzSupport::WriteFile(base + "Data/Robots/GANTRY/GANTRY.xml", gantry);
    FuzzSupport::WriteFile(base + "Data/Tools/Gripper2F.xml", gripper);
}

void ReadRobot(const std::string& path) {
    RobotMaster robot;
    robot.ReadConfigFile(path);
    std::unique_ptr<RobotKinematic> kinematic = KinematicFactory::Create(robot.GetKinematicType());
    if (kinematic) kinematic->Init("fuzz", "FUZZ", path);
    std::unique_ptr<HardwareProtocol> protocol = ProtocolFactory::Create(robot.GetProtocolType());
    if (protocol) protocol->Init("fuzz", "FUZZ", path);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string base = FuzzSupport::TempDirectory() + "/";
    static const bool prepared = (Prepare(base), true);
    (void)prepared;
    // Readers may change the shared settings; every input starts from the same ones.
    LogSingleton::instance()->SetBaseDirectory(base);
    LogSingleton::instance()->SetPlcSettings(PlcSettings());
    LogSingleton::instance()->SetPathOptimize(true);

    FuzzSupport::Input input(data, size);
    const int reader = input.Byte() % 7;
    const std::string text = input.Rest();
    try {
        switch (reader) {
            case 0: {
                const std::string path = base + "Data/Robots/FUZZ/FUZZ.xml";
                FuzzSupport::WriteFile(path, text);
                ReadRobot(path);
                break;
            }
            case 1: {
                FuzzSupport::WriteFile(base + "Data/Projects/p.xml", text);
                ProjectManager manager;
                RobotMaster robot;
                robot.SetInitSleep([](int) {});  // assembling a valid project need not wait
                manager.ReadProjectFile("Data/Projects/p.xml", &robot);
                break;
            }
            case 2: {
                FuzzSupport::WriteFile(base + "VKTFrontend.xml", text);
                ProjectManager manager;
                std::string projectFile;
                manager.ReadFrontend(&projectFile);
                break;
            }
            case 3: {
                FuzzSupport::WriteFile(base + "Data/Tools/fuzz.xml", text);
                Tool tool;
                tool.Init("fuzz.xml");
                for (int i = 0; i < 4; ++i) tool.Update();
                break;
            }
            case 4: {
                PluginFramework::CameraIFMO2D camera;
                camera.SetConfigDirectory(base + "Data/Plugins");
                FuzzSupport::WriteFile(camera.ConfigPath(), text);
                camera.ReadConfigFile();
                break;
            }
            default: {
                const std::string path = base + "Data/Robots/FUZZ/bus.xml";
                FuzzSupport::WriteFile(path, text);
                BusConfigReader::Read(path, reader == 5 ? "VKTCAN" : "VKTCANV2", reader == 6);
                break;
            }
        }
    } catch (const ConfigError&) {
    }
    return 0;
}
