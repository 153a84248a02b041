// The controller with the joint simulator, driven over TCP by orvane-frontend.
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "support/ChildProcess.h"
#include "support/ControllerRun.h"
#include "support/ExampleBase.h"
#include "support/LoopbackPorts.h"
#include "support/SimulatorControl.h"
#include "support/TempDir.h"

namespace fs = std::filesystem;

TEST(FrontendSystem, ScriptedFrontendJogsUploadsAndShutsTheControllerDown) {
    const ExampleBase example("CartesianV2");
    const std::string& base = example.base;
    const std::string program = example.dir.Write(
        "demo.xml", "<Program>\n  <Wait Time=\"100\" />\n  <Wait  Time=\"50\" />\n</Program>\n");

    ControllerRun run;
    ASSERT_NO_FATAL_FAILURE(run.Start(base));
    ChildProcess& orvane = *run.controller;
    const int port = run.port;

    ChildProcess frontend(std::string(ORVANE_BIN_DIR) + "/orvane-frontend",
                          {"--script", "--port", std::to_string(port), "--timeout", "20",
                           "--status-every", "0.5", "enable", "wait-ready", "mode base",
                           "jog 1 50 1", "check", "upload " + program, "info", "shutdown 99"});
    const int frontendStatus = frontend.Wait(90000);
    EXPECT_EQ(frontendStatus, 0) << frontend.Output() << "\n---- controller:\n" << orvane.Output();
    EXPECT_EQ(orvane.Wait(20000), 0) << orvane.Output();

    const std::string& out = orvane.Output();
    EXPECT_EQ(OutputMismatch(out,
                             {"NEX-Server: client accepted", "NEX-Server: Set motion type to: CartBase",
                              "Programs/demo.xml uploaded, 4 lines", "Shutdown done"},
                             {"NEX-Server: ERROR", "ERROR: NEX-Server", "Sanitizer"}),
              "")
        << out;
    EXPECT_EQ(TempDir::Read(base + "/Data/Programs/demo.xml"), TempDir::Read(program));

    const std::string& fo = frontend.Output();
    EXPECT_NE(fo.find("MESSAGE Programs/demo.xml uploaded, 4 lines"), std::string::npos) << fo;
    EXPECT_NE(fo.find("ANSWER INFO ProgramInfo"), std::string::npos) << fo;
    // The jog moved the tool along X in base coordinates.
    std::vector<double> x;
    const std::regex pose("\\| pose (-?[0-9]+\\.[0-9]) ");
    for (auto it = std::sregex_iterator(fo.begin(), fo.end(), pose); it != std::sregex_iterator(); ++it) {
        x.push_back(std::stod((*it)[1].str()));
    }
    ASSERT_GE(x.size(), 2u) << fo;
    EXPECT_GT(x.back() - x.front(), 5.0) << fo;
}

// A line over the message limit is refused before the upload sees it: the
// upload ends with its failure message and the stored file stays as it was.
TEST(FrontendSystem, UploadThatLostALineFailsAndKeepsTheStoredFile) {
    const ExampleBase example("CartesianV2");
    const std::string& base = example.base;
    const std::string stored = base + "/Data/Programs/kept.xml";
    const std::string before = "<Program>\n  <Wait Time=\"100\" />\n</Program>\n";
    example.dir.Write("Orvane/Data/Programs/kept.xml", before);

    ControllerRun run;
    ASSERT_NO_FATAL_FAILURE(run.Start(base));
    ChildProcess& orvane = *run.controller;
    const int port = run.port;

    ChildProcess frontend(std::string(ORVANE_BIN_DIR) + "/orvane-frontend",
                          {"--script", "--port", std::to_string(port), "--timeout", "20", "--status-every", "0",
                           "raw CMD UploadFileInit Programs/kept.xml 3", "raw CMD UploadFileLine <Program>",
                           "raw CMD UploadFileLine <Wait Time=\"5\" Descr=\"" + std::string(240, 'x') + "\" />",
                           "raw CMD UploadFileLine </Program>", "raw CMD UploadFileFinish",
                           "wait-message Upload of Programs/kept.xml failed after 2 lines"});
    // The failure is an error message to the front-end: its script ends with status 1.
    EXPECT_EQ(frontend.Wait(90000), 1) << frontend.Output() << "\n---- controller:\n" << orvane.Output();
    EXPECT_NE(frontend.Output().find("MESSAGE Upload of Programs/kept.xml failed after 2 lines"), std::string::npos)
        << frontend.Output();
    orvane.Signal(SIGTERM);
    EXPECT_EQ(orvane.Wait(20000), 0) << orvane.Output();
    const std::string& out = orvane.Output();
    EXPECT_NE(out.find("NEX-Server: ERROR upload of Programs/kept.xml: line 1 refused, the upload fails"),
              std::string::npos)
        << out;
    EXPECT_EQ(out.find("uploaded, 3 lines"), std::string::npos) << out;
    EXPECT_EQ(TempDir::Read(stored), before);
    EXPECT_FALSE(fs::exists(base + "/Data/Programs/.kept.xml.upload"));
}
