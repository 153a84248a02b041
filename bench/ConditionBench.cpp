// Condition evaluation, as a conditional wait or loop does it once per robot
// cycle: the expression text is set once and evaluated every call.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "PkgBooleanLogic/BooleanLogicParserFrontend.h"

namespace {

std::vector<MemoryPosition> Memory() {
    std::vector<MemoryPosition> memory;
    MemoryPosition counter;
    counter.name = "counter";
    counter.type = "number";
    counter.value = 7.0f;
    memory.push_back(counter);
    MemoryPosition pos;
    pos.name = "pos";
    pos.type = "position";
    pos.state.posCartRobot.SetTranslation(10.0f, 20.0f, 30.0f);
    memory.push_back(pos);
    return memory;
}

void Evaluate(benchmark::State& s, const char* text) {
    std::vector<MemoryPosition> memory = Memory();
    DataTypes::RobotState state;
    bool gsig[64] = {false};
    BooleanLogicParserFrontend frontend;
    frontend.SetExpression(text);
    for (auto _ : s) {
        state.digitalIn[1] = !state.digitalIn[1];
        benchmark::DoNotOptimize(frontend.GetCurrentResult(&memory, state.digitalIn, gsig, &state));
    }
}

void ConditionInput(benchmark::State& s) { Evaluate(s, "din1"); }
void ConditionMixed(benchmark::State& s) { Evaluate(s, "din1 or counter = 7 and pos.y >= 20"); }
void ConditionNested(benchmark::State& s) {
    Evaluate(s, "!(din1 and din2) or (counter > 5 and (#position.x < 100 or pos.z <= 30))");
}

}  // namespace

BENCHMARK(ConditionInput);
BENCHMARK(ConditionMixed);
BENCHMARK(ConditionNested);
