// --help and --version of the real controller binary: printed, status 0, and
// nothing started (no log file in the working directory); any other argument
// is ignored as before.
#include <gtest/gtest.h>

#include <filesystem>

#include "support/ChildProcess.h"
#include "support/TempDir.h"

TEST(CommandLine, HelpAndVersionPrintAndEndBeforeAnythingStarts) {
    TempDir dir;
    const std::string orvane = std::string(ORVANE_BIN_DIR) + "/orvane";
    {
        ChildProcess version(orvane, {"--version", "--help"}, dir.Path());
        EXPECT_EQ(version.Wait(30000), 0);
        EXPECT_EQ(version.Output(), "Orvane V980-04-031\n");
    }
    {
        ChildProcess help(orvane, {"--ignored", "--help"}, dir.Path());
        EXPECT_EQ(help.Wait(30000), 0);
        EXPECT_EQ(help.Output().rfind("Usage: orvane [--help | --version]\nOrvane robot controller V980-04-031.", 0),
                  0u)
            << help.Output();
    }
    EXPECT_TRUE(std::filesystem::is_empty(dir.Path()));

    // Without them the controller starts as before: here it finds no project.
    ChildProcess other(orvane, {"--verbose"}, dir.Path());
    other.CloseInput();
    EXPECT_EQ(other.Wait(30000), 56);
    EXPECT_NE(other.Output().find("Project: front-end file not available"), std::string::npos) << other.Output();
}
