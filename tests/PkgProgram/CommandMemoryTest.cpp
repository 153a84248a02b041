#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "PkgProgram/Command.h"
#include "support/ProgramVariables.h"
#include "support/ThrownText.h"

namespace {

MemoryPosition NumberVar(const std::string& name, float value) { return NumberVariable(name, value); }

MemoryPosition PositionVar(const std::string& name, float x, float y, float z)
{
    MemoryPosition v = PositionVariable(name, x, y, z);
    v.state.posA = 10.0f;
    v.state.posB = 20.0f;
    v.state.posC = 30.0f;
    for (int i = 0; i < 9; ++i)
        v.state.jointSetPoint[i] = 100.0f + static_cast<float>(i);
    return v;
}

class CommandMemoryTest : public ::testing::Test {
protected:
    void SetUp() override { cmd.memory = &memory; }

    std::vector<MemoryPosition> memory;
    Command cmd;
    DataTypes::RobotState current;
};

TEST_F(CommandMemoryTest, ReservedPositionReadsCurrentStateWithoutTouchingMemory)
{
    current.posCartRobot.SetTranslation(1.0f, 2.0f, 3.0f);
    current.jointSetPoint[4] = 55.0f;
    MemoryPosition out;
    EXPECT_EQ(1, cmd.GetVariableFromProgramMemory("#position", &out, &current));
    EXPECT_EQ("#position", out.name);
    EXPECT_EQ("position", out.type);
    EXPECT_FLOAT_EQ(2.0f, out.state.posCartRobot(1, 3));
    EXPECT_FLOAT_EQ(55.0f, cmd.GetVariablePositionElement("#position", "a5", &current));
    EXPECT_TRUE(memory.empty());

    // Even without any memory at all.
    Command bare;
    EXPECT_FLOAT_EQ(3.0f, bare.GetVariablePositionElement("#position", "z", &current));
}

TEST_F(CommandMemoryTest, PositionStoredUnderReservedNameIsNotSeenByReads)
{
    cmd.StoreVariableInProgramMemory(PositionVar("#position", 9.0f, 9.0f, 9.0f));
    ASSERT_EQ(1u, memory.size());
    current.posCartRobot.SetTranslation(1.0f, 0.0f, 0.0f);
    EXPECT_FLOAT_EQ(1.0f, cmd.GetVariablePositionElement("#position", "x", &current));
}

TEST_F(CommandMemoryTest, StoreReplacesByNameIncludingType)
{
    cmd.StoreVariableInProgramMemory(NumberVar("v", 1.0f));
    cmd.StoreVariableInProgramMemory(NumberVar("w", 2.0f));
    cmd.StoreVariableInProgramMemory(PositionVar("v", 4.0f, 5.0f, 6.0f));
    ASSERT_EQ(2u, memory.size());
    EXPECT_EQ("v", memory[0].name);
    EXPECT_EQ("position", memory[0].type);
    EXPECT_FLOAT_EQ(5.0f, cmd.GetVariablePositionElement("v", "y", &current));
    EXPECT_EQ("GetFromMemory: wrong var type",
              ThrownText([&] { cmd.GetVariableNumberValue("v", &current); }));

    cmd.StoreVariableInProgramMemory(NumberVar("v", 7.0f));
    ASSERT_EQ(2u, memory.size());
    EXPECT_FLOAT_EQ(7.0f, cmd.GetVariableNumberValue("v", &current));
}

TEST_F(CommandMemoryTest, ElementNamesIgnoreCaseVariableNamesDoNot)
{
    cmd.StoreVariableInProgramMemory(PositionVar("pos", 4.0f, 5.0f, 6.0f));
    EXPECT_FLOAT_EQ(4.0f, cmd.GetVariablePositionElement("pos", "X", &current));
    EXPECT_FLOAT_EQ(20.0f, cmd.GetVariablePositionElement("pos", "B", &current));
    EXPECT_FLOAT_EQ(105.0f, cmd.GetVariablePositionElement("pos", "A6", &current));
    EXPECT_FLOAT_EQ(108.0f, cmd.GetVariablePositionElement("pos", "E3", &current));
    EXPECT_EQ("Command: could not find variable",
              ThrownText([&] { cmd.GetVariablePositionElement("POS", "x", &current); }));
}

TEST_F(CommandMemoryTest, SettingElementsChangesOnlyThatValue)
{
    cmd.StoreVariableInProgramMemory(PositionVar("pos", 4.0f, 5.0f, 6.0f));
    DataTypes::Matrix44 before = memory[0].state.posCartRobot;
    cmd.SetVariablePositionElement("pos", "a", 90.0f, &current);
    EXPECT_FLOAT_EQ(90.0f, memory[0].state.posA);
    for (int i = 0; i < 16; ++i)
        EXPECT_FLOAT_EQ(before.m[i], memory[0].state.posCartRobot.m[i]) << i;
    cmd.SetVariablePositionElement("pos", "Z", -1.5f, &current);
    EXPECT_FLOAT_EQ(-1.5f, memory[0].state.posCartRobot(2, 3));
    cmd.SetVariablePositionElement("pos", "e1", 3.0f, &current);
    EXPECT_FLOAT_EQ(3.0f, memory[0].state.jointSetPoint[6]);
    cmd.StoreVariableInProgramMemory(NumberVar("n", 1.0f));
    cmd.SetVariableNumberValue("n", 8.5f, &current);
    EXPECT_FLOAT_EQ(8.5f, cmd.GetVariableNumberValue("n", &current));
}

TEST_F(CommandMemoryTest, EveryFailureThrowsItsTextAndWritesNothing)
{
    cmd.StoreVariableInProgramMemory(NumberVar("n", 1.0f));
    cmd.StoreVariableInProgramMemory(PositionVar("p", 1.0f, 2.0f, 3.0f));
    std::vector<MemoryPosition> snapshot = memory;

    EXPECT_EQ("Command: could not find variable",
              ThrownText([&] { cmd.GetVariableNumberValue("missing", &current); }));
    EXPECT_EQ("GetFromMemory: wrong var type",
              ThrownText([&] { cmd.GetVariableNumberValue("p", &current); }));
    EXPECT_EQ("GetFromMemory: wrong var type",
              ThrownText([&] { cmd.GetVariablePositionElement("n", "x", &current); }));
    EXPECT_EQ("GetFromMemory: wrong element access",
              ThrownText([&] { cmd.GetVariablePositionElement("p", "a7", &current); }));
    EXPECT_EQ("GetFromMemory: wrong var type",
              ThrownText([&] { cmd.SetVariablePositionElement("n", "x", 5.0f, &current); }));
    EXPECT_EQ("GetFromMemory: wrong element access",
              ThrownText([&] { cmd.SetVariablePositionElement("p", "w", 5.0f, &current); }));
    EXPECT_EQ("GetFromMemory: wrong var type",
              ThrownText([&] { cmd.SetVariableNumberValue("p", 5.0f, &current); }));
    EXPECT_EQ("Command: could not find variable",
              ThrownText([&] { cmd.SetVariableNumberValue("missing", 5.0f, &current); }));

    ASSERT_EQ(snapshot.size(), memory.size());
    for (size_t i = 0; i < memory.size(); ++i) {
        EXPECT_EQ(snapshot[i].name, memory[i].name);
        EXPECT_EQ(snapshot[i].type, memory[i].type);
        EXPECT_FLOAT_EQ(snapshot[i].value, memory[i].value);
        EXPECT_FLOAT_EQ(snapshot[i].state.posCartRobot(0, 3), memory[i].state.posCartRobot(0, 3));
    }

    Command noMemory;
    EXPECT_EQ("Command: memory not initialized",
              ThrownText([&] { noMemory.GetVariableNumberValue("n", &current); }));
    EXPECT_EQ("Command: memory not initialized",
              ThrownText([&] { noMemory.StoreVariableInProgramMemory(NumberVar("n", 1.0f)); }));
}

TEST(CommandRecordTest, DefaultsAndBaseOperations)
{
    Command c;
    EXPECT_FALSE(c.valid);
    EXPECT_EQ(2, c.motionType);
    EXPECT_EQ(6, c.jointCount);
    EXPECT_EQ(-42, c.predecessor);
    EXPECT_EQ(-2, c.successor[0]);
    EXPECT_EQ(-2, c.successor[2]);
    EXPECT_TRUE(c.firstCall);
    EXPECT_FLOAT_EQ(45.0f, c.jointMaxVelocity[8]);
    EXPECT_FLOAT_EQ(50.0f, c.accPercent);
    EXPECT_FLOAT_EQ(50.0f, c.smoothPercent);
    EXPECT_EQ(nullptr, c.memory);
    DataTypes::RobotState s;
    EXPECT_EQ(-1, c.Interpolate(10, 100.0f, &s));
    EXPECT_EQ(-1, c.InterpolateLogic(10, 100.0f, &s));
    c.typeName = "CommandX";
    c.successor[1] = 4;
    EXPECT_EQ("VCmd CommandX: -2 4 -2", c.ToString());
    c.firstCall = false;
    c.Init();
    EXPECT_TRUE(c.firstCall);
    EXPECT_EQ("abc xyz!", c.ToLowerCase("AbC XyZ!"));
}

TEST(CommandRecordTest, JointMaxVelocitiesTakeFirstJointCountAndRejectNonPositive)
{
    Command c;
    c.jointCount = 3;
    double v[9] = {10, 0, 30, 40, 50, 60, 70, 80, 90};
    c.InitJointMaxVelocities(v);
    EXPECT_FLOAT_EQ(10.0f, c.jointMaxVelocity[0]);
    EXPECT_FLOAT_EQ(45.0f, c.jointMaxVelocity[1]);  // 0 would stall the joint
    EXPECT_FLOAT_EQ(30.0f, c.jointMaxVelocity[2]);
    EXPECT_FLOAT_EQ(45.0f, c.jointMaxVelocity[3]);
}

}  // namespace

TEST_F(CommandMemoryTest, ReadersLookVariablesUpInPlaceWithTheSameRefusals)
{
    // The readers no longer copy the variable; what they refuse stays the same.
    cmd.StoreVariableInProgramMemory(NumberVar("n", 3.5f));
    cmd.StoreVariableInProgramMemory(PositionVar("p", 4.0f, 5.0f, 6.0f));
    EXPECT_FLOAT_EQ(3.5f, cmd.GetVariableNumberValue("n", &current));
    EXPECT_FLOAT_EQ(6.0f, cmd.GetVariablePositionElement("p", "z", &current));
    EXPECT_EQ("GetFromMemory: wrong var type",
              ThrownText([&] { cmd.GetVariableNumberValue("#position", &current); }));
    EXPECT_EQ("GetFromMemory: wrong var type",
              ThrownText([&] { cmd.GetVariablePositionElement("n", "x", &current); }));
    EXPECT_EQ("GetFromMemory: wrong element access",
              ThrownText([&] { cmd.GetVariablePositionElement("p", "q", &current); }));
    EXPECT_EQ("Command: could not find variable",
              ThrownText([&] { cmd.GetVariableNumberValue("missing", &current); }));
    // Without a current state the reserved position reads a default state.
    EXPECT_FLOAT_EQ(DataTypes::RobotState().posCartRobot(0, 3),
                    cmd.GetVariablePositionElement("#position", "x", nullptr));
    Command noMemory;
    EXPECT_EQ("Command: memory not initialized",
              ThrownText([&] { noMemory.GetVariablePositionElement("p", "x", &current); }));
}
