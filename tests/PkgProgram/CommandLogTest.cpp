#include <gtest/gtest.h>
#include <tinyxml2.h>

#include <string>
#include <vector>

#include "PkgProgram/CommandDIO.h"
#include "PkgProgram/CommandIf.h"
#include "PkgProgram/CommandJoint.h"
#include "PkgProgram/CommandLinear.h"
#include "PkgProgram/CommandLoop.h"
#include "PkgProgram/CommandRelative.h"
#include "PkgProgram/CommandSub.h"
#include "PkgProgram/CommandWait.h"
#include "support/LogTail.h"

namespace {

class CommandLogTest : public ::testing::Test {
protected:
    void SetUp() override { LogTail::UsePrivateLog(); }

    template <typename Kind>
    void Read(const std::string& xml)
    {
        tinyxml2::XMLDocument doc;
        ASSERT_EQ(tinyxml2::XML_SUCCESS, doc.Parse(xml.c_str()));
        Kind kind;
        kind.ReadXML(doc.FirstChildElement(), false);
    }
};

TEST_F(CommandLogTest, ElementReadLines)
{
    LogTail log;
    Read<CommandJoint>(R"(<Joint Nr="3" a1="1" a6="-2.25" velPercent="30" smooth="5" />)");
    Read<CommandLinear>(
        R"(<Linear Nr="4" x="1" y="2" z="3" a="4" b="5" c="6" vel="7" acc="8" smooth="9" AbortCondition="din2" />)");
    Read<CommandLinear>(R"(<Linear Nr="5" Source="variable" VariableName="P1" vel="20" />)");
    Read<CommandLinear>(R"(<Linear Nr="6" x="1" y="2" a="4" b="5" c="6" />)");
    Read<CommandRelative>(R"(<Relative Nr="7" MoType="CartTool" x="1" vel="10" />)");
    Read<CommandRelative>(R"(<Relative Nr="8" />)");
    Read<CommandWait>(R"(<Wait Nr="9" Type="Time" Seconds="1.5" />)");
    Read<CommandDIO>(R"(<Output Nr="10" Channel="DOut12" State="true" />)");
    Read<CommandDIO>(R"(<Output Nr="11" Channel="DOut99" State="true" />)");
    Read<CommandLoop>(R"(<Loop Nr="12" Mode="Count" Times="-1" />)");
    Read<CommandSub>(R"(<Sub Nr="13" File="s.xml" />)");
    std::vector<std::string> expected = {
        "   Nr. 3: Joint 1.0 0.0 0.0 0.0 0.0 -2.2 with vel 30.0%, acc 50.0%, smooth 5.0%, "
        "abortcond false",
        "   Nr. 4: Linear 1.0 2.0 3.0 -- 4.0 5.0 6.0   with 7.0 mm/s acc 8.0%, smooth 9.0%, "
        "abortcond din2",
        "   Nr. 5: Linear by Variable p1  with 20.0 mm/s acc 0.0%, smooth 0.0%, abortcond ",
        "   Nr. 6: ERROR Linear: attribute \"z\" missing or not a number, command not added",
        "   Nr. 7: Relative CartTool 1.0 0.0 0.0 with 10.0 mm/s, acc 50.0%, smooth 20.0%, "
        "abortcond false",
        "Command Relative: Attribute \"MoType\" not found! Cannot read command!",
        "   Nr. 9: Wait 1500 ms",
        "   Nr. 10: DOut channel 11 state 1",
        "Error: could not read Digital-Out command...",
        "   Nr. 12: ERROR Loop counting: 0 iterations",
        "   Nr. 13: Sub file s.xml",
    };
    EXPECT_EQ(expected, log.Lines());
}

TEST_F(CommandLogTest, StepAndMemoryLines)
{
    std::vector<MemoryPosition> memory;
    DataTypes::RobotState state;
    state.digitalIn[0] = true;
    LogTail log;

    CommandIf branch;
    branch.condition = "din1";
    branch.memory = &memory;
    branch.Interpolate(10, 100.0f, &state);
    branch.Interpolate(10, 100.0f, &state);
    CommandDIO dio;
    dio.dioChannel = 5;
    dio.dioState = true;
    dio.Interpolate(10, 100.0f, &state);
    CommandSub sub;
    sub.subProgram = 2;
    sub.subFile = "s.xml";
    sub.Interpolate(10, 100.0f, &state);
    try {
        branch.GetVariableNumberValue("ghost", &state);
    } catch (const char*) {
    }
    Command noMemory;
    try {
        noMemory.GetVariableNumberValue("ghost", &state);
    } catch (const char*) {
    }
    std::vector<std::string> expected = {
        "IF evaluation: din1 = 1", "EndIf", "DIO: channel 5 to 1", "Sub: program nr 2: s.xml",
        "Memory: could not find variable ghost!", "ERROR in CMD: memory not initialized!"};
    EXPECT_EQ(expected, log.Lines());
}

}  // namespace
