#include "PkgProgram/VariableType.h"

#include "LogSingleton.h"
#include "TextFormat.h"

void RequireVariableType(const MemoryPosition& variable, const std::string& name, const char* type,
                         const char* logPrefix) {
    if (variable.type == type) return;
    LogSingleton::instance()->add(Format("%sVariable %s is not a %s variable!", logPrefix, name.c_str(), type));
    throw "GetFromMemory: wrong var type";
}
