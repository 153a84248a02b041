#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "PkgProgram/CommandDIO.h"
#include "PkgProgram/CommandGripper.h"
#include "PkgProgram/CommandIf.h"
#include "PkgProgram/CommandJoint.h"
#include "PkgProgram/CommandLoop.h"
#include "PkgProgram/CommandMathFunction.h"
#include "PkgProgram/CommandPlugin.h"
#include "PkgProgram/CommandStoreData.h"
#include "PkgProgram/CommandSub.h"
#include "PkgProgram/CommandSystem.h"
#include "PkgProgram/CommandWait.h"
#include "support/ProgramVariables.h"
#include "support/ThrownText.h"

namespace {

// Steps a record the way the interpreter does: build the kind, step it, copy it back.
template <typename Kind>
int StepRecord(Command& record, DataTypes::RobotState* state, int cycleMs = 10)
{
    Kind kind(record);
    int result = kind.Interpolate(cycleMs, 100.0f, state);
    record = kind;
    return result;
}

class CommandFlowTest : public ::testing::Test {
protected:
    Command Linked(Command record)
    {
        record.successor[0] = 10;
        record.successor[1] = 11;
        record.successor[2] = 12;
        record.memory = &memory;
        return record;
    }

    // A linked math record: first = first <function> second.
    Command MathRecord(const std::string& function, const std::string& first, const std::string& second)
    {
        CommandMathFunction m;
        m.mathFunction = function;
        m.firstOperand = first;
        m.secondOperand = second;
        return Linked(m);
    }

    MemoryPosition& AddNumber(const std::string& name, float value)
    {
        memory.push_back(NumberVariable(name, value));
        return memory.back();
    }

    MemoryPosition& AddPosition(const std::string& name, float x, float y, float z)
    {
        memory.push_back(PositionVariable(name, x, y, z));
        return memory.back();
    }

    std::vector<MemoryPosition> memory;
    DataTypes::RobotState state;
};

TEST_F(CommandFlowTest, KindFromRecordTakesOwnTypeAndCopyBackKeepsProgress)
{
    CommandWait wait(1000);
    Command record = Linked(wait);
    record.predecessor = 3;
    record.valid = true;
    EXPECT_EQ(-1, StepRecord<CommandWait>(record, &state));
    EXPECT_EQ(-1, StepRecord<CommandWait>(record, &state));
    EXPECT_EQ("CommandWait", record.typeName);
    EXPECT_EQ(20, record.waitElapsedMs);
    EXPECT_FALSE(record.firstCall);
    EXPECT_EQ(3, record.predecessor);
    EXPECT_EQ(11, record.successor[1]);
    EXPECT_TRUE(record.valid);
    EXPECT_EQ(&memory, record.memory);

    // A kind built from a record of another kind keeps its own name and motion type.
    Command joint = CommandJoint();
    CommandDIO dio(joint);
    EXPECT_EQ("CommandDIO", dio.typeName);
    EXPECT_EQ(2, dio.motionType);
    Command plain;
    plain.motionType = 2;
    EXPECT_EQ(0, CommandJoint(plain).motionType);
}

TEST_F(CommandFlowTest, CountedLoopRunsBodyExactlyAndRestartsFromZero)
{
    for (int count : {0, 3}) {
        CommandLoop loop;
        loop.loopCount = count;
        Command record = Linked(loop);
        for (int entry = 0; entry < 2; ++entry) {
            int bodies = 0;
            int result;
            while ((result = StepRecord<CommandLoop>(record, &state)) == 11 && bodies < 100)
                ++bodies;
            EXPECT_EQ(10, result);
            EXPECT_EQ(count, bodies) << "entry " << entry;
            EXPECT_TRUE(record.firstCall);
            EXPECT_EQ(0, record.loopCounter);
        }
    }
}

TEST_F(CommandFlowTest, ConditionalLoopEvaluatesBeforeEachPass)
{
    CommandLoop loop;
    loop.mode = 1;
    loop.condition = "din2";
    Command record = Linked(loop);
    state.digitalIn[1] = true;
    EXPECT_EQ(10, StepRecord<CommandLoop>(record, &state));  // true on entry: body skipped

    state.digitalIn[1] = false;
    EXPECT_EQ(11, StepRecord<CommandLoop>(record, &state));
    EXPECT_EQ(11, StepRecord<CommandLoop>(record, &state));
    EXPECT_EQ(2, record.loopCounter);
    state.digitalIn[1] = true;
    EXPECT_EQ(10, StepRecord<CommandLoop>(record, &state));
    EXPECT_EQ(0, record.loopCounter);
    EXPECT_TRUE(record.firstCall);
}

TEST_F(CommandFlowTest, TimedWaitOfOneSecondAtTenMsLastsHundredAndOneCycles)
{
    Command record = Linked(CommandWait(1000));
    int cycles = 1;
    while (StepRecord<CommandWait>(record, &state) == -1 && cycles < 1000)
        ++cycles;
    EXPECT_EQ(101, cycles);
    EXPECT_EQ(0, record.waitElapsedMs);
    EXPECT_TRUE(record.firstCall);

    Command zero = Linked(CommandWait(0));
    EXPECT_EQ(10, StepRecord<CommandWait>(zero, &state));
}

TEST_F(CommandFlowTest, ConditionalWait)
{
    CommandWait wait;
    wait.mode = 1;
    wait.condition = "level >= 3";
    AddNumber("level", 3.0f);
    Command record = Linked(wait);
    EXPECT_EQ(10, StepRecord<CommandWait>(record, &state));  // true on entry

    memory[0].value = 1.0f;
    EXPECT_EQ(-1, StepRecord<CommandWait>(record, &state));
    EXPECT_EQ(-1, StepRecord<CommandWait>(record, &state));
    EXPECT_EQ(20, record.waitElapsedMs);
    memory[0].value = 4.0f;
    EXPECT_EQ(10, StepRecord<CommandWait>(record, &state));
    EXPECT_EQ(0, record.waitElapsedMs);
}

TEST_F(CommandFlowTest, IfChoosesBranchThenLeavesThroughExit)
{
    for (bool input : {true, false}) {
        CommandIf branch;
        branch.condition = "din1 and !din2";
        Command record = Linked(branch);
        state.digitalIn[0] = input;
        EXPECT_EQ(input ? 11 : 12, StepRecord<CommandIf>(record, &state));
        EXPECT_FALSE(record.firstCall);
        EXPECT_EQ(10, StepRecord<CommandIf>(record, &state));
        EXPECT_TRUE(record.firstCall);
    }
}

TEST_F(CommandFlowTest, ConditionErrorsReachTheCaller)
{
    CommandIf branch;
    branch.condition = "missing > 1";
    Command record = Linked(branch);
    EXPECT_EQ("Command: could not find variable",
              ThrownText([&] { StepRecord<CommandIf>(record, &state); }));
    CommandLoop loop;
    loop.mode = 1;
    loop.condition = "(true";
    Command loopRecord = Linked(loop);
    EXPECT_EQ("BooleanParser: Expecting closing parenthesis!",
              ThrownText([&] { StepRecord<CommandLoop>(loopRecord, &state); }));
}

TEST_F(CommandFlowTest, SubSystemDioGripper)
{
    CommandSub sub;
    sub.subProgram = 3;
    Command subRecord = Linked(sub);
    EXPECT_EQ(-13, StepRecord<CommandSub>(subRecord, &state));

    Command system = Linked(CommandSystem());
    EXPECT_EQ(10, StepRecord<CommandSystem>(system, &state));

    CommandDIO dio;
    dio.dioChannel = 0;
    dio.dioState = true;
    Command dioRecord = Linked(dio);
    EXPECT_EQ(10, StepRecord<CommandDIO>(dioRecord, &state));
    EXPECT_TRUE(state.digitalOut[0]);
    EXPECT_EQ("Command DIO 0 to 1 - Pre: -42 - Succ: 10 11 12", CommandDIO(dioRecord).ToString());

    for (int channel : {-1, 64}) {
        dioRecord.dioChannel = channel;
        EXPECT_EQ("CommandDIO: output channel out of range",
                  ThrownText([&] { StepRecord<CommandDIO>(dioRecord, &state); }));
    }

    CommandGripper gripper(40.0f);
    Command gripperRecord = Linked(gripper);
    state.gripperSetPoint[0] = -1.0f;
    EXPECT_EQ(10, StepRecord<CommandGripper>(gripperRecord, &state));
    EXPECT_FLOAT_EQ(40.0f, state.gripperSetPoint[0]);
    EXPECT_FLOAT_EQ(0.0f, state.gripperSetPoint[1]);
}

TEST_F(CommandFlowTest, StoreNumberAndPositionReplaceByName)
{
    CommandStoreData store;
    store.variableName = "v";
    store.variableType = "number";
    store.numberValue = 2.5f;
    Command numberRecord = Linked(store);
    EXPECT_EQ(10, StepRecord<CommandStoreData>(numberRecord, &state));
    ASSERT_EQ(1u, memory.size());
    EXPECT_FLOAT_EQ(2.5f, memory[0].value);

    state.posCartRobot.SetTranslation(1.0f, 2.0f, 3.0f);
    state.jointSetPoint[5] = 66.0f;
    Command positionRecord = numberRecord;
    positionRecord.variableType = "position";
    EXPECT_EQ(10, StepRecord<CommandStoreData>(positionRecord, &state));
    ASSERT_EQ(1u, memory.size());
    EXPECT_EQ("position", memory[0].type);
    EXPECT_FLOAT_EQ(3.0f, memory[0].state.posCartRobot(2, 3));
    EXPECT_FLOAT_EQ(66.0f, memory[0].state.jointSetPoint[5]);
}

TEST_F(CommandFlowTest, MathOperations)
{
    AddNumber("cnt", 5.0f);
    AddPosition("pos1", 7.0f, 8.0f, 9.0f);
    auto math = [&](const std::string& function, const std::string& first,
                    const std::string& second) {
        Command record = MathRecord(function, first, second);
        return StepRecord<CommandMathFunction>(record, &state);
    };
    EXPECT_EQ(10, math("set", "cnt", "5"));
    EXPECT_FLOAT_EQ(5.0f, memory[0].value);
    EXPECT_EQ(10, math("subtract", "cnt", "1"));
    EXPECT_FLOAT_EQ(4.0f, memory[0].value);
    EXPECT_EQ(10, math("add", "cnt", "2abc"));  // leading number of the text
    EXPECT_FLOAT_EQ(6.0f, memory[0].value);
    EXPECT_EQ(10, math("set", "cnt", "pos1.x"));
    EXPECT_FLOAT_EQ(7.0f, memory[0].value);
    EXPECT_EQ(10, math("add", "pos1.z", "cnt"));
    EXPECT_FLOAT_EQ(16.0f, memory[1].state.posCartRobot(2, 3));
    EXPECT_EQ(10, math("set", "cnt", ".5"));
    EXPECT_FLOAT_EQ(0.5f, memory[0].value);

    // Words that merely begin like "inf" or "nan" are variable names, not numbers.
    AddNumber("info", 3.0f);
    EXPECT_EQ(10, math("set", "cnt", "info"));
    EXPECT_FLOAT_EQ(3.0f, memory[0].value);
}

TEST_F(CommandFlowTest, MathOnCurrentPositionStoresOrdinaryVariable)
{
    state.posCartRobot.SetTranslation(100.0f, 0.0f, 0.0f);
    Command record = MathRecord("add", "#position.x", "5");
    EXPECT_EQ(10, StepRecord<CommandMathFunction>(record, &state));
    ASSERT_EQ(1u, memory.size());
    EXPECT_EQ("#position", memory[0].name);
    EXPECT_FLOAT_EQ(105.0f, memory[0].state.posCartRobot(0, 3));
    EXPECT_FLOAT_EQ(100.0f, state.posCartRobot(0, 3));
}

TEST_F(CommandFlowTest, MathErrorsThrowTextsAndWriteNothing)
{
    AddNumber("cnt", 1.0f);
    auto thrown = [&](const std::string& function, const std::string& first,
                      const std::string& second) {
        Command record = MathRecord(function, first, second);
        return ThrownText([&] { StepRecord<CommandMathFunction>(record, &state); });
    };
    EXPECT_EQ("Unknown operation in MathOperator!", thrown("multiply", "cnt", "2"));
    EXPECT_EQ("Command: could not find variable", thrown("set", "nothing", "2"));
    EXPECT_EQ("GetFromMemory: wrong var type", thrown("set", "cnt.x", "2"));
    EXPECT_EQ("MathOperator: number out of range!", thrown("set", "cnt", "1e99"));
    memory[0].value = 3.0e38f;
    EXPECT_EQ("MathOperator: result out of range!", thrown("add", "cnt", "3e38"));
    EXPECT_FLOAT_EQ(3.0e38f, memory[0].value);
}

TEST_F(CommandFlowTest, ToStringTexts)
{
    CommandIf branch;
    branch.predecessor = 1;
    EXPECT_EQ("Command IF - Pre: 1 - Succ: -2 -2 -2", branch.ToString());
    CommandJoint joint;
    EXPECT_EQ("Command Joint  - Pre: -42 - Succ: -2 -2 -2", joint.ToString());
    CommandMathFunction math;
    math.mathFunction = "add";
    math.firstOperand = "a";
    math.secondOperand = "1";
    EXPECT_EQ("Command Math add FirstOp: a SecondOp: 1 - Pre: -42 - Succ: -2 -2 -2",
              math.ToString());
    CommandStoreData store;
    store.variableName = "v";
    EXPECT_EQ("Command Store v - Pre: -42 - Succ: -2 -2 -2", store.ToString());
    CommandSub sub;
    sub.subFile = "s.xml";
    EXPECT_EQ("Command Sub s.xml - Pre: -42 - Succ: -2 -2 -2", sub.ToString());
    EXPECT_EQ("CommandSystem - Pre: -42 - Succ: -2 -2 -2", CommandSystem().ToString());
    CommandPlugin plugin;
    plugin.pluginName = "cam";
    plugin.targetPosVariable = "p";
    plugin.modelClassVariable = "m";
    EXPECT_EQ("Command Plugin cam PosVariable: p ClassVariable: m - Pre: -42 - Succ: -2 -2 -2",
              plugin.ToString());
    EXPECT_EQ("VCmd CommandWait: -2 -2 -2", CommandWait().ToString());
}

}  // namespace
