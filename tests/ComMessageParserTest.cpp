#include "ComMessageParser.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {
using Action = ComRequest::Action;
using Lines = std::vector<std::string>;

ComRequest P(const std::string& message) { return ComMessageParser::Parse(message); }

void ExpectPending(const std::string& message, int code, const Lines& log) {
    SCOPED_TRACE(message);
    ComRequest r = P(message);
    EXPECT_EQ(r.action, Action::Pending);
    EXPECT_EQ(r.code, code);
    EXPECT_EQ(r.logLines, log);
}

void ExpectLogOnly(const std::string& message, const Lines& log) {
    SCOPED_TRACE(message);
    ComRequest r = P(message);
    EXPECT_EQ(r.action, Action::None);
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.logLines, log);
}
}  // namespace

TEST(ComMessageParser, CommandsWithoutArgumentsSetTheirCodeAndLogLine) {
    ExpectPending("NEXSTART 1 CMD Reset NEXEND", 10, {"NEX-Server: Reset joints"});
    ExpectPending("NEXSTART 1 CMD Enable NEXEND", 11, {"NEX-Server: Enable joints"});
    ExpectPending("NEXSTART 1 CMD Disable NEXEND", 12, {"NEX-Server: Disable joints"});
    ExpectPending("NEXSTART 1 CMD SetJointsToZero NEXEND", 13,
                  {"NEX-Server: Set joints to zero"});
    ExpectPending("NEXSTART 1 CMD ReferenceAllJoints NEXEND", 16,
                  {"NEX-Server: Reference all joints"});
    ExpectPending("NEXSTART 1 CMD MotionTypeJoint NEXEND", 21,
                  {"NEX-Server: Set motion type to: Joint"});
    ExpectPending("NEXSTART 1 CMD MotionTypeCartBase NEXEND", 22,
                  {"NEX-Server: Set motion type to: CartBase"});
    ExpectPending("NEXSTART 1 CMD MotionTypeCartTool NEXEND", 23,
                  {"NEX-Server: Set motion type to: CartTool"});
    ExpectPending("NEXSTART 1 CMD MotionTypePlatform NEXEND", 24,
                  {"NEX-Server: Set motion type to: Platform"});
    ExpectPending("NEXSTART 1 CMD StartProgram NEXEND", 2, {});
    ExpectPending("NEXSTART 1 CMD PauseProgram NEXEND", 3, {});
    ExpectPending("NEXSTART 1 CMD StopProgram NEXEND", 4, {});
    ExpectPending("NEXSTART 1 CMD DeleteProgram NEXEND", 5, {});
    ExpectLogOnly("NEXSTART 1 CMD Connect NEXEND", {"NEX-Server: Connect command not available"});
    ExpectLogOnly("NEXSTART 1 CMD Disconnect NEXEND",
                  {"NEX-Server: Disconnect command not available"});
}

TEST(ComMessageParser, GroupWordIsComparedByPrefixAndUnknownKeywordsAreLogged) {
    ExpectPending("NEXSTART 5 CMDX Enable NEXEND", 11, {"NEX-Server: Enable joints"});
    ExpectLogOnly("NEXSTART 5 CMD Jump NEXEND",
                  {"NEX-Server: ERROR Could not parse robot command!"});
    ExpectLogOnly("NEXSTART 5 CMD NEXEND", {"NEX-Server: ERROR Could not parse robot command!"});
    ExpectLogOnly("NEXSTART 5 SYSTEM Reboot NEXEND",
                  {"NEX-Server: ERROR Could not parse system command!"});
    // Not a message, or an unknown group: silently ignored.
    ExpectLogOnly("HELLO 5 CMD Enable NEXEND", {});
    ExpectLogOnly("NEXSTART 5 STATUS Enable NEXEND", {});
    ExpectLogOnly("NEXSTART NEXEND", {});
    ExpectLogOnly("", {});
}

TEST(ComMessageParser, DigitalOutputChannelLimits) {
    ComRequest r = P("NEXSTART 1 CMD DOUT 63 true NEXEND");
    EXPECT_EQ(r.code, 31);
    EXPECT_EQ(r.intArg, 63);
    EXPECT_EQ(r.logLines, Lines{"NEX-Server: CMD-DOUT to TRUE: channel  63"});

    r = P("NEXSTART 1 CMD DOUT 0x0a false NEXEND");  // %i reads hexadecimal
    EXPECT_EQ(r.code, 32);
    EXPECT_EQ(r.intArg, 10);
    EXPECT_EQ(r.logLines, Lines{"NEX-Server: CMD-DOUT to FALSE: channel  10"});

    r = P("NEXSTART 1 CMD DOUT 010 TRUE NEXEND");  // octal; only "true" switches on
    EXPECT_EQ(r.code, 32);
    EXPECT_EQ(r.intArg, 8);

    ExpectLogOnly("NEXSTART 1 CMD DOUT 64 true NEXEND", {"NEX-Server: DOUT channel > 64!"});
    ExpectLogOnly("NEXSTART 1 CMD DOUT -1 true NEXEND", {"NEX-Server: DOUT channel <0!"});
    ExpectLogOnly("NEXSTART 1 CMD DOUT x true NEXEND",
                  {"NEX-Server: ERROR missing or invalid number in DOUT, message ignored"});
}

TEST(ComMessageParser, ReplayModeReferenceOverrideAndShutdown) {
    ExpectPending("NEXSTART 1 CMD ProgramReplayMode 0 NEXEND", 7,
                  {"NEX-Server: Replay Mode set to Single"});
    ExpectPending("NEXSTART 1 CMD ProgramReplayMode 1 NEXEND", 8,
                  {"NEX-Server: Replay Mode set to Repeat"});
    ExpectPending("NEXSTART 1 CMD ProgramReplayMode 2 NEXEND", 9,
                  {"NEX-Server: Replay Mode set to Step"});
    ExpectLogOnly("NEXSTART 1 CMD ProgramReplayMode 3 NEXEND",
                  {"NEX-Server: Replay Mode not recongnized!"});
    ExpectLogOnly("NEXSTART 1 CMD ProgramReplayMode NEXEND",
                  {"NEX-Server: Replay Mode not recongnized!"});

    ComRequest r = P("NEXSTART 1 CMD ReferenceSingleJoint 4 NEXEND");
    EXPECT_EQ(r.code, 15);
    EXPECT_EQ(r.intArg, 4);
    EXPECT_EQ(r.logLines, Lines{"NEX-Server: Reference Joint  4"});

    r = P("NEXSTART 1 CMD Override 150.25 NEXEND");  // passed on unchanged
    EXPECT_EQ(r.code, 33);
    EXPECT_FLOAT_EQ(r.floatArg, 150.25f);
    EXPECT_EQ(r.logLines, Lines{"NEX-Server: Change override to  150.2"});
    r = P("NEXSTART 1 CMD Override -5 NEXEND");
    EXPECT_EQ(r.code, 33);
    EXPECT_FLOAT_EQ(r.floatArg, -5.0f);
    ExpectLogOnly("NEXSTART 1 CMD Override fast NEXEND",
                  {"NEX-Server: ERROR missing or invalid number in Override, message ignored"});
    ExpectLogOnly("NEXSTART 1 CMD Override nan NEXEND",
                  {"NEX-Server: ERROR missing or invalid number in Override, message ignored"});

    r = P("NEXSTART 1 SYSTEM Shutdown 1 NEXEND");
    EXPECT_EQ(r.code, 99);
    EXPECT_EQ(r.intArg, 1);
    EXPECT_TRUE(r.logLines.empty());
    r = P("NEXSTART 1 SYSTEM Shutdown 99 NEXEND");
    EXPECT_EQ(r.code, 99);
    EXPECT_EQ(r.intArg, 99);
    ExpectLogOnly("NEXSTART 1 SYSTEM Shutdown NEXEND",
                  {"NEX-Server: ERROR missing or invalid number in Shutdown, message ignored"});
}

TEST(ComMessageParser, CanMessageIsOnlyLogged) {
    ExpectLogOnly("NEXSTART 1 SYSTEM CAN ID 33 Length 8 MSG 1 2 3 4 5 6 7 8 NEXEND",
                  {"NEX-Server: CAN message to ID 33, length 8, data: 1 2 3 4 5 6 7 8"});
    ExpectLogOnly("NEXSTART 1 SYSTEM CAN NEXEND",
                  {"NEX-Server: CAN message to ID -1, length -1, data: 0 0 0 0 0 0 0 0"});
    ExpectLogOnly("NEXSTART 1 SYSTEM CAN ID 5 Length 2 MSG 9 NEXEND",
                  {"NEX-Server: CAN message to ID 5, length 2, data: 9 0 0 0 0 0 0 0"});
}

TEST(ComMessageParser, KeepAliveSetsJogValuesWithinPercent) {
    ComRequest r = P("NEXSTART 3 ALIVEJOG 1 -2.5 0 0 0 0 0 250 -1e9 NEXEND");
    EXPECT_EQ(r.action, Action::KeepAlive);
    EXPECT_TRUE(r.jogValid);
    EXPECT_FLOAT_EQ(r.values[0], 1.0f);
    EXPECT_FLOAT_EQ(r.values[1], -2.5f);
    EXPECT_FLOAT_EQ(r.values[7], 100.0f);
    EXPECT_FLOAT_EQ(r.values[8], -100.0f);
    EXPECT_TRUE(r.logLines.empty());

    for (const char* bad : {"NEXSTART 3 ALIVEJOG 1 2 3 NEXEND",
                            "NEXSTART 3 ALIVEJOG 1 2 3 4 5 6 7 8 inf NEXEND",
                            "NEXSTART 3 ALIVEJOG 1 2 3 4 x 6 7 8 9 NEXEND"}) {
        SCOPED_TRACE(bad);
        r = P(bad);
        EXPECT_EQ(r.action, Action::KeepAlive);
        EXPECT_FALSE(r.jogValid);
        for (float v : r.values) EXPECT_EQ(v, 0.0f);
        EXPECT_EQ(r.logLines,
                  Lines{"NEX-Server: ERROR invalid keep-alive jog values, jog stopped"});
    }
}

TEST(ComMessageParser, ProgramRequestsAndFileNames) {
    ComRequest r = P("NEXSTART 1 CMD LoadProgram demo.xml NEXEND");
    EXPECT_EQ(r.action, Action::LoadProgram);
    EXPECT_EQ(r.text, "demo.xml");
    EXPECT_EQ(r.logLines, Lines{"NEX-Server: Loading program demo.xml"});

    r = P("NEXSTART 1 CMD DeleteProgramFromFileSystem old.xml NEXEND");
    EXPECT_EQ(r.action, Action::DeleteProgramFile);
    EXPECT_EQ(r.text, "old.xml");
    EXPECT_TRUE(r.logLines.empty());

    EXPECT_EQ(P("NEXSTART 1 CMD GetProgramInfo NEXEND").action, Action::GetProgramInfo);
    r = P("NEXSTART 1 CMD GetProgramName 3 NEXEND");
    EXPECT_EQ(r.action, Action::GetProgramName);
    EXPECT_EQ(r.number, 3);

    r = P("NEXSTART 1 CMD UploadFileInit Programs/new.xml 12 NEXEND");
    EXPECT_EQ(r.action, Action::UploadInit);
    EXPECT_EQ(r.text, "Programs/new.xml");
    EXPECT_EQ(r.number, 12);
    r = P("NEXSTART 1 CMD UploadFileInit Programs/new.xml NEXEND");
    EXPECT_EQ(r.action, Action::UploadInit);
    EXPECT_EQ(r.number, 0);
    EXPECT_EQ(P("NEXSTART 1 CMD UploadFileFinish NEXEND").action, Action::UploadFinish);
}

TEST(ComMessageParser, NamesOutsideTheDataDirectoryAreRefused) {
    const char* refused[] = {
        "NEXSTART 1 CMD UploadFileInit /etc/passwd 3 NEXEND",
        "NEXSTART 1 CMD UploadFileInit ../x.xml 3 NEXEND",
        "NEXSTART 1 CMD UploadFileInit Programs/../../x.xml 3 NEXEND",
        "NEXSTART 1 CMD LoadProgram ../../etc/shadow NEXEND",
        "NEXSTART 1 CMD DeleteProgramFromFileSystem a/.. NEXEND",
    };
    for (const char* m : refused) {
        SCOPED_TRACE(m);
        ComRequest r = P(m);
        EXPECT_EQ(r.action, Action::None);
        ASSERT_EQ(r.logLines.size(), 1u);
        EXPECT_EQ(r.logLines[0].rfind(
                      "NEX-Server: ERROR file name refused (outside the data directory): ", 0),
                  0u);
        EXPECT_EQ(r.operatorMessage.rfind("File name refused: ", 0), 0u);
    }
    EXPECT_EQ(P("NEXSTART 1 CMD LoadProgram NEXEND").logLines,
              Lines{"NEX-Server: ERROR missing file name in LoadProgram, message ignored"});

    EXPECT_TRUE(ComMessageParser::IsSafeName("a..b/..c/x.xml"));
    EXPECT_TRUE(ComMessageParser::IsSafeName("Programs/./x.xml"));
    EXPECT_FALSE(ComMessageParser::IsSafeName(""));
    EXPECT_FALSE(ComMessageParser::IsSafeName(".."));
    EXPECT_FALSE(ComMessageParser::IsSafeName(std::string("..\0x", 4)));
    EXPECT_FALSE(ComMessageParser::IsSafeName("a\tb"));
}

TEST(ComMessageParser, UploadLineIsTakenByPositionWithItsBlanks) {
    ComRequest r = P("NEXSTART 17 CMD UploadFileLine   <Joint  A=\"1\" />  NEXEND");
    EXPECT_EQ(r.action, Action::UploadLine);
    EXPECT_EQ(r.text, "  <Joint  A=\"1\" /> ");
    EXPECT_TRUE(r.logLines.empty());

    r = P("NEXSTART 5 CMD UploadFileLine  NEXEND");  // empty line
    EXPECT_EQ(r.action, Action::UploadLine);
    EXPECT_EQ(r.text, "");

    r = P("NEXSTART 5 CMD UploadFileLine NEXEND");  // shorter than the offset: the upload fails
    EXPECT_EQ(r.action, Action::UploadLineRefused);
    EXPECT_EQ(r.logLines, Lines{"NEX-Server: ERROR upload line too short, ignored"});
}

TEST(ComMessageParser, ProgramLines) {
    ComRequest r = P("NEXSTART 9 PROG 4 JOINT 1 2 3 4 5 6 EXT 7 8 9 VEL 50 NEXEND");
    EXPECT_EQ(r.action, Action::ProgJoint);
    EXPECT_EQ(r.number, 4);
    for (int i = 0; i < 9; ++i) EXPECT_FLOAT_EQ(r.values[i], float(i + 1));
    EXPECT_FLOAT_EQ(r.velocity, 50.0f);
    EXPECT_EQ(r.logLines,
              Lines{"NEX-Server: JOINT 1.0 2.0 3.0 4.0 5.0 6.0 ext: 7.0 8.0 9.0 vel: 50.0"});

    r = P("NEXSTART 9 PROG 2 JOINT 1 2 3 4 5 6 NEXEND");  // external axes and velocity 0
    EXPECT_EQ(r.action, Action::ProgJoint);
    EXPECT_FLOAT_EQ(r.values[6], 0.0f);
    EXPECT_FLOAT_EQ(r.velocity, 0.0f);
    EXPECT_EQ(r.logLines,
              Lines{"NEX-Server: JOINT 1.0 2.0 3.0 4.0 5.0 6.0 ext: 0.0 0.0 0.0 vel: 0.0"});

    r = P("NEXSTART 9 PROG 2 JOINT 1 2 3 4 5 NEXEND");  // a missing joint never becomes 0
    EXPECT_EQ(r.action, Action::None);
    EXPECT_EQ(r.logLines,
              Lines{"NEX-Server: ERROR missing or invalid number in PROG JOINT, message ignored"});

    r = P("NEXSTART 9 PROG 6 GRIPPER 40 0 0 NEXEND");
    EXPECT_EQ(r.action, Action::ProgGripper);
    EXPECT_EQ(r.number, 6);
    EXPECT_FLOAT_EQ(r.values[0], 40.0f);
    EXPECT_EQ(r.logLines, Lines{"NEX-Server: GRIPPER 40.0 0.0 0.0"});

    r = P("NEXSTART 9 PROG 7 WAIT 1500 NEXEND");
    EXPECT_EQ(r.action, Action::ProgWait);
    EXPECT_EQ(r.number, 7);
    EXPECT_EQ(r.waitMs, 1500);
    EXPECT_EQ(r.logLines, Lines{"NEX-Server: WAIT 1500"});

    ExpectLogOnly("NEXSTART 9 PROG 1 LINEAR 1 2 3 NEXEND",
                  {"NEX-Server: Linear - not implemented yet!"});
    ExpectLogOnly("NEXSTART 9 PROG 1 RELATIVELINEAR NEXEND",
                  {"NEX-Server: RelativeLinear - not implemented yet!"});
    ExpectLogOnly("NEXSTART 9 PROG 1 RELATIVEJOINT NEXEND",
                  {"NEX-Server: RelativeJoint - not implemented yet!"});
    ExpectLogOnly("NEXSTART 9 PROG 1 DOUT 3 true NEXEND",
                  {"NEX-Server: DOut - not implemented yet!"});

    r = P("NEXSTART 9 PROG 1 CIRCLE 3 NEXEND");
    EXPECT_EQ(r.action, Action::None);
    EXPECT_TRUE(r.logLines.empty());
    EXPECT_EQ(r.stdoutLines,
              Lines{"Read, but not parsed: PROG CIRCLE: NEXSTART 9 PROG 1 CIRCLE 3 NEXEND"});
}

TEST(ComMessageParser, OverlongMessagesAreRejectedWithoutParsing) {
    std::string limit = "NEXSTART 1 CMD Enable " + std::string(255 - 29, 'x') + " NEXEND";
    ASSERT_EQ(limit.size(), 255u);
    EXPECT_EQ(P(limit).code, 11);

    std::string longer = "NEXSTART 1 CMD Enable " + std::string(255 - 28, 'x') + " NEXEND";
    ComRequest r = P(longer);
    EXPECT_EQ(r.action, Action::None);
    EXPECT_EQ(r.logLines,
              Lines{"NEX-Server: ERROR message of 256 characters exceeds 255, ignored"});

    // An upload line is named as such, so that its upload fails.
    r = P("NEXSTART 123 CMD UploadFileLine " + std::string(300, 'x') + " NEXEND");
    EXPECT_EQ(r.action, Action::UploadLineRefused);
    EXPECT_EQ(r.logLines,
              Lines{"NEX-Server: ERROR message of 339 characters exceeds 255, ignored"});
}

TEST(ComMessageParser, NumberConversions) {
    int i = -7;
    EXPECT_TRUE(ComMessageParser::ToInt("0x1F", 0, &i));
    EXPECT_EQ(i, 31);
    EXPECT_TRUE(ComMessageParser::ToInt("017", 0, &i));
    EXPECT_EQ(i, 15);
    EXPECT_TRUE(ComMessageParser::ToInt("017", 10, &i));
    EXPECT_EQ(i, 17);
    i = -7;
    EXPECT_FALSE(ComMessageParser::ToInt("12abc", 10, &i));
    EXPECT_FALSE(ComMessageParser::ToInt("99999999999", 10, &i));
    EXPECT_FALSE(ComMessageParser::ToInt("", 10, &i));
    EXPECT_EQ(i, -7);  // left alone on failure
    float f = 2.0f;
    EXPECT_FALSE(ComMessageParser::ToFloat("1e60", &f));
    EXPECT_FALSE(ComMessageParser::ToFloat("-inf", &f));
    EXPECT_EQ(f, 2.0f);
}
