// orvane-pathplot as a user runs it, on the example robot and program.
#include <gtest/gtest.h>

#include <unistd.h>

#include <sstream>
#include <string>
#include <vector>

#include "support/ChildProcess.h"
#include "support/TempDir.h"

namespace {

std::string Tool() { return std::string(ORVANE_BIN_DIR) + "/orvane-pathplot"; }
std::string Example(const std::string& name) {
    return std::string(ORVANE_SOURCE_DIR) + "/tools/orvane-pathplot/examples/" + name;
}

bool GnuplotInstalled() {
    return access("/usr/bin/gnuplot", X_OK) == 0 || access("/usr/local/bin/gnuplot", X_OK) == 0;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::stringstream in(text);
    std::string line;
    while (std::getline(in, line)) lines.push_back(line);
    return lines;
}

}  // namespace

TEST(OrvanePathplotTest, WritesRawAndFinalPathOfTheExample) {
    TempDir dir;
    const std::string prefix = dir.Path() + "/square";
    ChildProcess tool(Tool(),
                      {"--robot", Example("SixAxisRobot.xml"), "--program", Example("SquareSmoothed.xml"), "--joints",
                       "0,20,20,0,50,0", "--out", prefix},
                      dir.Path());
    ASSERT_EQ(tool.Wait(60000), 0) << tool.Output();
    EXPECT_NE(tool.Output().find("commands: 0 1 2 3 4"), std::string::npos) << tool.Output();
    EXPECT_NE(tool.Output().find("optimisation: on"), std::string::npos);

    const std::vector<std::string> csv = Lines(TempDir::Read(prefix + ".csv"));
    ASSERT_GT(csv.size(), 100u);
    EXPECT_EQ(csv[0],
              "path,time_s,command,pos1,pos2,pos3,pos4,pos5,pos6,vel1,vel2,vel3,vel4,vel5,vel6,"
              "acc1,acc2,acc3,acc4,acc5,acc6");
    EXPECT_EQ(csv[1], "raw,0,0,0,20,20,0,50,0,0,0,0,0,0,0,0,0,0,0,0,0");
    int raw = 0, final = 0;
    for (size_t i = 1; i < csv.size(); ++i) {
        raw += csv[i].rfind("raw,", 0) == 0;
        final += csv[i].rfind("final,", 0) == 0;
    }
    EXPECT_EQ(raw + final, static_cast<int>(csv.size()) - 1);
    EXPECT_GT(raw, 100);
    EXPECT_GE(final, raw);  // limiting only ever slows the path down
    // The final path ends on the last command (index 4) at the last sample.
    EXPECT_EQ(csv.back().rfind("final,", 0), 0u);

    if (GnuplotInstalled()) {
        const std::string png = TempDir::Read(prefix + ".png");
        ASSERT_GT(png.size(), 1000u);
        EXPECT_EQ(png.substr(1, 3), "PNG");
    }
}

TEST(OrvanePathplotTest, ReportsUnplannablePathsAndBadArguments) {
    TempDir dir;
    const std::string program = dir.Write(
        "Far.xml",
        "<?xml version=\"1.0\"?>\n<Program>\n"
        "  <Relative Nr=\"1\" MoType=\"CartBase\" x=\"5000\" y=\"0\" z=\"0\" vel=\"200\" acc=\"80\" smooth=\"0\"/>\n"
        "</Program>\n");
    ChildProcess far(Tool(),
                     {"--robot", Example("SixAxisRobot.xml"), "--program", program, "--joints", "0,20,20,0,50,0",
                      "--no-png", "--out", dir.Path() + "/far"},
                     dir.Path());
    EXPECT_EQ(far.Wait(60000), 1) << far.Output();
    EXPECT_NE(far.Output().find("the path could not be planned"), std::string::npos) << far.Output();
    EXPECT_NE(TempDir::Read(dir.Path() + "/logMessages01.txt").find("PG: Error in ComputePath: 22"), std::string::npos);

    ChildProcess badJoints(Tool(), {"--robot", Example("SixAxisRobot.xml"), "--program", program, "--joints", "0,x"},
                           dir.Path());
    EXPECT_EQ(badJoints.Wait(60000), 2);
    EXPECT_NE(badJoints.Output().find("not a joint value: \"x\""), std::string::npos) << badJoints.Output();

    ChildProcess missing(Tool(), {"--program", program}, dir.Path());
    EXPECT_EQ(missing.Wait(60000), 2);
    EXPECT_NE(missing.Output().find("usage: orvane-pathplot"), std::string::npos);
}
