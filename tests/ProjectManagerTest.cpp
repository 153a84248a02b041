#include "ProjectManager.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "ConfigError.h"
#include "LogSingleton.h"
#include "PkgHardware/HardwareProtocol.h"
#include "PkgKinematics/RobotMaster.h"
#include "support/TempDir.h"

namespace {

const char* const cartesianRobot = R"(<Robot>
  <BusConfiguration Protocol="VKTCANV2" CycleTimeMS="20" GapMS="0">
    <Joints NrOfJoints="3"/>
    <Joint0 ID="16" GearScale="190" GearZero="0"/>
    <Joint1 ID="32" GearScale="190" GearZero="0"/>
    <Joint2 ID="48" GearScale="190" GearZero="0"/>
  </BusConfiguration>
  <Referencing Mandatory="false"/>
  <Kinematic Type="Cartesian"/>
  <SoftwareMinMax/>
  <JointVelocities/>
  <Orvane DebugMode="true" DisplayPort="/dev/ttyO1"/>
  <PathGeneration Optimize="false"/>
</Robot>)";

// A base directory with a Cartesian robot "GANTRY"; the log's base directory
// points at it for the test and the PLC settings are restored afterwards.
class Project : public ::testing::Test {
protected:
    void SetUp() override {
        saved = LogSingleton::instance()->GetBaseDirectory();
        base = dir.Path() + "/";
        LogSingleton::instance()->SetBaseDirectory(base);
        dir.Write("Data/Robots/GANTRY/GANTRY.xml", cartesianRobot);
    }
    void TearDown() override {
        LogSingleton::instance()->SetBaseDirectory(saved);
        LogSingleton::instance()->SetPlcSettings(PlcSettings());
        LogSingleton::instance()->SetPathOptimize(true);
    }
    std::string Frontend(const std::string& text) { return dir.Write("VKTFrontend.xml", text); }
    std::string ProjectFile(const std::string& body, const std::string& name = "p.xml") {
        return dir.Write(name, "<ProjectFile>" + body + "</ProjectFile>");
    }
    // The fatal error of reading project `name`, or "" when it reads.
    std::string Fatal(const std::string& name, int* code) {
        ProjectManager manager;
        RobotMaster robot;
        try {
            manager.ReadProjectFile(name, &robot);
        } catch (const ConfigError& error) {
            *code = error.ExitCode();
            return error.what();
        }
        return "";
    }

    TempDir dir;
    std::string base;
    std::string saved;
};

const std::string robotLine = R"(<Robot Name="g1" Type="GANTRY" Tool="" MobilePlatform=""/>)";
const std::string programLine = R"(<Program File="start.xml" Override="55.5" Repeat="true"/>)";

}  // namespace

TEST_F(Project, FrontendNamesTheProjectFile) {
    ProjectManager manager;
    std::string name;
    EXPECT_EQ(manager.ReadFrontend(&name), ProjectManager::frontendMissing);

    Frontend("<VKTModule><!-- comment --><Other/><StartUp File=\"\\data\\p.xml\" Second=\"x\"/></VKTModule>");
    EXPECT_EQ(manager.ReadFrontend(&name), 0);
    EXPECT_EQ(name, "\\data\\p.xml");
    EXPECT_EQ(ProjectManager::ProjectPath(base, name), base + "data/p.xml");
    EXPECT_EQ(ProjectManager::ProjectPath("/b/", "p.xml"), "/b/p.xml");

    Frontend("<VKTModule><Other/></VKTModule>");
    EXPECT_EQ(manager.ReadFrontend(&name), ProjectManager::frontendNoStartUp);
    Frontend("<Modules/>");
    EXPECT_EQ(manager.ReadFrontend(&name), ProjectManager::frontendNoModule);
    Frontend("<VKTModule><StartUp/></VKTModule>");
    EXPECT_EQ(manager.ReadFrontend(&name), ProjectManager::frontendNoName);
}

TEST_F(Project, FrontendProblemsStopStartUpWithCode56) {
    ProjectManager manager;
    RobotMaster robot;
    const std::string path = base + "VKTFrontend.xml";
    const struct {
        const char* content;  // nullptr: no file
        std::string message;
    } cases[] = {
        {nullptr, "Project: front-end file not available, no project to run: " + path},
        {"<VKTModule><StartUp", "Could not read file VKTFrontend.xml correctly! Aborting! " + path},
        {"<Other/>", "Project: line \"VKTModule\" not found in front-end file " + path},
        {"<VKTModule/>", "Project: line \"StartUp\" not found in line \"VKTModule\" of front-end file " + path},
        {"<VKTModule><StartUp/></VKTModule>",
         "Project: no project file named in line \"StartUp\" of front-end file " + path},
    };
    for (const auto& c : cases) {
        std::filesystem::remove(path);
        if (c.content) Frontend(c.content);
        try {
            manager.OpenProject(&robot);
            ADD_FAILURE() << "no error for " << (c.content ? c.content : "missing file");
        } catch (const ConfigError& error) {
            EXPECT_EQ(error.ExitCode(), 56);
            EXPECT_EQ(std::string(error.what()), c.message);
        }
    }
}

TEST_F(Project, EveryFatalProjectError) {
    const std::string path = base + "p.xml";
    dir.Write("bad.xml", "<ProjectFile><Robot></ProjectFile>");
    dir.Write("root.xml", "<Project/>");
    const struct {
        std::string body;
        int code;
        std::string message;
    } cases[] = {
        {"", 56, "Project: line \"Robot\" not found in project file!"},
        {"<Robot Type=\"GANTRY\"/>" + programLine, 56,
         "Project: attribute \"Name\" not found in line Robot of project file!"},
        {"<Robot Name=\"g\"/>" + programLine, 56,
         "Project: attribute \"Type\" not found in line Robot of project file!"},
        {robotLine, 56, "Project: line \"Program\" not found in project file!"},
        {robotLine + "<Program Override=\"40\"/>", 56,
         "Project: attribute \"File\" not found in line Program of project file!"},
        {robotLine + "<Program File=\"a.xml\"/>", 46,
         "Project: attribute \"Override\" not found in line Program of project file!"},
        {robotLine + "<Program File=\"a.xml\" Override=\"-1\"/>", 46,
         "Project: attribute \"Override\" not found in line Program of project file!"},
        {robotLine + "<Program File=\"a.xml\" Override=\"fast\"/>", 46,
         "Project: attribute \"Override\" not found in line Program of project file!"},
        {"<Robot Name=\"g\" Type=\"NOPE\"/>" + programLine, 46,
         "RobotMaster: could not find robot ini file: " + base + "Data/Robots/NOPE/NOPE.xml"},
    };
    for (const auto& c : cases) {
        ProjectFile(c.body);
        int code = 0;
        EXPECT_EQ(Fatal("p.xml", &code), c.message);
        EXPECT_EQ(code, c.code) << c.message;
    }
    int code = 0;
    EXPECT_EQ(Fatal("none.xml", &code), "Project: could not find project file " + base + "none.xml");
    EXPECT_EQ(code, 56);
    EXPECT_EQ(Fatal("bad.xml", &code), "Project: could not read project file correctly: " + base + "bad.xml");
    EXPECT_EQ(Fatal("root.xml", &code), "Project: line ProjectFile not found in project file!");
}

TEST_F(Project, ReadsRobotProgramModulesAndPlcSettings) {
    ProjectFile(robotLine + programLine +
                R"(<DIOModule ID="160"/><DIOModule/><DIOModule ID="161"/><Other/><DIOModule ID="170"/>
                   <PLCInterface Active="true" AutoConnect="true">
                     <PLCInterfaceIn EnableNumber="1" RequestReferenceNumber="2"/>
                     <PLCInterfaceOut NoFaultNumber="4" ProgramRunningNumber="5" RobotIsReferenced="6"/>
                     <PLCInterfaceRefSequence JointToRef0="2" JointToRef8="1"/>
                   </PLCInterface>)");
    ProjectManager manager;
    RobotMaster robot;
    EXPECT_EQ(manager.ReadProjectFile("/p.xml", &robot), 0);
    EXPECT_EQ(manager.GetStartProgram(), "start.xml");
    EXPECT_FLOAT_EQ(manager.GetStartOverride(), 55.5f);
    EXPECT_TRUE(manager.GetRepeat());
    EXPECT_EQ(manager.GetProjectFilePath(), base + "p.xml");
    EXPECT_EQ(robot.GetRobotName(), "g1");
    EXPECT_EQ(robot.GetKinematicType(), "Cartesian");
    EXPECT_TRUE(robot.IsLoopRunning());
    EXPECT_FALSE(LogSingleton::instance()->GetPathOptimize());
    robot.StopMainLoop();
    EXPECT_EQ(robot.GetProtocol()->nrOfDIOModules, 2);  // 160 and 161; 170 follows another element

    PlcSettings plc = LogSingleton::instance()->GetPlcSettings();
    EXPECT_TRUE(plc.active);
    EXPECT_TRUE(plc.autoConnect);
    EXPECT_EQ(plc.inputs[0], 1);   // enable
    EXPECT_EQ(plc.inputs[1], -1);  // play: attribute missing
    EXPECT_EQ(plc.inputs[2], 2);   // reference request
    EXPECT_EQ(plc.outputs[2], 6);
    EXPECT_EQ(plc.referenceSequence[0], 2);
    EXPECT_EQ(plc.referenceSequence[4], -1);
    EXPECT_EQ(plc.referenceSequence[8], 1);
}

TEST_F(Project, PlcIsInactiveWhenASubElementIsMissing) {
    ProjectFile(robotLine + programLine +
                R"(<PLCInterface Active="true"><PLCInterfaceOut/><PLCInterfaceRefSequence/></PLCInterface>)");
    ProjectManager manager;
    RobotMaster robot;
    manager.ReadProjectFile("p.xml", &robot);
    PlcSettings plc = LogSingleton::instance()->GetPlcSettings();
    EXPECT_FALSE(plc.active);
    EXPECT_EQ(plc.inputs[0], 0);  // whole element missing: initial value
    EXPECT_EQ(plc.outputs[0], -1);
}

TEST_F(Project, StartOverrideIsLimitedToHundred) {
    ProjectFile(robotLine + R"(<Program File="a.xml" Override="250"/>)");
    ProjectManager manager;
    RobotMaster robot;
    manager.ReadProjectFile("p.xml", &robot);
    EXPECT_FLOAT_EQ(manager.GetStartOverride(), 100.0f);
    EXPECT_FALSE(manager.GetRepeat());
}

TEST_F(Project, SetStartProgramKeepsTheRestOfTheFile) {
    const std::string original =
        "<?xml version=\"1.0\"?>\n<!-- plant 4 -->\n<ProjectFile Version=\"2\">\n"
        "    <Robot Name=\"g1\" Type=\"GANTRY\" Tool=\"\" MobilePlatform=\"\"/>\n"
        "    <Program File=\"start.xml\" Override=\"55.5\" Repeat=\"true\"/>\n"
        "    <DIOModule ID=\"160\"/>\n    <Custom a=\"1\">text</Custom>\n</ProjectFile>\n";
    const std::string path = dir.Write("p.xml", original);
    ProjectManager manager;
    RobotMaster robot;
    manager.ReadProjectFile("p.xml", &robot);
    EXPECT_EQ(manager.SetStartProgram("other.xml", 40.0f, false), 0);
    std::string expected = original;
    expected.replace(expected.find("start.xml"), 9, "other.xml");
    EXPECT_EQ(TempDir::Read(path), expected);
    EXPECT_FALSE(std::filesystem::exists(path + ".tmp"));

    // An unreadable project file is reported, and the controller goes on.
    dir.Write("p.xml", "<ProjectFile>");
    EXPECT_EQ(manager.SetStartProgram("x.xml", 40.0f, false), 56);
    EXPECT_EQ(TempDir::Read(path), "<ProjectFile>");
}

// Every sample project under examples/ reads and assembles its robot.
TEST_F(Project, ExampleProjectsAssemble) {
    const std::string examples = std::string(ORVANE_SOURCE_DIR) + "/examples/";
    int count = 0;
    for (const auto& entry : std::filesystem::directory_iterator(examples)) {
        if (!entry.is_directory()) continue;
        ++count;
        LogSingleton::instance()->SetBaseDirectory(entry.path().string() + "/");
        ProjectManager manager;
        RobotMaster robot;
        try {
            manager.OpenProject(&robot);
        } catch (const ConfigError& error) {
            ADD_FAILURE() << entry.path() << ": " << error.what();
            continue;
        }
        EXPECT_TRUE(robot.IsLoopRunning()) << entry.path();
        EXPECT_TRUE(std::filesystem::exists(entry.path() / "Data/Programs" / manager.GetStartProgram()))
            << entry.path();
    }
    EXPECT_EQ(count, 7);
}
