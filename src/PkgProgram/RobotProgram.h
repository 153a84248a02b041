#pragma once

#include <string>
#include <vector>

#include "PkgProgram/Command.h"

// One loaded program file. Successor indices of the commands point into `commands`.
class RobotProgram {
public:
    // File name as given to the loader, relative to the program directory.
    std::string name;
    std::vector<Command> commands;
    // Program that called this one (set when the program is entered as a sub-program).
    int parentProgram = 0;
    // Command of the parent at which to go on when this program ends; -2: the parent ends too.
    int returnCommand = -2;
};
