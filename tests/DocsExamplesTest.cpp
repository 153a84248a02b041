// The examples of the user documentation (docs/examples/) are files the
// controller really reads, and the pages show them as they are.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "ConfigError.h"
#include "LogSingleton.h"
#include "PkgKinematics/RobotMaster.h"
#include "PkgKinematics/Tool.h"
#include "PkgPluginManager/CameraIFMO2D.h"
#include "PkgProgram/IPO.h"
#include "ProjectManager.h"
#include "support/LogTail.h"
#include "support/TempDir.h"

namespace fs = std::filesystem;

namespace {

const std::string kDocs = std::string(ORVANE_SOURCE_DIR) + "/docs/";
const std::string kBase = kDocs + "examples/";

bool StartsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

// Every XML file under docs/examples/, relative to it, in a stable order.
std::vector<std::string> ExampleFiles() {
    std::vector<std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(kBase)) {
        if (entry.is_regular_file() && entry.path().extension() == ".xml") {
            files.push_back(fs::relative(entry.path(), kBase).generic_string());
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

std::string Joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) text += line + "\n";
    return text;
}

class DocsExample : public ::testing::TestWithParam<std::string> {
protected:
    void SetUp() override {
        LogTail::UsePrivateLog();
        LogSingleton::instance()->SetConsoleEcho(false);
        saved = LogSingleton::instance()->GetBaseDirectory();
        LogSingleton::instance()->SetBaseDirectory(kBase);
    }
    void TearDown() override {
        LogSingleton::instance()->SetBaseDirectory(saved);
        LogSingleton::instance()->SetPlcSettings(PlcSettings());
        LogSingleton::instance()->SetPathOptimize(true);
    }
    // Reads the project (through the front-end file when `project` is empty)
    // and checks that the robot runs and its start program is there.
    void Assemble(const std::string& project) {
        ProjectManager manager;
        RobotMaster robot;
        robot.SetInitSleep([](int) {});
        try {
            if (project.empty()) {
                manager.OpenProject(&robot);
            } else {
                manager.ReadProjectFile(project, &robot);
            }
        } catch (const ConfigError& error) {
            FAIL() << error.what();
        }
        EXPECT_TRUE(robot.IsLoopRunning());
        EXPECT_TRUE(fs::exists(kBase + "Data/Programs/" + manager.GetStartProgram()))
            << manager.GetStartProgram();
    }

private:
    std::string saved;
};

// Programs load, configurations assemble a robot, and each mistake gives the
// log line the first comment of its file names.
TEST_P(DocsExample, IsReadByTheController) {
    const std::string file = GetParam();
    const fs::path path(file);
    LogTail log;
    if (StartsWith(file, "Data/Programs/") || StartsWith(file, "Mistakes/")) {
        IPO ipo;
        ipo.SetProgramDirectory(kBase + path.parent_path().generic_string());
        const int result = ipo.LoadProgram(path.filename().string());
        if (StartsWith(file, "Data/Programs/")) {
            EXPECT_EQ(result, 0) << Joined(log.Lines());
            return;
        }
        std::ifstream in(kBase + file);
        std::stringstream text;
        text << in.rdbuf();
        std::smatch expected;
        const std::string content = text.str();
        ASSERT_TRUE(std::regex_search(content, expected, std::regex("<!-- Log: (.*) -->")));
        EXPECT_TRUE(log.Has(expected[1].str())) << expected[1] << "\n" << Joined(log.Lines());
    } else if (file == "VKTFrontend.xml") {
        Assemble("");
    } else if (StartsWith(file, "Data/Projects/")) {
        Assemble(file);
    } else if (StartsWith(file, "Data/Robots/")) {
        // Data/Robots/T/T.xml: the robot type T alone, without gripper or platform.
        const std::string type = path.stem().string();
        ASSERT_EQ(file, "Data/Robots/" + type + "/" + type + ".xml");
        RobotMaster robot;
        robot.SetInitSleep([](int) {});
        EXPECT_NO_THROW(robot.Init(type, type));
        EXPECT_TRUE(robot.IsLoopRunning());
    } else if (StartsWith(file, "Data/Tools/")) {
        Tool tool;
        EXPECT_NO_THROW(tool.Init(path.filename().string()));
    } else if (StartsWith(file, "Data/Plugins/")) {
        PluginFramework::CameraIFMO2D camera;
        camera.SetConfigDirectory(kBase + "Data/Plugins");
        EXPECT_EQ(camera.ReadConfigFile(), 0) << Joined(log.Lines());
    } else {
        FAIL() << "no check for this kind of example: " << file;
    }
}

std::string TestName(const ::testing::TestParamInfo<std::string>& info) {
    std::string name = info.param;
    for (char& c : name) {
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    }
    return name;
}

INSTANTIATE_TEST_SUITE_P(Docs, DocsExample, ::testing::ValuesIn(ExampleFiles()), TestName);

// Every ```xml block of the pages names its file in the line before it
// ("... `docs/examples/NAME`:") and shows whole lines of that file; so does
// any other block whose line before names a file (the session transcript).
TEST(DocsPages, XmlBlocksShowTheirExampleFiles) {
    const std::regex named("`docs/examples/([^`]+)`");
    int blocks = 0;
    for (const auto& entry : fs::directory_iterator(kDocs)) {
        if (entry.path().extension() != ".md") continue;
        std::ifstream in(entry.path());
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        for (size_t i = 0; i < lines.size(); ++i) {
            if (!StartsWith(lines[i], "```")) continue;
            const bool xml = lines[i] == "```xml";
            const std::string where = entry.path().filename().string() + ":" + std::to_string(i + 1);
            std::string block;
            size_t end = i + 1;
            for (; end < lines.size() && lines[end] != "```"; ++end) block += lines[end] + "\n";
            std::smatch file;
            size_t before = i;
            while (before > 0 && lines[before - 1].empty()) --before;
            if (before == 0 || !std::regex_search(lines[before - 1], file, named)) {
                if (xml) ADD_FAILURE() << where << ": xml block without its docs/examples file";
            } else {
                ++blocks;
                const std::string content = TempDir::Read(kBase + file[1].str());
                EXPECT_NE(content.find(block), std::string::npos)
                    << where << ": not as in docs/examples/" << file[1] << ":\n" << block;
                EXPECT_TRUE(content.find(block) == 0 || content[content.find(block) - 1] == '\n')
                    << where;
            }
            i = end;
        }
    }
    EXPECT_GE(blocks, 10);
}

}  // namespace
