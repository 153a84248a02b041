#pragma once

#include <fstream>
#include <string>
#include <vector>

#include "PkgDataTypes/RobotState.h"
#include "PkgProgram/MemoryPosition.h"

namespace tinyxml2 {
class XMLElement;
}
namespace PluginFramework {
class PluginManager;
}

// One program instruction. The record holds the fields of every command kind at once;
// the kinds (CommandJoint, CommandLinear, ...) derive from it and add behaviour only, so
// programs can store plain records by value. A kind is built from a record when it runs
// and copied back into the list afterwards (by Command's assignment, slicing off the
// kind), which is why everything that must survive from cycle to cycle lives here.
// A kind's constructor takes its part of a record; from a blank record (the default) it
// is a fresh command of that kind.
//
// Errors during a step are thrown as constant texts (const char*): the memory errors
// below, the condition evaluator's errors and the kinds' own texts.
class Command {
public:
    // Result codes of Interpolate besides successor indices (0 or more).
    static constexpr int ResultAgain = -1;        // call again next cycle
    static constexpr int ResultEndOfProgram = -2;  // end of this program; also "not linked"
    static constexpr int ResultSubProgramBase = -10;  // -10 - p calls sub-program p

    static constexpr int MaxJoints = 9;
    static constexpr int GripperValues = 3;

    // The kind, one of "CommandJoint" ... "CommandSystem"; the interpreter dispatches on it.
    std::string typeName = "Command";
    // Set by ReadXML when the element was read; only valid records are added to a program.
    bool valid = false;
    // 0 joint motion, 1 Cartesian motion, 2 logic command.
    int motionType = 2;
    int jointCount = 6;
    int predecessor = -42;
    // [0] next command or exit, [1] then-branch / loop body, [2] else-branch; -2 unlinked.
    int successor[3] = {-2, -2, -2};
    // Relative motion deltas: joint deltas in jointSetPoint, Cartesian delta in the translation.
    DataTypes::RobotState deltaState;
    // Motion target: joints in jointSetPoint, Cartesian pose in posCartRobot and posA/B/C.
    DataTypes::RobotState targetState;
    bool firstCall = true;
    float lastOverride = 0.0f;
    // 0 relative joint, 1 relative Cartesian in the base frame, 2 in the tool frame.
    int relativeMode = 0;
    float jointMaxVelocity[MaxJoints] = {45.0f, 45.0f, 45.0f, 45.0f, 45.0f,
                                         45.0f, 45.0f, 45.0f, 45.0f};
    float velocityPercent = 0.0f;
    float cartVelocity = 0.0f;  // mm/s
    float rotVelocity = 0.0f;   // degrees/s (axis-angle)
    float accPercent = 50.0f;
    float smoothPercent = 50.0f;
    int dioChannel = 0;  // zero-based
    bool dioState = false;
    int waitTimeMs = 0;
    int waitElapsedMs = 0;
    float gripperValues[GripperValues] = {0.0f, 0.0f, 0.0f};
    std::string subFile;
    int subProgram = 0;
    // Condition of If/Loop/Wait; abort condition text of motions (kept, not evaluated).
    std::string condition;
    int loopCount = 0;
    int loopCounter = 0;
    // Loop: 0 counted, 1 conditional. Wait: 0 timed, 1 conditional.
    int mode = 0;
    // Linear target source: "numerical" or "variable".
    std::string source;
    std::string variableName;
    std::string variableType;  // "number" or "position"
    float numberValue = 0.0f;
    std::string mathFunction;  // "add", "subtract" or "set"
    std::string firstOperand;
    std::string secondOperand;
    std::string pluginName;
    std::string targetPosVariable;
    std::string modelClassVariable;
    // Not owned; set by the loader.
    PluginFramework::PluginManager* pluginManager = nullptr;
    // The interpreter's program memory; not owned; set by the loader for every command.
    std::vector<MemoryPosition>* memory = nullptr;

    Command() = default;
    Command(const Command&) = default;
    Command& operator=(const Command&) = default;
    virtual ~Command() = default;

    // Fills the record from one program element and sets `valid`. Base: nothing.
    virtual void ReadXML(tinyxml2::XMLElement* element, bool unused);
    // Writes the record as one program element. Base: nothing.
    virtual void WriteXML(std::ofstream* out, int nr);
    // Prepares for a run.
    virtual void Init();
    // One step; returns the next command index or a result code.
    virtual int Interpolate(int cycleMs, float overridePercent, DataTypes::RobotState* state);
    virtual int InterpolateLogic(int cycleMs, float overridePercent, DataTypes::RobotState* state);
    // One-line description (the base text is also logged).
    virtual std::string ToString();

    // Program memory. Every failure logs a line and throws a constant text; nothing is
    // written to the memory when an operation fails.
    // "#position" is reserved on read: it yields the robot's current state.
    int GetVariableFromProgramMemory(std::string name, MemoryPosition* out,
                                     DataTypes::RobotState* current);
    float GetVariableNumberValue(std::string name, DataTypes::RobotState* current);
    float GetVariablePositionElement(std::string name, std::string element,
                                     DataTypes::RobotState* current);
    void SetVariableNumberValue(std::string name, float value, DataTypes::RobotState* current);
    void SetVariablePositionElement(std::string name, std::string element, float value,
                                    DataTypes::RobotState* current);
    // Replaces value, state and type of the variable of that name, or appends it.
    void StoreVariableInProgramMemory(MemoryPosition variable);
    // Copies the first jointCount values into jointMaxVelocity.
    void InitJointMaxVelocities(double* velocities);
    std::string ToLowerCase(std::string text);
    void PrintMemoryStatus();

protected:
    // The variable of that name in the memory, read in place; logs and throws as
    // GetVariableFromProgramMemory does when there is none.
    const MemoryPosition& FindVariable(const std::string& name) const;
    // Copies what every kind takes over from a record: links, validity, first-call flag,
    // joint maxima, joint count and the memory pointer.
    void CopyCommonFrom(const Command& record);
    // " - Pre: p - Succ: a b c": how every kind's description ends.
    std::string LinksText() const;
    // Successor slot 0 as the result of a finished step.
    int Next() const { return successor[0]; }
};

// What each logic kind (DIO, If, Loop, MathFunction, Plugin, StoreData, Sub,
// System) overrides, written once: it reads its element, takes its step and
// describes itself.
#define COMMAND_KIND_STEPS                                                                      \
    void ReadXML(tinyxml2::XMLElement* element, bool unused) override;                          \
    int Interpolate(int cycleMs, float overridePercent, DataTypes::RobotState* state) override; \
    std::string ToString() override;
