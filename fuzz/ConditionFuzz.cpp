// Conditions of If, Loop and Wait: the first input line is the expression, the
// rest fills the variables, the digital inputs and the robot state.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "PkgBooleanLogic/BooleanLogicParserFrontend.h"
#include "support/FuzzSupport.h"

namespace {

float NextFloat(FuzzSupport::Input& input) {
    uint32_t bits = 0;
    for (int i = 0; i < 4; ++i) bits |= uint32_t(input.Byte()) << (8 * i);
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzSupport::TempDirectory();
    const std::string all(reinterpret_cast<const char*>(data), size);
    const size_t newline = all.find('\n');
    const std::string expression = all.substr(0, newline);
    const std::string rest = newline == std::string::npos ? std::string() : all.substr(newline + 1);
    FuzzSupport::Input input(reinterpret_cast<const uint8_t*>(rest.data()), rest.size());

    std::vector<MemoryPosition> memory;
    static const char* const names[] = {"a", "b", "count", "x1", "p1", "home"};
    for (const char* name : names) {
        MemoryPosition m;
        m.name = name;
        m.type = (input.Byte() & 1) ? "position" : "number";
        m.value = NextFloat(input);
        for (int i = 0; i < 3; ++i) m.state.posCartRobot(i, 3) = NextFloat(input);
        m.state.posA = NextFloat(input);
        memory.push_back(m);
    }
    DataTypes::RobotState state;
    for (int i = 0; i < DataTypes::RobotState::maxIO; ++i) state.digitalIn[i] = input.Byte() & 1;
    for (int i = 0; i < 3; ++i) state.posCartRobot(i, 3) = NextFloat(input);
    bool globalSignals[64];
    for (bool& signal : globalSignals) signal = input.Byte() & 1;
    bool* gsig = (input.Byte() & 1) ? globalSignals : nullptr;

    BooleanLogicParserFrontend evaluator;
    evaluator.SetExpression(expression);
    // Evaluated twice: a condition is re-evaluated every cycle of a Wait.
    for (int round = 0; round < 2; ++round) {
        try {
            evaluator.GetCurrentResult(&memory, state.digitalIn, gsig, &state);
        } catch (const char*) {
        }
    }
    return 0;
}
