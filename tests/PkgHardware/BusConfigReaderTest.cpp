#include "PkgHardware/BusConfigReader.h"

#include <gtest/gtest.h>

#include <utility>

#include "ConfigError.h"
#include "PkgHardware/HardwareProtocolVKTCAN.h"
#include "PkgHardware/HardwareProtocolVKTCANV2.h"
#include "PkgHardware/ProtocolFactory.h"
#include "support/TempDir.h"

namespace {

// The message of the ConfigError thrown for `xml`, "" when none is thrown.
std::string ErrorFor(const TempDir& dir, const std::string& xml, bool v2 = true) {
    std::string path = dir.Write("robot.xml", xml);
    try {
        if (v2) {
            HardwareProtocolVKTCANV2 p;
            p.Init("r", "t", path);
        } else {
            HardwareProtocolVKTCAN p;
            p.Init("r", "t", path);
        }
    } catch (const ConfigError& e) {
        EXPECT_EQ(e.ExitCode(), 46);
        return e.what();
    }
    return "";
}

const std::string kHead = "<Robot><BusConfiguration GapMS=\"3\"><Joints NrOfJoints=\"1\"/>";
const std::string kTail = "</BusConfiguration><Referencing/></Robot>";

}  // namespace

TEST(BusConfigReader, ReadsGapJointsAndReferencing) {
    TempDir dir;
    std::string path = dir.Write("robot.xml",
                                 "<?xml version=\"1.0\"?>\n<Robot>\n <BusConfiguration GapMS=\"0\">\n"
                                 "  <Joints NrOfJoints=\"2\"/>\n  <!-- joints -->\n"
                                 "  <Joint1 ID=\"33\" GearScale=\"-12.5\" GearZero=\"4\"/>\n"
                                 "  <Joint0 ID=\"17\" GearScale=\"190\" GearZero=\"0\"/>\n"
                                 " </BusConfiguration>\n <Referencing Mandatory=\"false\"/>\n</Robot>\n");
    BusConfigReader::Result r = BusConfigReader::Read(path, "VKTCANV2", true);
    EXPECT_EQ(r.gapMS, 0);
    ASSERT_EQ(r.joints.size(), 2u);
    EXPECT_EQ(r.joints[0].id, 17);
    EXPECT_EQ(r.joints[1].id, 33);
    EXPECT_FLOAT_EQ(r.joints[1].gearScale, -12.5f);
    EXPECT_FLOAT_EQ(r.joints[1].gearZero, 4.0f);
    EXPECT_FALSE(r.referencingMandatory);

    HardwareProtocolVKTCANV2 p;
    p.Init("r", "t", path);
    EXPECT_EQ(p.nrOfJoints, 2);
    EXPECT_EQ(p.modules[1].busId, 33);
    EXPECT_EQ(p.gapMS, 0);
    EXPECT_FALSE(p.referencingMandatory.load());
    EXPECT_EQ(p.minSupply, 20000);
    EXPECT_EQ(p.modules[1].errorCode, 0x100);
    EXPECT_FALSE(p.cyclicExchange.load());

    // Mandatory defaults to true when the attribute is missing.
    TempDir other;
    std::string second = other.Write("robot.xml", kHead + "<Joint0 ID=\"1\" GearScale=\"1\" GearZero=\"0\"/>" + kTail);
    EXPECT_TRUE(BusConfigReader::Read(second, "VKTCANV2", true).referencingMandatory);
}

TEST(BusConfigReader, FatalErrorsCarryTheirMessages) {
    TempDir dir;
    const std::string joint = "<Joint0 ID=\"1\" GearScale=\"1\" GearZero=\"0\"/>";
    EXPECT_EQ(ErrorFor(dir, "<Robot><BusConfiguration"),
              "ProtocolVKTCAN: could not read ini correctly: " + dir.Path() + "/robot.xml");
    const std::pair<std::string, std::string> cases[] = {
        {"<Other/>",
         "ProtocolVKTCAN: line Robot not found in project file!"},
        {"<Robot/>",
         "ProtocolVKTCAN: line BusConfiguration not found in project file!"},
        {"<Robot><BusConfiguration/></Robot>",
         "ProtocolVKTCAN: attribute GapMS not found in line BusConfiguration of project file!"},
        {"<Robot><BusConfiguration GapMS=\"-1\"/></Robot>",
         "ProtocolVKTCAN: attribute GapMS not found in line BusConfiguration of project file!"},
        {"<Robot><BusConfiguration GapMS=\"3\"/></Robot>",
         "ProtocolVKTCAN: line Joints not found in project file!"},
        {"<Robot><BusConfiguration GapMS=\"3\"><Joints NrOfJoints=\"-2\"/></BusConfiguration></Robot>",
         "ProtocolVKTCANV2: attribute NrOfJoints not found in line Joints of project file!"},
        {"<Robot><BusConfiguration GapMS=\"3\"><Joints NrOfJoints=\"10\"/></BusConfiguration></Robot>",
         "ProtocolVKTCANV2: attribute NrOfJoints above 9 in line Joints of project file!"},
        {kHead + "<Joint1 ID=\"1\" GearScale=\"1\" GearZero=\"0\"/>" + kTail,
         "ProtocolVKTCANV2: joint definition not found!"},
        {kHead + "<Joint0 GearScale=\"1\" GearZero=\"0\"/>" + kTail,
         "ProtocolVKTCAN: joint ID not found!"},
        {kHead + "<Joint0 ID=\"-1\" GearScale=\"1\" GearZero=\"0\"/>" + kTail,
         "ProtocolVKTCAN: joint ID not found!"},
        {kHead + "<Joint0 ID=\"256\" GearScale=\"1\" GearZero=\"0\"/>" + kTail,
         "ProtocolVKTCAN: joint ID above 255!"},
        {kHead + "<Joint0 ID=\"1\" GearScale=\"x\" GearZero=\"0\"/>" + kTail,
         "ProtocolVKTCAN: joint GearScale not found!"},
        {kHead + "<Joint0 ID=\"1\" GearScale=\"1\"/>" + kTail,
         "ProtocolVKTCAN: joint GearZero not found!"},
        {kHead + joint + "</BusConfiguration></Robot>",
         "ProtocolVKTCAN: line Referencing not found in project file!"},
    };
    for (const auto& [xml, message] : cases) EXPECT_EQ(ErrorFor(dir, xml), message) << xml;
    // V1 reads the same elements but needs no Referencing.
    EXPECT_EQ(ErrorFor(dir, kHead + joint + "</BusConfiguration></Robot>", false), "");
    EXPECT_EQ(ErrorFor(dir, kHead + "</BusConfiguration></Robot>", false), "ProtocolVKTCANV2: joint definition not found!");
    TempDir empty;
    EXPECT_EQ(ErrorFor(empty, ""), "ProtocolVKTCAN: could not read ini correctly: " + empty.Path() + "/robot.xml");
}

TEST(ProtocolFactory, CreatesByTypeName) {
    EXPECT_NE(dynamic_cast<HardwareProtocolVKTCAN*>(ProtocolFactory::Create("VKTCAN").get()), nullptr);
    EXPECT_NE(dynamic_cast<HardwareProtocolVKTCANV2*>(ProtocolFactory::Create("VKTCANV2").get()), nullptr);
    EXPECT_EQ(ProtocolFactory::Create("vktcan"), nullptr);
    EXPECT_EQ(ProtocolFactory::Create(""), nullptr);
}
