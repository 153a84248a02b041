#include "ComUpload.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/TempDir.h"

using Lines = std::vector<std::string>;

TEST(ComUpload, WritesLinesUnchangedAndReportsTheAnnouncedCount) {
    TempDir dir;
    const std::string data = dir.Path() + "/";
    ComUpload upload;
    Lines log = upload.Init(data, "prog.xml", 5);
    EXPECT_EQ(log, (Lines{"", "NEX-Server: Starting file upload: prog.xml, 5",
                          "   Full path: " + data + "prog.xml"}));
    EXPECT_TRUE(upload.IsOpen());
    EXPECT_EQ(upload.Line("<Program>"), Lines{"   File upload line 0: <Program>"});
    EXPECT_EQ(upload.Line("  <Wait  Time=\"10\" /> "),
              Lines{"   File upload line 1:   <Wait  Time=\"10\" /> "});
    upload.Line("</Program>");
    std::string shown;
    log = upload.Finish(&shown);
    EXPECT_EQ(shown, "prog.xml uploaded, 5 lines");  // announced, not received
    EXPECT_EQ(log, (Lines{"prog.xml uploaded, 5 lines", ""}));
    EXPECT_FALSE(upload.IsOpen());
    EXPECT_EQ(TempDir::Read(data + "prog.xml"),
              "<Program>\n  <Wait  Time=\"10\" /> \n</Program>\n");
}

TEST(ComUpload, LinesWithoutUploadSecondInitAndUnopenableFiles) {
    TempDir dir;
    const std::string data = dir.Path() + "/";
    ComUpload upload;
    EXPECT_EQ(upload.Line("x"),
              Lines{"NEX-Server: ERROR upload line without an open upload, ignored"});
    std::string shown;
    EXPECT_EQ(upload.Finish(&shown),
              Lines{"NEX-Server: ERROR UploadFileFinish without an open upload"});
    EXPECT_EQ(shown, "Upload failed: ");

    upload.Init(data, "a.txt", 2);
    upload.Line("first");
    Lines log = upload.Init(data, "b.txt", 1);  // closes a.txt
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log[0], "NEX-Server: upload of a.txt closed unfinished after 1 lines");
    upload.Line("second");
    upload.Finish(&shown);
    EXPECT_EQ(TempDir::Read(data + "a.txt"), "first\n");
    EXPECT_EQ(TempDir::Read(data + "b.txt"), "second\n");

    log = upload.Init(data, "missing/dir/c.txt", 1);
    EXPECT_EQ(log.back(), "NEX-Server: ERROR could not open upload file " + data +
                              "missing/dir/c.txt");
    EXPECT_FALSE(upload.IsOpen());
    upload.Finish(&shown);
    EXPECT_EQ(shown, "Upload failed: missing/dir/c.txt");
}
