#pragma once

#include <stack>
#include <string>
#include <vector>

#include "PkgProgram/MemoryPosition.h"
#include "PkgProgram/RobotProgram.h"

namespace tinyxml2 {
class XMLElement;
}
namespace PluginFramework {
class PluginManager;
}

// Reads a program file and the sub-program files it names into RobotProgram
// records with their successor links. The result is built in a list of its own
// (away from the robot cycle) and handed to the interpreter, which appends it to
// its program list in one short step; sub-program indices are absolute, counted
// from the index the first file will get there.
//
// Load errors are thrown as constant texts (const char*) after a log line and a
// display message; nothing of a failed load is ever handed out.
class ProgramLoader {
public:
    // Everything read from a file is bounded.
    static constexpr int maxSubProgramDepth = 16;     // Sub within Sub within ...
    static constexpr int maxPrograms = 256;           // files loaded by one load
    static constexpr int maxNesting = 64;             // open Loop/If levels in one file
    static constexpr int maxCommands = 20000;         // commands in one file
    static constexpr long maxFileBytes = 4L * 1024 * 1024;

    ProgramLoader(std::string programDirectory, int jointCount,
                  std::vector<MemoryPosition>* memory,
                  PluginFramework::PluginManager* pluginManager);

    // Loads `name` (relative to the program directory) and its sub-programs, depth
    // first, into `out`, where `out[0]` will become program `baseIndex`.
    // Returns 0, or -3 when the document could not be turned into commands.
    int Load(const std::string& name, int baseIndex, std::vector<RobotProgram>* out);

    // A Plugin element was read.
    bool PluginsUsed() const { return pluginsUsed; }

    // A program name that stays inside the program directory: relative, without
    // a ".." component, without control characters.
    static bool IsSafeName(const std::string& name);

    // Diagnostics: a label and the contents of the two link stacks.
    static void PrintStacks(const std::string& label, std::stack<int> links,
                            std::stack<int> slots);

private:
    struct OpenBlock {
        bool isLoop;
        int index;        // command index of the Loop or If
        bool elseSeen;
        int element;      // element position in the file, for messages
        int line;
    };

    int LoadFile(const std::string& name, int baseIndex, std::vector<RobotProgram>* out);
    std::string ReadFileText(const std::string& name);
    void Fail(const std::string& logText, const std::string& shown, const char* thrown);
    void StructureError(const std::string& what, const std::string& file, int element,
                        int line, const char* thrown);

    std::string directory;
    int jointCount;
    std::vector<MemoryPosition>* memory;
    PluginFramework::PluginManager* pluginManager;
    bool pluginsUsed = false;
    std::vector<std::string> chain;  // files being loaded, outermost first
};
