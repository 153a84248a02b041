#include "ComProgramAccessIPO.h"

#include <gtest/gtest.h>

#include <string>

#include "PkgProgram/IPO.h"
#include "support/TempDir.h"

// The server's program requests reach the interpreter.
TEST(ComProgramAccessIPO, ProgramLinesInformationAndFiles) {
    TempDir dir;
    dir.Write("Programs/a.xml", "<Program>\n  <Wait Time=\"10\" />\n</Program>\n");
    IPO ipo;
    ipo.SetProgramDirectory(dir.Path() + "/Programs/");
    ComProgramAccessIPO access(&ipo, nullptr);

    float joints[9] = {1, 2, 3, 4, 5, 6, 0, 0, 0};
    access.AddCommandJoint(4, 9, joints, 50.0f);
    access.AddCommandWait(5, 200);
    float gripper[3] = {40, 0, 0};
    access.AddCommandGripper(6, gripper);
    std::string name = "n/a";
    int count = 0, current = 7;
    access.GetProgramInformation(&name, &count, &current);
    EXPECT_EQ(count, 3);
    EXPECT_EQ(current, -1);

    std::string file;
    EXPECT_EQ(access.GetFilename(0, &file), 1);
    EXPECT_EQ(file, "a.xml");

    // Loading needs the project manager as well, to make it the start program.
    EXPECT_EQ(access.LoadProgram("a.xml"), -1);
    access.GetProgramInformation(&name, &count, &current);
    EXPECT_EQ(count, 3);  // nothing replaced

    EXPECT_EQ(access.DeleteProgramFile("a.xml"), 0);
    EXPECT_EQ(access.GetFilename(0, &file), 0);

    ComProgramAccessIPO none(nullptr, nullptr);
    name = "n/a";
    none.GetProgramInformation(&name, &count, &current);
    EXPECT_EQ(name, "n/a");
    EXPECT_EQ(none.GetFilename(0, &file), 0);
}
