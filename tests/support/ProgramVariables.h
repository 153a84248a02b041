#pragma once

#include <string>

#include "PkgProgram/MemoryPosition.h"

// Program variables as tests put them into a program's memory.
inline MemoryPosition NumberVariable(const std::string& name, float value)
{
    MemoryPosition v;
    v.name = name;
    v.type = "number";
    v.value = value;
    return v;
}

// A position variable whose pose is the translation (x, y, z); the rest default.
inline MemoryPosition PositionVariable(const std::string& name, float x, float y, float z)
{
    MemoryPosition v;
    v.name = name;
    v.type = "position";
    v.state.posCartRobot = DataTypes::Matrix44();
    v.state.posCartRobot.SetTranslation(x, y, z);
    return v;
}
