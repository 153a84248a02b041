// Entry point of the controller: the process-wide objects, start-up, the main
// dispatch loop and the orderly exit.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <iostream>
#include <limits>
#include <string>
#include <thread>

#include "CommandLine.h"
#include "ComServer.h"
#include "ConfigError.h"
#include "KeyboardInput.h"
#include "LogSingleton.h"
#include "MainDispatchLoop.h"
#include "OperatorChannel.h"
#include "PkgDisplay/Display4DS.h"
#include "PkgDataTypes/RobotState.h"
#include "PkgKinematics/RobotMaster.h"
#include "ProjectManager.h"
#include "RealTimeScheduling.h"
#include "TerminationSignals.h"

namespace {
constexpr char kSoftwareVersion[] = "V980-04-031";
}

// Runs before the process-wide objects below are built (glibc hands the
// arguments to constructor functions): --help and --version must neither
// open a log file nor start a thread, and the termination signals are blocked
// before the first thread (the keyboard's) exists, so that only their watcher
// receives them.
__attribute__((constructor(101))) static void BeforeProcessObjects(int argc, char** argv) {
    if (CommandLine::PrintInformation(argc, argv, stdout, kSoftwareVersion)) {
        std::fflush(stdout);
        _exit(0);
    }
    TerminationSignals::Block();
}

// Process-wide objects, built in this order before main runs and destroyed in
// the reverse order after it returns: every thread (keyboard, robot cycle,
// bus) is joined by its owner's destructor before the log goes away.
LogSingleton logObj;
std::string softwareVersion = kSoftwareVersion;
DataTypes::RobotState rs;
RobotMaster rm;
KeyboardInput keys;
Display4DS disp;
ComServer cServer;
MainDispatchLoop mainLoop(rm, rs, keys.GetChannel(), disp.GetChannel(), cServer.Channel());
// SIGINT and SIGTERM: the first ends the controller through the orderly
// shutdown of the next main loop pass, a second one at once.
TerminationSignals terminationSignals;

void Shutdown() { mainLoop.Shutdown(); }

void resetJogValues() { mainLoop.resetJogValues(); }

namespace {

void SleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

}  // namespace

// Arguments other than --help and --version are ignored.
int main() {
    terminationSignals.Start([](int) { mainLoop.RequestShutdown(); });
    std::cout << "starting" << std::endl;
    LogSingleton* log = LogSingleton::instance();

    log->add("");
    log->add("****************  Orvane robot controller  ****************");
    log->add("");
    log->add(softwareVersion);
    log->SetVersion(softwareVersion);
    log->add("");

    log->add("Numeric Limits on this machine:");
    char line[160];
    std::snprintf(line, sizeof(line), "Type (unsigned long long):    Size %d byte     Max %llu",
                  int(sizeof(unsigned long long)), std::numeric_limits<unsigned long long>::max());
    log->add(line);
    log->add("");

    // Before the robot cycle and the CAN receive thread start.
    RealTimeScheduling::Configure(RealTimeScheduling::FromEnvironment());

    ProjectManager project;
    try {
        project.OpenProject(&rm);
    } catch (const ConfigError& error) {
        log->addError(error.what());
        log->Flush();
        return error.ExitCode();
    }

    SleepMs(50);
    rm.ProgramLoad(project.GetStartProgram());
    rm.SetOverride(project.GetStartOverride());

    SleepMs(1000);
    log->add("");

    cServer.SetRobot(&rm);
    cServer.SetProjectManager(&project);
    cServer.SetIPO(&rm.GetInterpreter());
    cServer.StartServer();
    MainDispatchLoop::Peripherals hooks;
    hooks.frontendPublish = [](const DataTypes::RobotState& state) {
        cServer.SetCurrentPos(state);
        cServer.PublishData();
        cServer.SendDisplayMessage();
    };
    hooks.frontendJog = [](float* jog) { cServer.GetJogValues(jog); };
    hooks.frontendRelative = [](float* x, float* y, float* a, float* vel) {
        DataTypes::RobotState commandState = cServer.GetCommandState();
        *x = commandState.posCartRobot(0, 3);
        *y = commandState.posCartRobot(1, 3);
        *a = commandState.posA;
        *vel = cServer.GetFurtherFloat();
    };
    hooks.displaySetValues = [](const DataTypes::RobotState& state) { disp.SetValues(state); };
    hooks.displayUpdate = [](const std::string& status) {
        disp.SetStatusText(status);
        disp.update();
    };
    mainLoop.SetPeripherals(hooks);

    SleepMs(100);
    SleepMs(100);
    disp.Connect(rm.GetDisplayPort());
    SleepMs(100);

    keys.printHelp();
    mainLoop.resetJogValues();
    SleepMs(100);
    std::cout << std::endl;

    log->DisplaySetMessage("Orvane " + softwareVersion);
    mainLoop.SetProjectManager(&project);
    mainLoop.SetPassCounter(MainDispatchLoop::startPassCounter);
    int result = mainLoop.Run();
    // The server thread uses the project manager, which ends with this scope.
    cServer.StopServer();
    cServer.Join();
    mainLoop.SetProjectManager(nullptr);
    return result;
}
