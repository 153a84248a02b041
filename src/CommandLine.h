#pragma once

#include <cstdio>

// The controller's command line: --help and --version print and end the
// process before anything starts; every other argument is ignored.
class CommandLine {
public:
    // Prints the usage (--help) or the version (--version), whichever comes
    // first, to `out` and returns true; false when neither is given.
    static bool PrintInformation(int argc, char** argv, std::FILE* out, const char* version);
};
