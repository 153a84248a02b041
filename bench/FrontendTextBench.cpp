// Front-end server text work: formatting the status telegram (every 25 ms
// while a client is connected) and parsing one command message.
#include <benchmark/benchmark.h>

#include <string>

#include "ComMessageParser.h"
#include "ComTelegram.h"

namespace {

void StatusTelegramFormat(benchmark::State& s) {
    DataTypes::RobotState state;
    for (int i = 0; i < 9; ++i) {
        state.jointSetPoint[i] = 12.345f * float(i + 1);
        state.jointCurrent[i] = 12.3f * float(i + 1);
    }
    state.posCartRobot.SetTranslation(412.5f, -33.25f, 305.0f);
    state.errorText = "NoError";
    int counter = 0;
    for (auto _ : s) {
        state.jointSetPoint[0] += 0.01f;
        std::string telegram = ComTelegram::Status(counter, state);
        counter = (counter + 1) % 1000;
        benchmark::DoNotOptimize(telegram.data());
    }
}

void ParseMessage(benchmark::State& s, const std::string& message) {
    for (auto _ : s) {
        ComRequest r = ComMessageParser::Parse(message);
        benchmark::DoNotOptimize(&r);
    }
}

void ParseJogKeepAlive(benchmark::State& s) {
    ParseMessage(s, "NEXSTART 417 ALIVEJOG 50.0 0 -25.5 0 0 0 0 0 0 NEXEND");
}
void ParseCommand(benchmark::State& s) { ParseMessage(s, "NEXSTART 12 CMD LoadProgram PickPlace.xml NEXEND"); }

}  // namespace

BENCHMARK(StatusTelegramFormat);
BENCHMARK(ParseJogKeepAlive);
BENCHMARK(ParseCommand);
