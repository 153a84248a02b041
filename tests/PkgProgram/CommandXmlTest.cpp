#include <gtest/gtest.h>
#include <tinyxml2.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>

#include "PkgProgram/CommandDIO.h"
#include "PkgProgram/CommandGripper.h"
#include "PkgProgram/CommandIf.h"
#include "PkgProgram/CommandJoint.h"
#include "PkgProgram/CommandLinear.h"
#include "PkgProgram/CommandLoop.h"
#include "PkgProgram/CommandMathFunction.h"
#include "PkgProgram/CommandPlugin.h"
#include "PkgProgram/CommandRelative.h"
#include "PkgProgram/CommandStoreData.h"
#include "PkgProgram/CommandSub.h"
#include "PkgProgram/CommandSystem.h"
#include "PkgProgram/CommandWait.h"
#include "support/ThrownText.h"

namespace {

// Reads one element given as XML text into a fresh kind.
template <typename Kind>
Kind Read(const std::string& xml)
{
    tinyxml2::XMLDocument doc;
    EXPECT_EQ(tinyxml2::XML_SUCCESS, doc.Parse(xml.c_str())) << xml;
    Kind kind;
    kind.ReadXML(doc.FirstChildElement(), false);
    return kind;
}

TEST(CommandXmlTest, JointAttributesAndDefaults)
{
    CommandJoint j = Read<CommandJoint>(
        R"(<Joint Nr="1" a1="10.5" a3="-20" a6="90" e2="4" velPercent="30" />)");
    EXPECT_TRUE(j.valid);
    EXPECT_FLOAT_EQ(10.5f, j.targetState.jointSetPoint[0]);
    EXPECT_FLOAT_EQ(0.0f, j.targetState.jointSetPoint[1]);
    EXPECT_FLOAT_EQ(-20.0f, j.targetState.jointSetPoint[2]);
    EXPECT_FLOAT_EQ(90.0f, j.targetState.jointSetPoint[5]);
    EXPECT_FLOAT_EQ(4.0f, j.targetState.jointSetPoint[7]);
    EXPECT_FLOAT_EQ(30.0f, j.velocityPercent);
    EXPECT_FLOAT_EQ(50.0f, j.accPercent);
    EXPECT_FLOAT_EQ(20.0f, j.smoothPercent);
    EXPECT_EQ("false", j.condition);
    EXPECT_EQ(0, j.motionType);

    // Unreadable numbers leave the default, including names tinyxml2 would take as numbers.
    CommandJoint odd = Read<CommandJoint>(R"(<Joint a1="abc" a2="nan" a3="inf" acc="x" />)");
    EXPECT_FLOAT_EQ(0.0f, odd.targetState.jointSetPoint[0]);
    EXPECT_FLOAT_EQ(0.0f, odd.targetState.jointSetPoint[1]);
    EXPECT_FLOAT_EQ(0.0f, odd.targetState.jointSetPoint[2]);
    EXPECT_FLOAT_EQ(50.0f, odd.accPercent);
}

TEST(CommandXmlTest, LinearNumericalBuildsRotationFromAbc)
{
    CommandLinear l = Read<CommandLinear>(
        R"(<Linear Nr="2" x="100" y="200" z="300" a="10" b="20" c="30" vel="50" acc="60" smooth="5" AbortCondition="din1" />)");
    ASSERT_TRUE(l.valid);
    EXPECT_EQ("numerical", l.source);
    DataTypes::Matrix44 expected;
    expected.ABCToMatrix(10.0f, 20.0f, 30.0f);
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c)
            EXPECT_FLOAT_EQ(expected(r, c), l.targetState.posCartRobot(r, c));
    EXPECT_FLOAT_EQ(200.0f, l.targetState.posCartRobot(1, 3));
    EXPECT_FLOAT_EQ(1.0f, l.targetState.posCartRobot(3, 3));
    EXPECT_FLOAT_EQ(0.0f, l.targetState.posCartRobot(3, 0));
    EXPECT_FLOAT_EQ(20.0f, l.targetState.posB);
    EXPECT_FLOAT_EQ(50.0f, l.cartVelocity);
    EXPECT_FLOAT_EQ(90.0f, l.rotVelocity);
    EXPECT_FLOAT_EQ(60.0f, l.accPercent);
    EXPECT_FLOAT_EQ(5.0f, l.smoothPercent);
    EXPECT_EQ("din1", l.condition);
    EXPECT_EQ(1, l.motionType);

    CommandLinear byVariable =
        Read<CommandLinear>(R"(<Linear Source="Variable" VariableName="Pick1" vel="20" />)");
    EXPECT_TRUE(byVariable.valid);
    EXPECT_EQ("variable", byVariable.source);
    EXPECT_EQ("pick1", byVariable.variableName);
    EXPECT_EQ("", byVariable.condition);
}

TEST(CommandXmlTest, LinearMissingCoordinateOrWrongSourceIsRejected)
{
    for (const char* missing : {"x", "y", "z", "a", "b", "c"}) {
        std::string xml = "<Linear Nr=\"4\"";
        for (const char* name : {"x", "y", "z", "a", "b", "c"})
            if (std::string(name) != missing)
                xml += std::string(" ") + name + "=\"1\"";
        xml += " />";
        EXPECT_FALSE(Read<CommandLinear>(xml).valid) << missing;
    }
    EXPECT_EQ("in Read Linear: wrong source",
              ThrownText([] { Read<CommandLinear>(R"(<Linear Source="camera" />)"); }));
}

TEST(CommandXmlTest, RelativeModes)
{
    CommandRelative joint =
        Read<CommandRelative>(R"(<Relative MoType="Joint" a2="5" velPercent="10" />)");
    EXPECT_TRUE(joint.valid);
    EXPECT_EQ(0, joint.relativeMode);
    EXPECT_EQ(0, joint.motionType);
    EXPECT_FLOAT_EQ(5.0f, joint.deltaState.jointSetPoint[1]);
    EXPECT_FLOAT_EQ(0.0f, joint.deltaState.jointSetPoint[0]);
    EXPECT_FLOAT_EQ(10.0f, joint.velocityPercent);

    CommandRelative base =
        Read<CommandRelative>(R"(<Relative MoType="CartBase" x="1" z="3" vel="25" />)");
    EXPECT_EQ(1, base.relativeMode);
    EXPECT_EQ(1, base.motionType);
    EXPECT_FLOAT_EQ(1.0f, base.deltaState.posCartRobot(0, 3));
    EXPECT_FLOAT_EQ(0.0f, base.deltaState.posCartRobot(1, 3));
    EXPECT_FLOAT_EQ(3.0f, base.deltaState.posCartRobot(2, 3));
    EXPECT_FLOAT_EQ(25.0f, base.cartVelocity);
    EXPECT_FLOAT_EQ(50.0f, base.accPercent);
    EXPECT_FLOAT_EQ(20.0f, base.smoothPercent);
    EXPECT_EQ("false", base.condition);

    EXPECT_EQ(2, Read<CommandRelative>(R"(<Relative MoType="CartTool" />)").relativeMode);
    EXPECT_EQ(2, Read<CommandRelative>(R"(<Relative MoType="anything" />)").relativeMode);
    EXPECT_FALSE(Read<CommandRelative>(R"(<Relative x="1" />)").valid);

    // A relative joint record keeps its joint motion type through the kind.
    Command record = joint;
    EXPECT_EQ(0, CommandRelative(record).motionType);
}

TEST(CommandXmlTest, WaitSecondsRule)
{
    auto ms = [](const char* seconds) {
        return Read<CommandWait>(std::string(R"(<Wait Type="Time" Seconds=")") + seconds +
                                 "\" />")
            .waitTimeMs;
    };
    EXPECT_EQ(1500, ms("1.5"));
    EXPECT_EQ(2000, ms("2"));
    EXPECT_EQ(250, ms("0.25"));
    EXPECT_EQ(0, ms("none"));
    EXPECT_FALSE(Read<CommandWait>(R"(<Wait Type="Time" Seconds="1e10" />)").valid);
    EXPECT_FALSE(Read<CommandWait>(R"(<Wait Type="Time" Seconds="-1" />)").valid);

    CommandWait conditional =
        Read<CommandWait>(R"(<Wait Type="Conditional" Condition="din3 and x > 2" />)");
    EXPECT_TRUE(conditional.valid);
    EXPECT_EQ(1, conditional.mode);
    EXPECT_EQ("din3 and x > 2", conditional.condition);

    CommandWait unknown = Read<CommandWait>(R"(<Wait Type="Later" Seconds="5" />)");
    EXPECT_TRUE(unknown.valid);
    EXPECT_EQ(0, unknown.mode);
    EXPECT_EQ(0, unknown.waitTimeMs);
}

// Decimal seconds give exact milliseconds (a float made 0.7 s into 699 ms),
// rounded to the nearest millisecond, halves up; bounded by the int range.
TEST(CommandXmlTest, WaitSecondsAreExactToTheMillisecond)
{
    const struct {
        const char* seconds;
        int ms;
    } table[] = {{"0.7", 700},        {"0.9", 900},     {"1.3", 1300},        {"2.1", 2100},
                 {"16777.217", 16777217}, {"0.001", 1}, {"0.0005", 1},        {"0.00049", 0},
                 {"1.9995", 2000},    {".5", 500},      {"1e-3", 1},          {"2.5E1", 25000},
                 {" +0.7s", 700},     {"-0.0004", 0},   {"2147483.647", INT_MAX}};
    for (const auto& row : table) {
        CommandWait wait = Read<CommandWait>(std::string(R"(<Wait Type="Time" Seconds=")") +
                                             row.seconds + "\" />");
        EXPECT_TRUE(wait.valid) << row.seconds;
        EXPECT_EQ(row.ms, wait.waitTimeMs) << row.seconds;
    }
    for (const char* seconds : {"2147483.6475", "99999999999", "1e999999999999", "-0.0005"})
        EXPECT_FALSE(Read<CommandWait>(std::string(R"(<Wait Type="Time" Seconds=")") + seconds +
                                       "\" />")
                         .valid)
            << seconds;
}

TEST(CommandXmlTest, StoreAndMathAndPluginLowerCase)
{
    CommandStoreData number =
        Read<CommandStoreData>(R"(<Store Type="number" Name="Counter" Value="4.5" />)");
    EXPECT_TRUE(number.valid);
    EXPECT_EQ("counter", number.variableName);
    EXPECT_EQ("number", number.variableType);
    EXPECT_FLOAT_EQ(4.5f, number.numberValue);
    EXPECT_EQ("position", Read<CommandStoreData>(R"(<Store Type="position" Name="P" />)")
                              .variableType);
    EXPECT_EQ("in Read StoreData: wrong type",
              ThrownText([] { Read<CommandStoreData>(R"(<Store Type="Number" Name="a" />)"); }));

    CommandMathFunction math = Read<CommandMathFunction>(
        R"(<MathOperator Function="ADD" FirstOperand="Pos.X" SecondOperand="Cnt" />)");
    EXPECT_TRUE(math.valid);
    EXPECT_EQ("add", math.mathFunction);
    EXPECT_EQ("pos.x", math.firstOperand);
    EXPECT_EQ("cnt", math.secondOperand);

    CommandPlugin plugin = Read<CommandPlugin>(
        R"(<Plugin PluginName="IFMO2D" VarTargetPos="Target" VarModelClass="Cls" />)");
    EXPECT_TRUE(plugin.valid);
    EXPECT_EQ("ifmo2d", plugin.pluginName);
    EXPECT_EQ("target", plugin.targetPosVariable);
    EXPECT_EQ("cls", plugin.modelClassVariable);
}

TEST(CommandXmlTest, OutputChannelRule)
{
    CommandDIO first = Read<CommandDIO>(R"(<Output Channel="DOut1" State="true" />)");
    EXPECT_TRUE(first.valid);
    EXPECT_EQ(0, first.dioChannel);
    EXPECT_TRUE(first.dioState);
    CommandDIO twelve = Read<CommandDIO>(R"(<Output Channel="DOut12" State="True" />)");
    EXPECT_EQ(11, twelve.dioChannel);
    EXPECT_TRUE(twelve.dioState);
    EXPECT_FALSE(Read<CommandDIO>(R"(<Output Channel="DOut64" State="TRUE" />)").dioState);
    EXPECT_TRUE(Read<CommandDIO>(R"(<Output Channel="DOut64" />)").valid);
    for (const char* bad : {"DOu", "DOut", "DOutx", "DOut0", "DOut65", "DOut-3",
                            "DOut99999999999999999999"})
        EXPECT_FALSE(Read<CommandDIO>(std::string("<Output Channel=\"") + bad + "\" />").valid)
            << bad;
    EXPECT_FALSE(Read<CommandDIO>("<Output State=\"true\" />").valid);
}

TEST(CommandXmlTest, GripperSubLoopIfSystem)
{
    EXPECT_FLOAT_EQ(100.0f, Read<CommandGripper>(R"(<Gripper Position="150" />)").gripperValues[0]);
    EXPECT_FLOAT_EQ(0.0f, Read<CommandGripper>(R"(<Gripper Position="-5" />)").gripperValues[0]);
    EXPECT_FLOAT_EQ(42.5f, Read<CommandGripper>(R"(<Gripper Position="42.5" />)").gripperValues[0]);

    CommandSub sub = Read<CommandSub>(R"(<Sub File="pick.xml" />)");
    EXPECT_TRUE(sub.valid);
    EXPECT_EQ("pick.xml", sub.subFile);

    CommandLoop counted = Read<CommandLoop>(R"(<Loop Mode="Count" Times="3" />)");
    EXPECT_TRUE(counted.valid);
    EXPECT_EQ(0, counted.mode);
    EXPECT_EQ(3, counted.loopCount);
    for (const char* xml : {R"(<Loop Mode="Count" Times="-2" />)", R"(<Loop Mode="Count" />)",
                            R"(<Loop Mode="Sometimes" Times="4" />)"}) {
        CommandLoop defective = Read<CommandLoop>(xml);
        EXPECT_TRUE(defective.valid) << xml;  // kept so that EndLoop stays matched
        EXPECT_EQ(0, defective.mode) << xml;
        EXPECT_EQ(0, defective.loopCount) << xml;
    }
    CommandLoop conditional = Read<CommandLoop>(R"(<Loop Mode="DIn" Condition="!din4" />)");
    EXPECT_EQ(1, conditional.mode);
    EXPECT_EQ("!din4", conditional.condition);

    CommandIf branch = Read<CommandIf>(R"(<If Condition="Counter > 5" />)");
    EXPECT_TRUE(branch.valid);
    EXPECT_EQ("Counter > 5", branch.condition);  // kept verbatim
    EXPECT_TRUE(Read<CommandSystem>("<System />").valid);
}

class CommandWriteTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/orvane-cmdwrite-XXXXXX";
        ASSERT_NE(nullptr, mkdtemp(pattern));
        dir = pattern;
        path = dir + "/prog.xml";
    }
    void TearDown() override
    {
        std::remove(path.c_str());
        rmdir(dir.c_str());
    }

    // Writes the commands as a program and parses it back.
    void WriteProgram(std::initializer_list<Command*> commands)
    {
        std::ofstream out(path, std::ios::trunc);
        out << "<?xml version=\"1.0\" encoding=\"utf-8\"?><Program>";
        int nr = 1;
        for (Command* c : commands)
            c->WriteXML(&out, nr++);
        out << "</Program>";
        out.close();
        ASSERT_EQ(tinyxml2::XML_SUCCESS, doc.LoadFile(path.c_str()));
    }

    std::string dir;
    std::string path;
    tinyxml2::XMLDocument doc;
};

TEST_F(CommandWriteTest, JointLinearGripperReadBackEqual)
{
    CommandJoint joint;
    float joints[9] = {1.25f, -2.5f, 3.0f, 45.125f, -90.0f, 180.0f, 7.5f, 8.0f, -9.0f};
    std::copy(joints, joints + 9, joint.targetState.jointSetPoint);
    joint.velocityPercent = 35.5f;

    CommandLinear linear;
    linear.targetState.posCartRobot = DataTypes::Matrix44();
    linear.targetState.posCartRobot.ABCToMatrix(15.0f, -30.0f, 170.0f);
    linear.targetState.posCartRobot.SetTranslation(250.5f, -10.0f, 300.1f);
    linear.targetState.posA = 15.0f;
    linear.targetState.posB = -30.0f;
    linear.targetState.posC = 170.0f;
    linear.targetState.jointSetPoint[6] = 12.0f;
    linear.cartVelocity = 75.0f;

    CommandGripper gripper(62.5f);
    CommandWait wait(500);  // writes nothing
    WriteProgram({&joint, &wait, &linear, &gripper});

    tinyxml2::XMLElement* e = doc.FirstChildElement("Program")->FirstChildElement();
    ASSERT_STREQ("Joint", e->Name());
    CommandJoint jointBack;
    jointBack.ReadXML(e, false);
    for (int i = 0; i < 9; ++i)
        EXPECT_FLOAT_EQ(joints[i], jointBack.targetState.jointSetPoint[i]) << i;
    EXPECT_FLOAT_EQ(35.5f, jointBack.velocityPercent);
    EXPECT_FLOAT_EQ(40.0f, jointBack.accPercent);  // written as the constant 40

    e = e->NextSiblingElement();
    ASSERT_STREQ("Linear", e->Name());
    CommandLinear linearBack;
    linearBack.ReadXML(e, false);
    ASSERT_TRUE(linearBack.valid);
    for (int i = 0; i < 16; ++i)
        EXPECT_NEAR(linear.targetState.posCartRobot.m[i], linearBack.targetState.posCartRobot.m[i],
                    1e-3f)
            << i;
    EXPECT_FLOAT_EQ(-30.0f, linearBack.targetState.posB);
    EXPECT_FLOAT_EQ(12.0f, linearBack.targetState.jointSetPoint[6]);
    EXPECT_FLOAT_EQ(75.0f, linearBack.cartVelocity);

    e = e->NextSiblingElement();
    ASSERT_STREQ("Gripper", e->Name());
    CommandGripper gripperBack;
    gripperBack.ReadXML(e, false);
    EXPECT_FLOAT_EQ(62.5f, gripperBack.gripperValues[0]);
    EXPECT_EQ(nullptr, e->NextSiblingElement());
}

TEST_F(CommandWriteTest, JointElementText)
{
    CommandJoint joint;
    joint.targetState.jointSetPoint[0] = 1.0f;
    joint.velocityPercent = 20.0f;
    {
        std::ofstream out(path);
        joint.WriteXML(&out, 3);
    }
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_EQ("<Joint Nr=\"3\" a1=\"1.000\" a2=\"0.000\" a3=\"0.000\" a4=\"0.000\" a5=\"0.000\" "
              "a6=\"0.000\" e1=\"0.000\" e2=\"0.000\" e3=\"0.000\" velPercent=\"20.0\" acc=\"40\" "
              "smooth=\"true\" Descr=\"\" />\n",
              text.str());
}

}  // namespace
