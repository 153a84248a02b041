#include "PkgProgram/IPO.h"

#include <dirent.h>
#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <memory>
#include <stdexcept>
#include <utility>

#include "LogSingleton.h"
#include "PkgProgram/CommandDIO.h"
#include "PkgProgram/CommandGripper.h"
#include "PkgProgram/CommandIf.h"
#include "PkgProgram/CommandJoint.h"
#include "PkgProgram/CommandLinear.h"
#include "PkgProgram/CommandLoop.h"
#include "PkgProgram/CommandMathFunction.h"
#include "PkgProgram/CommandPlugin.h"
#include "PkgProgram/CommandRelative.h"
#include "PkgProgram/CommandStoreData.h"
#include "PkgProgram/CommandSub.h"
#include "PkgProgram/CommandSystem.h"
#include "PkgProgram/CommandWait.h"
#include "PkgProgram/ProgramLoader.h"
#include "PkgProgram/VariableType.h"
#include "TextFormat.h"

namespace {

LogSingleton* Log() { return LogSingleton::instance(); }

// Builds the kind named by the record, runs `action` on it and returns its result.
template <class Action>
bool WithKind(const Command& record, Action action) {
    const std::string& t = record.typeName;
    if (t == "CommandJoint") { CommandJoint k(record); action(k); return true; }
    if (t == "CommandLinear") { CommandLinear k(record); action(k); return true; }
    if (t == "CommandRelative") { CommandRelative k(record); action(k); return true; }
    if (t == "CommandDIO") { CommandDIO k(record); action(k); return true; }
    if (t == "CommandWait") { CommandWait k(record); action(k); return true; }
    if (t == "CommandStoreData") { CommandStoreData k(record); action(k); return true; }
    if (t == "CommandMathFunction") { CommandMathFunction k(record); action(k); return true; }
    if (t == "CommandPlugin") { CommandPlugin k(record); action(k); return true; }
    if (t == "CommandGripper") { CommandGripper k(record); action(k); return true; }
    if (t == "CommandSub") { CommandSub k(record); action(k); return true; }
    if (t == "CommandIf") { CommandIf k(record); action(k); return true; }
    if (t == "CommandLoop") { CommandLoop k(record); action(k); return true; }
    if (t == "CommandSystem") { CommandSystem k(record); action(k); return true; }
    return false;
}

}  // namespace

IPO::IPO() = default;

IPO::~IPO() {
    running = false;
    // The path generator's destructor cancels and joins a running worker.
}

// ---- Robot cycle ----------------------------------------------------------------

Command* IPO::CurrentRecordLocked() {
    if (currentProgram < 0 || currentProgram >= static_cast<int>(programs.size())) return nullptr;
    std::vector<Command>& commands = programs[currentProgram].commands;
    if (currentCommand < 0 || currentCommand >= static_cast<int>(commands.size())) return nullptr;
    return &commands[currentCommand];
}

int IPO::GetNextPosition(int cycleMs, float override, DataTypes::RobotState* state) {
    std::lock_guard<std::mutex> lock(mtx);
    if (!running) return 0;
    try {
        Command* record = CurrentRecordLocked();
        if (record == nullptr) {
            const bool emptyProgram = currentProgram >= 0 &&
                                      currentProgram < static_cast<int>(programs.size()) &&
                                      programs[currentProgram].commands.empty();
            if (emptyProgram) {
                // A sub-program without commands returns at once.
                HandleResultLocked(resultEnd);
            } else {
                Log()->addError(Format("IPO: no command %d in program %d, stopping", currentCommand,
                                       currentProgram));
                StopLocked();
            }
            return 0;
        }
        if (record->motionType == 2) {
            const int r = InterpolateLocked(cycleMs, override, state);
            HandleResultLocked(r);
        } else {
            int r = resultAgain;
            if (pathCommand >= 0 && pathGenerator.IsPathFailed()) {
                // The planner gave up on this path and has logged why (a target out
                // of reach, a joint limit, ...): the robot stays where it stands and
                // the program stops instead of waiting for a path that never comes.
                const std::string line =
                    Format("IPO: no path to command %d of program %d, stopping", pathCommand, currentProgram);
                Log()->addError(line);
                ClearPathLocked();
                StopLocked();
                Log()->DisplaySetMessage(line);
                return 0;
            }
            // Only a path prepared in this run is sampled: a ready flag left over from
            // an abandoned run never moves the robot.
            if (pathCommand >= 0 && pathGenerator.IsPathReady()) {
                int k = -1;
                r = pathGenerator.GetJointPosition(pathTime, state->jointSetPoint, &k);
                if (k >= 0) {
                    currentCommand = k;
                    pathCommand = k;
                }
                pathTime += static_cast<int>(override * 1000.0f * cycleMs / 100.0f);
                if (r != resultAgain) {
                    // The path is done. The next motion gets a path of its own even if
                    // it is the same command again (a motion alone in a loop body).
                    ClearPathLocked();
                }
            }
            HandleResultLocked(r);
        }
        if (running) {
            record = CurrentRecordLocked();
            if (record != nullptr && record->motionType != 2 && currentCommand != pathCommand) {
                PreparePathLocked(state);
            }
        }
    } catch (const char* text) {
        const std::string line = Format("Logic IPO ERROR: %s", text != nullptr ? text : "");
        Log()->add("");
        Log()->add(line);
        Log()->add("");
        StopLocked();
        Log()->DisplaySetMessage(line);  // after the stop message, so the operator sees why
    } catch (const std::string& text) {
        const std::string line = "Logic IPO ERROR: " + text;
        Log()->add("");
        Log()->add(line);
        Log()->add("");
        StopLocked();
        Log()->DisplaySetMessage(line);
    } catch (int) {
        std::cout << " ********************* CATCH INT ***************************" << std::endl;
    } catch (const std::exception&) {
        std::cout << " ********************* CATCH EXC ***************************" << std::endl;
    } catch (...) {
        const std::string line = "Logic IPO ERROR: unknown exception";
        Log()->add(line);
        StopLocked();
        Log()->DisplaySetMessage(line);
    }
    return 0;
}

int IPO::Interpolate(int cycleMs, float override, DataTypes::RobotState* state) {
    std::lock_guard<std::mutex> lock(mtx);
    return InterpolateLocked(cycleMs, override, state);
}

int IPO::InterpolateLocked(int cycleMs, float override, DataTypes::RobotState* state) {
    Command* record = CurrentRecordLocked();
    if (record == nullptr) return resultAgain;
    int result = resultAgain;
    const bool known = WithKind(*record, [&](Command& kind) {
        result = kind.Interpolate(cycleMs, override, state);
        *record = kind;  // keeps firstCall, loopCounter, waitElapsedMs, ... for the next cycle
    });
    if (!known) {
        Log()->add("IPO:    Unknown command!!");
        return resultAgain;
    }
    return result;
}

void IPO::HandleResult(int result) {
    std::lock_guard<std::mutex> lock(mtx);
    HandleResultLocked(result);
}

void IPO::ClearPathLocked() {
    pathGenerator.ClearPathReady();
    pathTime = 0;
    pathCommand = -1;
}

void IPO::HandleResultLocked(int result) {
    if (result >= 0) {
        currentCommand = result;
        if (runMode == 2) {
            pathGenerator.ClearPathReady();
            PauseLocked();
        }
        return;
    }
    if (result == resultEnd) {
        bool mainEnded = true;
        if (currentProgram != 0) {
            int p = currentProgram;
            // Each step goes one caller up; a chain longer than the list is corrupt.
            for (size_t guard = 0; p != 0 && guard <= programs.size(); ++guard) {
                if (p < 0 || p >= static_cast<int>(programs.size())) break;
                const RobotProgram& program = programs[p];
                if (program.returnCommand != resultEnd) {
                    currentProgram = program.parentProgram;
                    currentCommand = program.returnCommand;
                    ClearPathLocked();
                    mainEnded = false;
                    break;
                }
                p = program.parentProgram;
            }
            if (mainEnded) {
                currentCommand = resultEnd;
                currentProgram = 0;
                ClearPathLocked();
            }
        }
        if (mainEnded) {
            if (runMode == 1) {
                running = true;
                ClearPathLocked();
                currentCommand = 0;
                Log()->DisplaySetMessage("Program done, restarting");
                Log()->add("IPO: Program done, restarting");
                Log()->add(" ");
            } else {
                ClearPathLocked();
                running = false;
                currentCommand = -1;
                Log()->DisplaySetMessage("Program done");
                Log()->add("IPO: Program done");
                Log()->add(" ");
            }
        }
        return;
    }
    if (result <= resultSubBase - 1) {
        const int p = resultSubBase - result;
        Command* record = CurrentRecordLocked();
        if (p >= static_cast<int>(programs.size()) || record == nullptr) {
            Log()->addError(Format("IPO: no sub-program %d to call, stopping", p));
            StopLocked();
            return;
        }
        const int caller = currentProgram;
        const int returnCommand = record->successor[0];
        programs[p].parentProgram = caller;
        programs[p].returnCommand = returnCommand;
        currentProgram = p;
        currentCommand = 0;
        ClearPathLocked();
        Log()->add(Format("IPO - changing to program %d, from %d, %d", p, caller, returnCommand));
    }
}

void IPO::PreparePath(DataTypes::RobotState* state) {
    std::lock_guard<std::mutex> lock(mtx);
    if (CurrentRecordLocked() != nullptr) PreparePathLocked(state);
}

Command IPO::PlannerCopyLocked(const Command& command, DataTypes::RobotState* state) {
    Command copy = command;
    // The planner works in a thread of its own and must not read the program
    // memory, which the cycle writes: a linear target taken from a variable is
    // looked up here. "#position" names the planner's own state and stays.
    if (copy.typeName == "CommandLinear" && copy.firstCall && copy.source == "variable" &&
        copy.variableName != "#position") {
        MemoryPosition variable;
        copy.GetVariableFromProgramMemory(copy.variableName, &variable, state);
        RequireVariableType(variable, copy.variableName, "position");
        copy.targetState.posCartRobot = variable.state.posCartRobot;
        copy.targetState.posA = variable.state.posA;
        copy.targetState.posB = variable.state.posB;
        copy.targetState.posC = variable.state.posC;
        for (int i = 6; i < Command::MaxJoints; ++i)
            copy.targetState.jointSetPoint[i] = variable.state.jointSetPoint[i];
        copy.source = "numerical";
    }
    return copy;
}

void IPO::PreparePathLocked(DataTypes::RobotState* state) {
    const std::vector<Command>& commands = programs[currentProgram].commands;
    const int size = static_cast<int>(commands.size());
    pathCommand = currentCommand;
    int c = currentCommand;
    int n = commands[c].successor[0];
    // Copies first: a variable that cannot be read stops the program before planning.
    std::vector<std::pair<int, Command>> chain;
    chain.emplace_back(c, PlannerCopyLocked(commands[c], state));
    if (n > 0 && runMode != 2) {
        int counter = 1;
        while (n < size) {
            if (commands[n].motionType == 2 || !(commands[c].smoothPercent > 0.0f)) break;
            chain.emplace_back(n, PlannerCopyLocked(commands[n], state));
            const int m = commands[n].successor[0];
            ++counter;
            // Never more than ten commands, and never wrapping round to command 0.
            if (counter > 9 || m < 1 || runMode == 2) break;
            c = n;
            n = m;
        }
    }
    for (size_t i = 0; i < chain.size(); ++i) {
        const int index = chain[i].first;
        const int next = commands[index].successor[0];
        if (i == 0) {
            pathGenerator.SetFirstCmd(chain[i].second, state, index, next);
        } else {
            pathGenerator.SetNextCmd(chain[i].second, index, next);
        }
    }
    pathGenerator.ComputePathStartThread();
    pathTime = 0;
}

// ---- Run control ----------------------------------------------------------------------

void IPO::Start() {
    std::string message;
    bool noProgram = false;
    bool plugins = false;
    {
        std::lock_guard<std::mutex> lock(mtx);
        plugins = pluginsUsed && !programs.empty();
    }
    // Before the program runs: a plug-in command in its first cycles must find
    // the camera client started, not fail with "not connected".
    if (plugins) pluginManager.StartPlugins();
    {
        std::lock_guard<std::mutex> lock(mtx);
        if (programs.empty() || programs[0].commands.empty()) {
            noProgram = true;
        } else {
            const int count = static_cast<int>(programs[0].commands.size());
            if (currentCommand == -1) {
                message = Format("IPO: Starting program with %d points, first: %s", count,
                                 programs[0].commands[0].typeName.c_str());
                // Every program is re-initialised, so that a run stopped inside a
                // sub-program does not leave its loops and waits half done.
                for (RobotProgram& program : programs) {
                    for (Command& command : program.commands) command.Init();
                }
                ClearPathLocked();
                currentProgram = 0;
                currentCommand = 0;
            } else {
                message = Format("IPO: Resuming program at point %d of %d", currentCommand + 1, count);
            }
            running = true;
        }
    }
    if (noProgram) {
        Log()->DisplaySetMessage("No Program loaded");
        Log()->add("IPO:    No Program loaded");
        return;
    }
    Log()->DisplaySetMessage("Starting/Resuming");
    Log()->add(message);
}

void IPO::PauseLocked() {
    Log()->DisplaySetMessage("Pausing Program");
    Log()->add("IPO:    Pausing Program");
    running = false;
}

void IPO::Pause() {
    {
        std::lock_guard<std::mutex> lock(mtx);
        running = false;
    }
    Log()->DisplaySetMessage("Pausing Program");
    Log()->add("IPO:    Pausing Program");
}

void IPO::StopLocked() {
    Log()->DisplaySetMessage("Stopping Program");
    Log()->add("IPO:    Stopping Program");
    running = false;
    currentCommand = -1;
}

void IPO::Stop() {
    {
        std::lock_guard<std::mutex> lock(mtx);
        running = false;
        currentCommand = -1;
    }
    Log()->DisplaySetMessage("Stopping Program");
    Log()->add("IPO:    Stopping Program");
}

void IPO::DeleteAll() {
    // Emptied under the lock, destroyed after it.
    std::vector<RobotProgram> oldPrograms;
    std::vector<MemoryPosition> oldMemory;
    {
        std::lock_guard<std::mutex> lock(mtx);
        running = false;
        currentCommand = -1;
        currentProgram = 0;
        oldPrograms.swap(programs);
        oldMemory.swap(memory);
        ClearPathLocked();
    }
    Log()->add("IPO:    Deleting All Programs");
}

// ---- Program files ----------------------------------------------------------------------

void IPO::SetProgramDirectory(const std::string& directory) {
    std::lock_guard<std::mutex> lock(mtx);
    programDirectory = directory;
    if (!programDirectory.empty() && programDirectory.back() != '/') programDirectory += '/';
}

std::string IPO::GetProgramDirectory() const {
    {
        std::lock_guard<std::mutex> lock(mtx);
        if (!programDirectory.empty()) return programDirectory;
    }
    return Log()->GetBaseDirectory() + "Data/Programs/";
}

std::string IPO::ProgramPath(const std::string& name) const { return GetProgramDirectory() + name; }

bool IPO::RefuseUnsafeName(const std::string& name, const std::string& what) {
    if (ProgramLoader::IsSafeName(name)) return false;
    Log()->addError("IPO: refusing to " + what + " a program outside the program directory: " + name);
    Log()->DisplaySetMessage("Invalid program name: " + name);
    return true;
}

int IPO::LoadProgram(const char* name) {
    {
        std::lock_guard<std::mutex> lock(mtx);
        pluginsUsed = false;
    }
    try {
        return LoadXMLFile2(0, name);
    } catch (const char* text) {
        Log()->add(text != nullptr ? text : "IPO.Load: error");
        return -1;
    }
}

int IPO::LoadXMLFile2(int, const char* name) {
    const std::string file = name != nullptr ? name : "";
    int base;
    {
        std::lock_guard<std::mutex> lock(mtx);
        base = static_cast<int>(programs.size());
    }
    // Read and link without the lock: the cycle never waits for the file system.
    ProgramLoader loader(GetProgramDirectory(), jointCount, &memory, &pluginManager);
    std::vector<RobotProgram> loaded;
    const int result = loader.Load(file, base, &loaded);
    if (result != 0) return result;

    std::lock_guard<std::mutex> lock(mtx);
    const int shift = static_cast<int>(programs.size()) - base;
    for (RobotProgram& program : loaded) {
        for (Command& command : program.commands) {
            if (shift != 0 && command.typeName == "CommandSub") command.subProgram += shift;
        }
    }
    loadedCount = static_cast<int>(loaded.front().commands.size());
    loadedName = loaded.front().name;
    if (loader.PluginsUsed()) pluginsUsed = true;
    for (RobotProgram& program : loaded) programs.push_back(std::move(program));
    return 0;
}

int IPO::WriteXMLFile(int, const char* name) {
    const std::string file = name != nullptr ? name : "";
    RobotProgram program;
    bool none;
    {
        std::lock_guard<std::mutex> lock(mtx);
        none = programs.empty() || programs[0].commands.empty();
        if (!none) program = programs[0];
    }
    if (none) {
        Log()->add("IPO:    Cannot write, no Program loaded");
        Log()->DisplaySetMessage("No Program to write");
        return 0;
    }
    if (RefuseUnsafeName(file, "write")) return -1;

    // Written beside the target and renamed over it, so that a failed write never
    // destroys the program that was there.
    const std::string path = ProgramPath(file);
    const std::string temporary = path + ".tmp";
    std::ofstream out(temporary, std::ios::out | std::ios::trunc);
    if (!out.is_open()) {
        Log()->addError("IPO: Could not open program file for writing: " + path);
        Log()->DisplaySetMessage("Could not write " + file);
        return -1;
    }
    Log()->add("IPO: Starting to write XML program file " + path);
    out << "<?xml version=\"1.0\" encoding=\"utf-8\"?>" << "<Program>";
    int visited = 0;
    for (const Command& command : program.commands) {
        ++visited;
        const std::string& t = command.typeName;
        if (t == "CommandJoint") {
            CommandJoint(command).WriteXML(&out, visited);
        } else if (t == "CommandLinear") {
            CommandLinear(command).WriteXML(&out, visited);
        } else if (t == "CommandGripper") {
            CommandGripper(command).WriteXML(&out, visited);
        }
    }
    out << "</Program>";
    out.close();
    if (out.fail() || std::rename(temporary.c_str(), path.c_str()) != 0) {
        std::remove(temporary.c_str());
        Log()->addError("IPO: Could not write program file " + path);
        Log()->DisplaySetMessage("Could not write " + file);
        return -1;
    }
    Log()->add(Format("IPO: XML program file written with %d commands", visited));
    Log()->DisplaySetMessage(Format("%d Cmds written", visited));
    return visited;
}

int IPO::GetFilename(int index, std::string* out) {
    std::string directory = GetProgramDirectory();
    if (directory.size() > 1 && directory.back() == '/') directory.pop_back();
    DIR* dir = opendir(directory.c_str());
    if (dir == nullptr) {
        perror("could not open dir");
        progFileCount = 0;
        return 0;
    }
    int count = 0;
    errno = 0;
    while (dirent* entry = readdir(dir)) {
        bool isDirectory = entry->d_type == DT_DIR;
        if (entry->d_type == DT_UNKNOWN) {
            struct stat info;
            const std::string full = directory + "/" + entry->d_name;
            isDirectory = stat(full.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
        }
        if (isDirectory) continue;
        if (count == index && out != nullptr) *out = entry->d_name;
        ++count;
        errno = 0;
    }
    // readdir ends on an error as on the last entry: a cut-short listing is named.
    if (errno != 0) Log()->addError("IPO: could not list " + directory + ": " + std::strerror(errno));
    closedir(dir);
    progFileCount = count;
    return count;
}

int IPO::DeleteProgramFile(const char* name) {
    const std::string file = name != nullptr ? name : "";
    if (RefuseUnsafeName(file, "delete")) return -1;
    const int result = std::remove(ProgramPath(file).c_str());
    const std::string text = result == 0 ? "Deleted file " + file : "Error: Could not delete file " + file;
    Log()->add(text);
    Log()->DisplaySetMessage(text);
    return result;
}

// ---- Program information and selection ---------------------------------------------------

void IPO::GetProgramInformation(std::string* name, int* count, int* current) {
    std::lock_guard<std::mutex> lock(mtx);
    if (programs.empty()) return;
    if (name != nullptr) *name = programs[0].name;
    if (count != nullptr) *count = static_cast<int>(programs[0].commands.size());
    if (current != nullptr) *current = currentCommand;
}

void IPO::ProgShowCntIncrease() {
    if (progShowIndex + 1 < progFileCount) ++progShowIndex;
}

void IPO::ProgShowCntDecrease() {
    if (progShowIndex > 0) --progShowIndex;
}

std::string IPO::GetCurrentProgShowName() {
    std::string name;
    const int index = progShowIndex;
    if (GetFilename(index, &name) <= index || name.empty()) return "storage01.xml";
    return name;
}

void IPO::SendCurrentProgShowName() {
    const std::string name = GetCurrentProgShowName();
    Log()->add(Format("IPO:     Sending selected filename %d: %s", progShowIndex.load(), name.c_str()));
    Log()->DisplaySetFilename(name);
}

// ---- Teach -------------------------------------------------------------------------------------

void IPO::AppendToProgramZeroLocked(const Command& command) {
    if (programs.empty()) {
        // Teaching from scratch starts a new main program.
        programs.emplace_back();
        programs[0].name = "teach";
    }
    programs[0].commands.push_back(command);
    Command& added = programs[0].commands.back();
    added.valid = true;
    added.jointCount = jointCount;
    added.memory = &memory;
}

void IPO::AddCommandJoint(int, int n, const float* joints, float vel) {
    CommandJoint command;
    const int count = n < 0 ? 0 : (n > Command::MaxJoints ? Command::MaxJoints : n);
    for (int i = 0; i < count && joints != nullptr; ++i) command.targetState.jointSetPoint[i] = joints[i];
    command.velocityPercent = vel;
    {
        std::lock_guard<std::mutex> lock(mtx);
        AppendToProgramZeroLocked(command);
    }
    Log()->add("IPO:     Added joint motion");
    Log()->DisplaySetMessage("Added Joint Motion");
}

void IPO::AddCommandLinear(int, float x, float y, float z, float a, float b, float c, float velPercent) {
    CommandLinear command;
    command.targetState.posCartRobot(0, 3) = x;
    command.targetState.posCartRobot(1, 3) = y;
    command.targetState.posCartRobot(2, 3) = z;
    command.targetState.posA = a;
    command.targetState.posB = b;
    command.targetState.posC = c;
    command.cartVelocity = velPercent / 100.0f * 150.0f;
    {
        std::lock_guard<std::mutex> lock(mtx);
        AppendToProgramZeroLocked(command);
    }
    Log()->add(Format("IPO:     Added Command Linear: %.1lf %.1lf %.1lf --  %.1lf %.1lf %.1lf  with %.1lf mm/s",
                      double(x), double(y), double(z), double(a), double(b), double(c),
                      double(command.cartVelocity)));
    Log()->DisplaySetMessage("Added Linear Motion");
}

void IPO::AddCommandRelative(int, float x, float y, float a, float vel) {
    CommandRelative command;
    command.relativeMode = 1;
    command.motionType = 1;
    command.deltaState.posCartRobot(0, 3) = x;
    command.deltaState.posCartRobot(1, 3) = y;
    command.deltaState.posCartRobot(2, 3) = 0.0f;
    command.deltaState.posA = a;
    command.cartVelocity = vel;
    {
        std::lock_guard<std::mutex> lock(mtx);
        AppendToProgramZeroLocked(command);
    }
    Log()->add(Format("IPO:     Added relative motion %.1lf %.1lf %.1lf", double(x), double(y), 0.0));
}

void IPO::AddCommandWait(int, long ms) {
    const int duration = ms < 0 ? 0 : (ms > INT_MAX ? INT_MAX : static_cast<int>(ms));
    CommandWait command(duration);
    {
        std::lock_guard<std::mutex> lock(mtx);
        AppendToProgramZeroLocked(command);
    }
    Log()->add(Format("IPO:     Added CommandWait %d ms", duration));
    Log()->DisplaySetMessage("Added Wait");
}

void IPO::AddCommandDIO(int, int channel, bool state) {
    CommandDIO command;
    command.dioChannel = channel;
    command.dioState = state;
    {
        std::lock_guard<std::mutex> lock(mtx);
        AppendToProgramZeroLocked(command);
    }
    Log()->add(Format("IPO:     Added CommandDIO ch: %d state: %d", channel, int(state)));
    Log()->DisplaySetMessage("Added D-Out");
}

void IPO::AddCommandGripper(int, const float* values) {
    CommandGripper command;
    for (int i = 0; i < Command::GripperValues && values != nullptr; ++i) command.gripperValues[i] = values[i];
    {
        std::lock_guard<std::mutex> lock(mtx);
        AppendToProgramZeroLocked(command);
    }
    Log()->add(Format("IPO:     Added CommandGripper %.1lf", double(command.gripperValues[0])));
    Log()->DisplaySetMessage("Added Gripper Cmd");
}

void IPO::TouchUpLastCommand() {
    Log()->add("IPO:     TouchUp - not implemented yet");
    Log()->DisplaySetMessage("Touch up not impl. yet");
}

// ---- Diagnostics ------------------------------------------------------------------------------

void IPO::PrintCommands(int program) {
    RobotProgram copy = GetProgram(program);
    Log()->add("PrintCommands: ");
    for (Command& command : copy.commands) {
        std::string text;
        if (!WithKind(command, [&](Command& kind) { text = kind.ToString(); })) text = command.ToString();
        Log()->add("IPO: cmd " + text);
    }
}

void IPO::PrintStacks(std::string label, std::stack<int> links, std::stack<int> slots) {
    ProgramLoader::PrintStacks(label, std::move(links), std::move(slots));
}

// ---- Read-back ------------------------------------------------------------------------------

void IPO::GetStatus(std::string* name, int* current, int* count) const {
    std::lock_guard<std::mutex> lock(mtx);
    if (name != nullptr) *name = loadedName;
    if (current != nullptr) *current = currentCommand;
    if (count != nullptr) *count = loadedCount;
}

int IPO::GetCurrentCommand() const {
    std::lock_guard<std::mutex> lock(mtx);
    return currentCommand;
}

int IPO::GetCurrentProgram() const {
    std::lock_guard<std::mutex> lock(mtx);
    return currentProgram;
}

int IPO::GetPathCommand() const {
    std::lock_guard<std::mutex> lock(mtx);
    return pathCommand;
}

int IPO::GetPathTime() const {
    std::lock_guard<std::mutex> lock(mtx);
    return pathTime;
}

int IPO::GetProgramCount() const {
    std::lock_guard<std::mutex> lock(mtx);
    return static_cast<int>(programs.size());
}

RobotProgram IPO::GetProgram(int index) const {
    std::lock_guard<std::mutex> lock(mtx);
    if (index < 0 || index >= static_cast<int>(programs.size())) return RobotProgram();
    return programs[index];
}

std::vector<MemoryPosition> IPO::GetMemory() const {
    std::lock_guard<std::mutex> lock(mtx);
    return memory;
}

std::string IPO::GetLoadedName() const {
    std::lock_guard<std::mutex> lock(mtx);
    return loadedName;
}

int IPO::GetLoadedCount() const {
    std::lock_guard<std::mutex> lock(mtx);
    return loadedCount;
}

bool IPO::GetPluginsUsed() const {
    std::lock_guard<std::mutex> lock(mtx);
    return pluginsUsed;
}

int IPO::AddProgram(const RobotProgram& program) {
    std::lock_guard<std::mutex> lock(mtx);
    programs.push_back(program);
    for (Command& command : programs.back().commands) command.memory = &memory;
    return static_cast<int>(programs.size()) - 1;
}
