#include "support/RobotFixture.h"

#include "support/LogTail.h"

void RobotFixture::SetUp() {
    LogSingleton::instance()->SetPlcSettings(PlcSettings());
    DisplayMessage();
}

void RobotFixture::TearDown() {
    robot.reset();
    LogSingleton::instance()->SetPlcSettings(PlcSettings());
}

void RobotFixture::Build(bool debugMode) {
    robot = std::make_unique<RobotMaster>();
    auto k = std::make_unique<FakeKinematic>();
    auto p = std::make_unique<FakeProtocol>();
    kin = k.get();
    bus = p.get();
    robot->Assemble(std::move(k), std::move(p), 10, debugMode);
}

void RobotFixture::Cycles(int n) {
    for (int i = 0; i < n; ++i) robot->RunCycleOnce();
}

DataTypes::RobotState RobotFixture::State() const {
    DataTypes::RobotState s;
    robot->GetValues(&s);
    return s;
}

void RobotFixture::Jog(int index, float value) {
    float jog[9] = {0, 0, 0, 0, 0, 0, 0, 0, 0};
    jog[index] = value;
    robot->SetJogValues(jog);
}

IPO& RobotFixture::Interpreter() { return robot->GetInterpreter(); }

int RobotFixture::RunProgram(int maxCycles) {
    int n = 0;
    while (Interpreter().running && n < maxCycles) {
        robot->RunCycleOnce();
        Interpreter().pathGenerator.WaitForWorker();
        ++n;
    }
    return n;
}

std::string RobotFixture::DisplayMessage() { return LogTail::DisplayMessage(); }
