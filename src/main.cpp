// Entry point of the controller. The full start-up and main dispatch loop
// are built on top of this as the robot core lands.
#include <cstdio>
#include <iostream>
#include <string>

#include "ConfigError.h"
#include "LogSingleton.h"

LogSingleton logObj;
std::string softwareVersion = "V980-04-031";

int main() {
    std::cout << "starting" << std::endl;
    LogSingleton* log = LogSingleton::instance();
    try {
        log->add("");
        log->add("****************  Orvane robot controller  ****************");
        log->add("");
        log->add(softwareVersion);
        log->SetVersion(softwareVersion);
        log->add("");
    } catch (const ConfigError& error) {
        log->addError(error.what());
        log->Flush();
        return error.ExitCode();
    }
    log->add("Orvane: Exiting...");
    log->Flush();
    return 0;
}
