#include "CommandLine.h"

#include <cstring>

bool CommandLine::PrintInformation(int argc, char** argv, std::FILE* out, const char* version) {
    for (int i = 1; i < argc && argv != nullptr && argv[i] != nullptr; ++i) {
        if (std::strcmp(argv[i], "--version") == 0) {
            std::fprintf(out, "Orvane %s\n", version);
            return true;
        }
        if (std::strcmp(argv[i], "--help") == 0) {
            std::fprintf(out,
                         "Usage: orvane [--help | --version]\n"
                         "Orvane robot controller %s. Runs the project named in VKTFrontend.xml of\n"
                         "its base directory: the working directory up to and including \"Orvane\".\n"
                         "Environment: ORVANE_CAN (socketcan:NAME or udp:PORT), ORVANE_FRONTEND_PORT,\n"
                         "ORVANE_FRONTEND_ADDRESS.\n"
                         "SIGINT or SIGTERM shut the controller down in order; a second one during\n"
                         "that shutdown ends it at once (status 130 or 143).\n",
                         version);
            return true;
        }
    }
    return false;
}
