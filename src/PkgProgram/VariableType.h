#pragma once

#include <string>

#include "PkgProgram/MemoryPosition.h"

// Unless `variable` (looked up as `name`) is of `type`, "number" or "position":
// logs "<logPrefix>Variable <name> is not a <type> variable!" and throws the
// constant text "GetFromMemory: wrong var type", as every memory access does.
void RequireVariableType(const MemoryPosition& variable, const std::string& name, const char* type,
                         const char* logPrefix = "Memory: ");
