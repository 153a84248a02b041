// Program files: the input is a program file (every command reader behind the
// loader); it may name itself or "sub.xml" as a sub-program, which holds a
// fixed small program, so the linking of sub-programs is covered as well.
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "PkgPluginManager/PluginManager.h"
#include "PkgProgram/ProgramLoader.h"
#include "support/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string directory = FuzzSupport::TempDirectory() + "/Data/Programs";
    static const bool prepared = [&] {
        std::filesystem::create_directories(directory);
        return FuzzSupport::WriteFile(directory + "/sub.xml",
                                      "<Program><Joint Nr=\"1\" A1=\"10\" A2=\"0\" A3=\"0\" Vel=\"50\"/>"
                                      "<Wait Nr=\"2\" Time=\"100\"/></Program>");
    }();
    (void)prepared;
    FuzzSupport::WriteFile(directory + "/main.xml", data, size);

    std::vector<MemoryPosition> memory;
    PluginFramework::PluginManager plugins;
    std::vector<RobotProgram> programs;
    ProgramLoader loader(directory, 1 + (size % 6), &memory, &plugins);
    try {
        loader.Load("main.xml", int(size % 3), &programs);
    } catch (const char*) {
    }
    return 0;
}
