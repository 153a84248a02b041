#include <gtest/gtest.h>

#include <string>

#include "PkgWeb/WebJson.h"
#include "PkgWeb/WebMessage.h"

namespace {

WebRequest Parsed(const std::string& json) { return WebMessage::Parse(json); }

}  // namespace

TEST(WebMessage, PageMessagesBecomeTheFramesAFrontEndSends) {
    const std::pair<const char*, const char*> commands[] = {
        {"enable", "CMD Enable"},           {"reset", "CMD Reset"},
        {"referenceAll", "CMD ReferenceAllJoints"}, {"start", "CMD StartProgram"},
        {"pause", "CMD PauseProgram"},      {"stop", "CMD StopProgram"},
        {"modeBase", "CMD MotionTypeCartBase"}, {"modePlatform", "CMD MotionTypePlatform"}};
    for (const auto& c : commands) {
        WebRequest r = Parsed(std::string("{\"type\":\"command\",\"name\":\"") + c.first + "\"}");
        ASSERT_EQ(r.kind, WebRequest::Kind::Command) << c.first;
        EXPECT_EQ(r.frames, std::vector<std::string>{c.second});
    }
    WebRequest o = Parsed(" { \"value\" : 62.5 , \"type\" : \"override\" } ");
    ASSERT_EQ(o.kind, WebRequest::Kind::Command);
    EXPECT_EQ(o.frames, std::vector<std::string>{"CMD Override 62.5"});

    WebRequest jog = Parsed("{\"type\":\"jog\",\"axis\":3,\"value\":-30}");
    ASSERT_EQ(jog.kind, WebRequest::Kind::Jog);
    EXPECT_EQ(jog.axis, 3);
    EXPECT_EQ(jog.value, -30.0f);
    EXPECT_TRUE(jog.frames.empty());  // jogs travel in the keep-alives

    WebRequest load = Parsed("{\"type\":\"load\",\"name\":\"Demo_1.xml\"}");
    EXPECT_EQ(load.frames, std::vector<std::string>{"CMD LoadProgram Demo_1.xml"});

    WebRequest up = Parsed(
        "{\"type\":\"upload\",\"name\":\"p.xml\",\"text\":\"<Program>\\r\\n  <Wait Time=\\\"5\\\" />\\n</Program>\\n\"}");
    ASSERT_EQ(up.kind, WebRequest::Kind::Upload);
    EXPECT_EQ(up.frames, (std::vector<std::string>{"CMD UploadFileInit Programs/p.xml 3",
                                                   "CMD UploadFileLine <Program>",
                                                   "CMD UploadFileLine   <Wait Time=\"5\" />",
                                                   "CMD UploadFileLine </Program>",
                                                   "CMD UploadFileFinish"}));
    EXPECT_EQ(Parsed("{\"type\":\"programs\"}").kind, WebRequest::Kind::Programs);
}

TEST(WebMessage, RefusesWhatABrowserMustNotSend) {
    const std::pair<std::string, std::string> bad[] = {
        {"not json", "bad message: not a JSON object"},
        {"{\"type\":\"jog\",\"axis\":1,\"value\":5} x", "bad message: text after the object"},
        {"{\"type\":\"jog\",\"type\":\"jog\"}", "bad message: duplicate member"},
        {"{\"type\":\"jog\",\"axis\":[1]}", "bad message: unsupported value"},
        {"{\"type\":\"jog\",\"axis\":1,\"value\":1e999}", "bad message: bad number"},
        {"{\"type\":\"jog\",\"axis\":1,\"value\":NaN}", "bad message: unsupported value"},
        {"{\"type\":\"x\\ud800\"}", "bad message: bad string"},
        {"{\"axis\":1}", "message without a type"},
        {"{\"type\":\"shutdown\"}", "unknown message type"},
        {"{\"type\":\"command\",\"name\":\"SetJointsToZero\"}", "unknown command"},
        {"{\"type\":\"jog\",\"axis\":0,\"value\":5}", "jog axis must be 1 to 9"},
        {"{\"type\":\"jog\",\"axis\":1.5,\"value\":5}", "jog axis must be 1 to 9"},
        {"{\"type\":\"jog\",\"axis\":2,\"value\":100.5}", "jog value must be a number from -100 to 100"},
        {"{\"type\":\"jog\",\"axis\":2,\"value\":\"50\"}", "jog value must be a number from -100 to 100"},
        {"{\"type\":\"override\",\"value\":-1}", "override must be a number from 0 to 100"},
        {"{\"type\":\"load\",\"name\":\"../Robots/x.xml\"}", "bad program name"},
        {"{\"type\":\"load\",\"name\":\"a b.xml\"}", "bad program name"},
        {"{\"type\":\"load\",\"name\":\".hidden\"}", "bad program name"},
        {"{\"type\":\"upload\",\"name\":\"p.xml\"}", "upload without text"},
        {"{\"type\":\"upload\",\"name\":\"p.xml\",\"text\":\"a\\u0000b\"}", "line 1 holds a control character"},
        {"{\"type\":\"upload\",\"name\":\"p.xml\",\"text\":\"ok\\nx NEXEND y\"}", "line 2 holds a message marker"},
        {"{\"type\":\"upload\",\"name\":\"p.xml\",\"text\":\"" + std::string(217, 'a') + "\"}",
         "line 1 is longer than 216 characters"},
        {std::string(WebMessage::maxMessageBytes + 1, ' '), "message too long"},
    };
    for (const auto& b : bad) {
        WebRequest r = Parsed(b.first);
        EXPECT_EQ(r.kind, WebRequest::Kind::Invalid) << b.first;
        EXPECT_EQ(r.error, b.second) << b.first;
        EXPECT_TRUE(r.frames.empty());
    }
    // The longest line that still fits the controller's message is taken.
    EXPECT_EQ(Parsed("{\"type\":\"upload\",\"name\":\"p.xml\",\"text\":\"" + std::string(216, 'a') + "\"}").kind,
              WebRequest::Kind::Upload);
}

TEST(WebMessage, ControllerTelegramsBecomePageJson) {
    ComStatusTelegram s;
    ASSERT_TRUE(s.Parse(
        "NEXSTART 17 STATUS MODE joint POSJOINTSETPOINT 1.50 -2.00 3.00 4.00 5.00 6.00 0.00 0.0 0.0 0.0 0.0 0.0 0.0 0.0 0.0 0.0 "
        "POSJOINTCURRENT 1.25 -2.00 3.00 4.00 5.00 6.00 0.00 0.0 0.0 0.0 0.0 0.0 0.0 0.0 0.0 0.0 "
        "POSCARTROBOT 480.0 0.0 593.5 90.00 20.00 90.00 POSCARTPLATTFORM 0.0 0.0 0.0 OVERRIDE 40.0 "
        "DIN 9223372036854775809 DOUT 2 ESTOP 3 SUPPLY 24000 CURRENTALL 0 CURRENTJOINTS 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 "
        "ERROR NoError 0 0 0 0 0 0 0 4 4 4 4 4 4 4 4 4 KINSTATE 99 NEXEND\n"));
    EXPECT_EQ(WebMessage::Status(s),
              "{\"type\":\"status\",\"n\":17,\"set\":[1.50,-2.00,3.00,4.00,5.00,6.00,0.00],"
              "\"meas\":[1.25,-2.00,3.00,4.00,5.00,6.00,0.00],\"pose\":[480.00,0.00,593.50,90.00,20.00,90.00],"
              "\"override\":40.0,\"din\":\"9223372036854775809\",\"dout\":\"2\",\"estop\":3,\"supply\":24000,"
              "\"current\":0,\"error\":\"NoError\",\"jointError\":[0,0,0,0,0,0,0],\"kin\":99,"
              "\"kinText\":\"MotionNotAllowed\"}");
    // Message texts are quoted so that any byte leaves valid JSON in valid UTF-8.
    EXPECT_EQ(WebMessage::Message("Program \"done\"\\\n\x01 30\xC2\xB0 \xFF"),
              "{\"type\":\"message\",\"text\":\"Program \\\"done\\\"\\\\\\n\\u0001 30\xC2\xB0 ?\"}");
    EXPECT_EQ(WebMessage::ProgramInfo("INFO ProgramInfo DemoPickPlace.xml 12 -1"),
              "{\"type\":\"program\",\"name\":\"DemoPickPlace.xml\",\"count\":12,\"point\":-1}");
    EXPECT_EQ(WebMessage::ProgramInfo("INFO ProgramName p.xml 3 0"), "");
    EXPECT_EQ(WebMessage::ProgramInfo("INFO ProgramInfo p.xml 3"), "");
    EXPECT_EQ(WebMessage::Programs({"a.xml", "b.xml"}), "{\"type\":\"programs\",\"names\":[\"a.xml\",\"b.xml\"]}");
    EXPECT_EQ(WebMessage::Connection(true, "base"), "{\"type\":\"connection\",\"controller\":true,\"mode\":\"base\"}");
}

TEST(WebJson, ReadsEscapesAndUnicode) {
    WebJson j;
    std::string error, text;
    ASSERT_TRUE(j.Parse("{\"a\":\"\\\"\\\\\\/\\b\\f\\n\\r\\t\\u00e9\\ud83d\\ude00\",\"b\":true,\"c\":null,\"d\":-0.5e1}", &error)) << error;
    ASSERT_TRUE(j.String("a", &text));
    EXPECT_EQ(text, "\"\\/\b\f\n\r\t\xC3\xA9\xF0\x9F\x98\x80");
    double d = 0;
    EXPECT_TRUE(j.Number("d", &d));
    EXPECT_EQ(d, -5.0);
    EXPECT_FALSE(j.Number("b", &d));
    EXPECT_FALSE(j.String("c", &text));
    EXPECT_TRUE(j.Parse("{}", &error));
    for (const char* bad : {"{\"a\":01}", "{\"a\":1.}", "{\"a\":\"x", "{\"a\":\"\\x\"}", "{\"a\":{}}", "{\"a\":1,}",
                            "{\"a\":\"\n\"}", "[1]"}) {
        EXPECT_FALSE(j.Parse(bad, &error)) << bad;
    }
}
