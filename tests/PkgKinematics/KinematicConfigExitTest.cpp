// A fatal configuration error ends the controller with exit status 46 and its
// message as an error line. The readers throw ConfigError; this runs them in a
// child process under the same top-level handling the controller uses.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

#include "ConfigError.h"
#include "LogSingleton.h"
#include "PkgKinematics/KinematicFactory.h"
#include "support/TempDir.h"

namespace {
void InitOrExit(const std::string& type, const std::string& file) {
    std::unique_ptr<RobotKinematic> k = KinematicFactory::Create(type);
    try {
        k->Init("robot", type, file);
    } catch (const ConfigError& e) {
        LogSingleton::instance()->addError(e.what());
        std::exit(e.ExitCode());
    }
    std::exit(0);
}
}  // namespace

TEST(KinConfigExitDeathTest, FatalErrorsEndWithStatus46) {
    // Under qemu-arm the re-executed test binary would be a foreign executable
    // the host cannot start; the forked child runs in place there instead.
    GTEST_FLAG_SET(death_test_style, std::getenv("ORVANE_TEST_EMULATOR") != nullptr ? "fast" : "threadsafe");
    TempDir dir;
    const std::string noVelocities = dir.Write("r.xml", "<Robot><Kinematic/><SoftwareMinMax/></Robot>");
    EXPECT_EXIT(InitOrExit("Cartesian", noVelocities), testing::ExitedWithCode(46),
                "RobotKinematicCartesian: line JointVelocities not found in robot ini file!");
    EXPECT_EXIT(InitOrExit("StandardSixAxisPlus", dir.Path() + "/none.xml"), testing::ExitedWithCode(46),
                "RobotKinematicSixAxis: could not find robot ini file: ");
    EXPECT_EXIT(InitOrExit("VKTTalon4", noVelocities), testing::ExitedWithCode(46),
                "RobotMaster: line JointVelocities not found in robot ini file!");
    EXPECT_EXIT(InitOrExit("VKTTalon5", dir.Write("x.xml", "<Robot")), testing::ExitedWithCode(46),
                "RobotKinematicTalon5: could not read robot ini file correctly: ");
    // The fixed-geometry kinds read no file and start regardless.
    EXPECT_EXIT(InitOrExit("VKT_Delta", dir.Path() + "/none.xml"), testing::ExitedWithCode(0), "");
    EXPECT_EXIT(InitOrExit("VKTRover", dir.Path() + "/none.xml"), testing::ExitedWithCode(0), "");
}
