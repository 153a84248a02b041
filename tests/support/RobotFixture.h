#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "LogSingleton.h"
#include "PkgKinematics/RobotMaster.h"
#include "PkgProgram/IPO.h"
#include "support/FakeKinematic.h"
#include "support/FakeProtocol.h"

// A robot assembled from a fake kinematic and a fake protocol, 10 ms cycle,
// no cycle thread: tests call RunCycleOnce. PLC settings and display
// messages of the log object are reset around every test.
class RobotFixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Assembles the robot; debug mode on unless said otherwise.
    void Build(bool debugMode = true);
    void Cycles(int n);
    DataTypes::RobotState State() const;
    void Jog(int index, float value);
    IPO& Interpreter();
    // Robot cycles until the program has ended (path workers waited for);
    // returns the cycles run.
    int RunProgram(int maxCycles);
    // The newest display message, "" when none is pending.
    static std::string DisplayMessage();

    std::unique_ptr<RobotMaster> robot;
    FakeKinematic* kin = nullptr;
    FakeProtocol* bus = nullptr;
};
