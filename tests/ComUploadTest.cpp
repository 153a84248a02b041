#include "ComUpload.h"

#include <gtest/gtest.h>

#include <filesystem>
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
    Lines log = upload.Init(data, "b.txt", 1);  // abandons a.txt, which is not written
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log[0], "NEX-Server: upload of a.txt closed unfinished after 1 lines");
    upload.Line("second");
    upload.Finish(&shown);
    EXPECT_FALSE(std::filesystem::exists(data + "a.txt"));
    EXPECT_EQ(TempDir::Read(data + "b.txt"), "second\n");

    log = upload.Init(data, "missing/dir/c.txt", 1);
    EXPECT_EQ(log.back(), "NEX-Server: ERROR could not open upload file " + data +
                              "missing/dir/c.txt");
    EXPECT_FALSE(upload.IsOpen());
    upload.Finish(&shown);
    EXPECT_EQ(shown, "Upload failed: missing/dir/c.txt");
}

// A refused line, a lost connection: the stored file stays as it was and no
// partial file is left beside it.
TEST(ComUpload, UploadThatLostALineLeavesTheFileAsItWas) {
    TempDir dir;
    const std::string data = dir.Path() + "/";
    dir.Write("prog.xml", "old\n");
    ComUpload upload;
    upload.Init(data, "prog.xml", 3);
    upload.Line("<Program>");
    EXPECT_EQ(TempDir::Read(data + "prog.xml"), "old\n");  // untouched while the upload runs
    EXPECT_EQ(upload.Refused(),
              Lines{"NEX-Server: ERROR upload of prog.xml: line 1 refused, the upload fails"});
    upload.Line("</Program>");
    std::string shown;
    EXPECT_EQ(upload.Finish(&shown),
              (Lines{"NEX-Server: ERROR Upload of prog.xml failed after 2 lines", ""}));
    EXPECT_EQ(shown, "Upload of prog.xml failed after 2 lines");
    EXPECT_EQ(TempDir::Read(data + "prog.xml"), "old\n");

    upload.Init(data, "prog.xml", 1);
    upload.Line("new");
    EXPECT_EQ(upload.Abandon(), Lines{"NEX-Server: upload of prog.xml closed unfinished after 1 lines"});
    EXPECT_EQ(TempDir::Read(data + "prog.xml"), "old\n");
    EXPECT_TRUE(upload.Refused().empty());  // nothing open: nothing to fail

    upload.Init(data, "prog.xml", 1);
    upload.Line("new");
    upload.Finish(&shown);
    EXPECT_EQ(shown, "prog.xml uploaded, 1 lines");
    EXPECT_EQ(TempDir::Read(data + "prog.xml"), "new\n");
    int entries = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir.Path())) entries += entry.is_regular_file();
    EXPECT_EQ(entries, 1);
}
