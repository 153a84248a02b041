#pragma once

#include <atomic>
#include <mutex>
#include <stack>
#include <string>
#include <vector>

#include "PkgDataTypes/RobotState.h"
#include "PkgProgram/Command.h"
#include "PkgProgram/MemoryPosition.h"
#include "PkgProgram/PathGenerator.h"
#include "PkgProgram/RobotProgram.h"
#include "PkgPluginManager/PluginManager.h"

// The program interpreter. It owns the loaded programs (index 0 is the main
// program, sub-programs follow in load order), the program memory shared by all
// of them and the path generator. The robot cycle calls GetNextPosition once per
// cycle while `running`; each call steps one logic command, or samples the path
// that the path generator planned for a run of motion commands, and leaves the
// joint set-point in the robot state.
//
// Threads. Everything the cycle step touches is guarded by one mutex, which
// other threads (main loop, front-end server, console) hold only for short
// copies and swaps: files are read, parsed and linked into a new list without
// the lock and appended under it; files are written from a copy taken under it;
// log lines of those operations are written after it is released. `running` and
// `runMode` are atomics that any thread may read or set.
class IPO {
public:
    // Result codes of a step besides successor indices (0 or more).
    static constexpr int resultAgain = -1;
    static constexpr int resultEnd = -2;
    static constexpr int resultSubBase = -10;  // -10 - p: call sub-program p

    IPO();
    virtual ~IPO();
    IPO(const IPO&) = delete;
    IPO& operator=(const IPO&) = delete;

    // 0 run once, 1 repeat, 2 single step (pause after every command, no chaining).
    std::atomic<int> runMode{0};
    // A program is executing; the cycle calls GetNextPosition only while it is set.
    std::atomic<bool> running{false};
    // Joint count copied into every command read.
    int jointCount = 3;
    // Plans and samples the motion paths.
    PathGenerator pathGenerator;
    // Plug-in access for plug-in commands; started by Start when a program uses it.
    PluginFramework::PluginManager pluginManager;

    // ---- Robot cycle ----------------------------------------------------------
    // The per-cycle step: writes the set-point into state->jointSetPoint. Returns 0.
    int GetNextPosition(int cycleMs, float override, DataTypes::RobotState* state);
    // Steps the current logic command once; returns its result code.
    int Interpolate(int cycleMs, float override, DataTypes::RobotState* state);
    // Applies a result code (next command, again, end of program, sub-program call).
    void HandleResult(int result);
    // Starts planning the path that begins at the current command.
    void PreparePath(DataTypes::RobotState* state);

    // ---- Run control (any thread) ---------------------------------------------
    void Start();
    void Pause();
    void Stop();
    void DeleteAll();

    // ---- Program files (any thread but the cycle's) ---------------------------
    // Appends the program `name` (and its sub-programs) to the program list.
    // 0 on success, -1 on a load error (logged), -3 when the document could not be
    // turned into commands. Nothing is appended when loading fails.
    int LoadProgram(const char* name);
    int LoadProgram(const std::string& name) { return LoadProgram(name.c_str()); }
    // As LoadProgram, but load errors are thrown as constant texts.
    int LoadXMLFile2(int unused, const char* name);
    // Writes the joint, linear and gripper commands of program 0 to `name`.
    // Returns the number of commands visited, -1 when the file cannot be written.
    int WriteXMLFile(int unused, const char* name);
    // Lists the program directory: the name of regular file number `index` goes to
    // *out; returns the number of such files (also kept as the program file count).
    int GetFilename(int index, std::string* out);
    // Removes a program file. Returns 0 on success.
    int DeleteProgramFile(const char* name);
    // Program directory, "Data/Programs/" below the log's base directory unless set.
    void SetProgramDirectory(const std::string& directory);
    std::string GetProgramDirectory() const;

    // ---- Program information and selection --------------------------------------
    // Name and command count of program 0; the third output is the current
    // command index (-1 when stopped). Outputs are left alone without a program.
    void GetProgramInformation(std::string* name, int* count, int* current);
    void ProgShowCntIncrease();
    void ProgShowCntDecrease();
    std::string GetCurrentProgShowName();
    void SendCurrentProgShowName();

    // ---- Teach (any thread): each appends one command to program 0 ------------
    void AddCommandJoint(int nr, int n, const float* joints, float vel);
    void AddCommandLinear(int nr, float x, float y, float z, float a, float b, float c,
                          float velPercent);
    void AddCommandRelative(int nr, float x, float y, float a, float vel);
    void AddCommandWait(int nr, long ms);
    void AddCommandDIO(int nr, int channel, bool state);
    void AddCommandGripper(int nr, const float* values);
    void TouchUpLastCommand();

    // ---- Diagnostics --------------------------------------------------------------
    void PrintCommands(int program);
    void PrintStacks(std::string label, std::stack<int> links, std::stack<int> slots);

    // ---- Thread-safe read-back (short copies under the lock) ------------------
    // Name of the program last loaded, the current command (-1 when none) and the
    // command count of the program last loaded: what the cycle publishes.
    void GetStatus(std::string* name, int* currentCommand, int* loadedCount) const;
    int GetCurrentCommand() const;
    int GetCurrentProgram() const;
    int GetPathCommand() const;
    int GetPathTime() const;
    int GetProgramCount() const;
    // A copy of program `index` (an empty program when there is none).
    RobotProgram GetProgram(int index) const;
    std::vector<MemoryPosition> GetMemory() const;
    std::string GetLoadedName() const;
    int GetLoadedCount() const;
    bool GetPluginsUsed() const;
    int GetProgShowIndex() const { return progShowIndex.load(); }
    int GetProgFileCount() const { return progFileCount.load(); }
    // Appends a ready-made program (tools and tests); its commands get the program
    // memory. Returns its index.
    int AddProgram(const RobotProgram& program);

private:
    int InterpolateLocked(int cycleMs, float override, DataTypes::RobotState* state);
    void HandleResultLocked(int result);
    void PreparePathLocked(DataTypes::RobotState* state);
    Command PlannerCopyLocked(const Command& command, DataTypes::RobotState* state);
    void PauseLocked();
    void StopLocked();
    void ClearPathLocked();
    void AppendToProgramZeroLocked(const Command& command);
    Command* CurrentRecordLocked();
    std::string ProgramPath(const std::string& name) const;
    bool RefuseUnsafeName(const std::string& name, const std::string& what);

    mutable std::mutex mtx;  // everything below, except the atomics
    std::vector<RobotProgram> programs;
    int currentProgram = 0;
    std::vector<MemoryPosition> memory;  // its address is handed to every command
    int loadedCount = 0;
    int currentCommand = -1;
    std::string loadedName;
    int pathCommand = -1;
    int pathTime = 0;
    bool pluginsUsed = false;
    std::string programDirectory;  // empty: below the log's base directory

    std::atomic<int> progShowIndex{0};
    std::atomic<int> progFileCount{0};
};
