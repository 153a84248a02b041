#include "PkgProgram/Command.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <iostream>

#include "LogSingleton.h"
#include "PkgProgram/VariableType.h"
#include "TextFormat.h"

namespace {

const char* const ReservedPositionName = "#position";

// Position elements addressable by name; -1 for an unknown element.
// 0..2 translation x, y, z; 3..5 angles a, b, c; 6..14 jointSetPoint 0..8.
int ElementIndex(const std::string& element)
{
    static const char* const names[] = {"x",  "y",  "z",  "a",  "b",  "c",  "a1", "a2",
                                        "a3", "a4", "a5", "a6", "e1", "e2", "e3"};
    for (int i = 0; i < 15; ++i)
        if (element == names[i])
            return i;
    return -1;
}

float& ElementRef(DataTypes::RobotState& state, int index)
{
    switch (index) {
    case 0: return state.posCartRobot(0, 3);
    case 1: return state.posCartRobot(1, 3);
    case 2: return state.posCartRobot(2, 3);
    case 3: return state.posA;
    case 4: return state.posB;
    case 5: return state.posC;
    default: return state.jointSetPoint[index - 6];
    }
}

float ElementValue(const DataTypes::RobotState& state, int index)
{
    // Only read: the one table of elements serves both.
    return ElementRef(const_cast<DataTypes::RobotState&>(state), index);
}

}  // namespace

void Command::ReadXML(tinyxml2::XMLElement*, bool) {}

void Command::WriteXML(std::ofstream*, int) {}

void Command::Init() { firstCall = true; }

int Command::Interpolate(int, float, DataTypes::RobotState*)
{
    std::cerr << "IpoStd" << std::endl;
    return ResultAgain;
}

int Command::InterpolateLogic(int, float, DataTypes::RobotState*)
{
    std::cerr << "IpoStd" << std::endl;
    return ResultAgain;
}

std::string Command::ToString()
{
    std::string text = Format("VCmd %s: %d %d %d", typeName.c_str(), successor[0],
                              successor[1], successor[2]);
    LogSingleton::instance()->add(text);
    return text;
}

std::string Command::LinksText() const
{
    return Format(" - Pre: %d - Succ: %d %d %d", predecessor, successor[0], successor[1],
                  successor[2]);
}

void Command::CopyCommonFrom(const Command& record)
{
    std::copy(record.successor, record.successor + 3, successor);
    predecessor = record.predecessor;
    valid = record.valid;
    firstCall = record.firstCall;
    std::copy(record.jointMaxVelocity, record.jointMaxVelocity + MaxJoints, jointMaxVelocity);
    jointCount = record.jointCount;
    memory = record.memory;
}

int Command::GetVariableFromProgramMemory(std::string name, MemoryPosition* out,
                                          DataTypes::RobotState* current)
{
    if (name == ReservedPositionName) {
        MemoryPosition position;
        position.name = ReservedPositionName;
        position.type = "position";
        if (current)
            position.state = *current;
        *out = position;
        return 1;
    }
    if (!memory) {
        LogSingleton::instance()->add("ERROR in CMD: memory not initialized!");
        throw "Command: memory not initialized";
    }
    for (const MemoryPosition& variable : *memory) {
        if (variable.name == name) {
            *out = variable;
            return 1;
        }
    }
    LogSingleton::instance()->add(
        Format("Memory: could not find variable %s!", name.c_str()));
    throw "Command: could not find variable";
}

// Conditions read variables every cycle: the two readers below look the
// variable up in place instead of copying it (a whole robot state) first.
const MemoryPosition& Command::FindVariable(const std::string& name) const
{
    if (!memory) {
        LogSingleton::instance()->add("ERROR in CMD: memory not initialized!");
        throw "Command: memory not initialized";
    }
    for (const MemoryPosition& variable : *memory) {
        if (variable.name == name)
            return variable;
    }
    LogSingleton::instance()->add(
        Format("Memory: could not find variable %s!", name.c_str()));
    throw "Command: could not find variable";
}

float Command::GetVariableNumberValue(std::string name, DataTypes::RobotState*)
{
    // "#position" is a position, never a number.
    if (name != ReservedPositionName) {
        const MemoryPosition& variable = FindVariable(name);
        if (variable.type == "number")
            return variable.value;
    }
    LogSingleton::instance()->add(
        Format("Memory: Variable %s is not a number variable!", name.c_str()));
    throw "GetFromMemory: wrong var type";
}

float Command::GetVariablePositionElement(std::string name, std::string element,
                                          DataTypes::RobotState* current)
{
    static const DataTypes::RobotState noState;
    const DataTypes::RobotState* source = nullptr;
    if (name == ReservedPositionName) {
        source = current ? current : &noState;
    } else {
        const MemoryPosition& variable = FindVariable(name);
        RequireVariableType(variable, name, "position");
        source = &variable.state;
    }
    int index = ElementIndex(ToLowerCase(element));
    if (index < 0) {
        LogSingleton::instance()->add(
            Format("Memory: wrong element access: %s", element.c_str()));
        throw "GetFromMemory: wrong element access";
    }
    return ElementValue(*source, index);
}

void Command::SetVariableNumberValue(std::string name, float value,
                                     DataTypes::RobotState* current)
{
    MemoryPosition variable;
    GetVariableFromProgramMemory(name, &variable, current);
    RequireVariableType(variable, name, "number", "Memory SetVarNumberValue: ");
    variable.value = value;
    StoreVariableInProgramMemory(variable);
}

void Command::SetVariablePositionElement(std::string name, std::string element, float value,
                                         DataTypes::RobotState* current)
{
    MemoryPosition variable;
    GetVariableFromProgramMemory(name, &variable, current);
    RequireVariableType(variable, name, "position", "Memory SetElement: ");
    int index = ElementIndex(ToLowerCase(element));
    if (index < 0) {
        LogSingleton::instance()->add(
            Format("Memory SetElement: wrong element access: %s", element.c_str()));
        throw "GetFromMemory: wrong element access";
    }
    // Only the addressed value changes: setting an angle does not rebuild the matrix.
    ElementRef(variable.state, index) = value;
    StoreVariableInProgramMemory(variable);
}

void Command::StoreVariableInProgramMemory(MemoryPosition variable)
{
    if (!memory) {
        LogSingleton::instance()->add("ERROR in CMD: memory not initialized!");
        throw "Command: memory not initialized";
    }
    for (MemoryPosition& existing : *memory) {
        if (existing.name == variable.name) {
            existing.value = variable.value;
            existing.state = variable.state;
            existing.type = variable.type;
            return;
        }
    }
    memory->push_back(variable);
}

void Command::InitJointMaxVelocities(double* velocities)
{
    if (!velocities)
        return;
    int count = std::clamp(jointCount, 0, MaxJoints);
    for (int i = 0; i < count; ++i) {
        // A zero, negative or non-finite maximum would stall or reverse joint motions.
        if (std::isfinite(velocities[i]) && velocities[i] > 0.0)
            jointMaxVelocity[i] = static_cast<float>(velocities[i]);
        else
            LogSingleton::instance()->addError(Format(
                "Command: ignoring joint max velocity %f of joint %d", velocities[i], i + 1));
    }
}

std::string Command::ToLowerCase(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

void Command::PrintMemoryStatus()
{
    size_t count = memory ? memory->size() : 0;
    std::cout << std::endl << "Memory Status: " << count << " variables" << std::endl;
    if (!memory)
        return;
    for (const MemoryPosition& variable : *memory) {
        DataTypes::Vector3 translation(variable.state.posCartRobot(0, 3),
                                       variable.state.posCartRobot(1, 3),
                                       variable.state.posCartRobot(2, 3));
        std::cout << "Var: " << variable.name << " / " << variable.type
                  << "   Number: " << variable.value << "   Pos: " << translation.ToStdString()
                  << std::endl;
    }
}
