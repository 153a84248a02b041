#include "PkgProgram/ProgramLoader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "LogSingleton.h"
#include "PkgPluginManager/PluginManager.h"
#include "support/LogTail.h"
#include "support/TempDir.h"

namespace {

std::string Program(const std::string& body) {
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<Program>\n" + body + "</Program>\n";
}

const char* kOut = "<Output Channel=\"DOut1\" State=\"true\"/>\n";
const char* kWait = "<Wait Type=\"Time\" Seconds=\"0\"/>\n";

struct Links {
    int s0, s1, s2;
};

void ExpectLinks(const RobotProgram& program, const std::vector<Links>& expected) {
    ASSERT_EQ(program.commands.size(), expected.size()) << program.name;
    for (size_t i = 0; i < expected.size(); ++i) {
        const Command& c = program.commands[i];
        EXPECT_EQ(c.successor[0], expected[i].s0) << "command " << i << " slot 0";
        EXPECT_EQ(c.successor[1], expected[i].s1) << "command " << i << " slot 1";
        EXPECT_EQ(c.successor[2], expected[i].s2) << "command " << i << " slot 2";
    }
}

std::string Shown() { return LogTail::DisplayMessage(); }

class ProgramLoaderTest : public ::testing::Test {
protected:
    void SetUp() override {
        LogTail::UsePrivateLog();
        LogSingleton::instance()->SetConsoleEcho(false);
    }
    void Write(const std::string& name, const std::string& content) {
        dir.Write("Data/Programs/" + name, content);
    }
    // Loads `name` as if the interpreter already held `base` programs.
    int Load(const std::string& name, int base = 0) {
        ProgramLoader loader(dir.Path() + "/Data/Programs", 3, &memory, &plugins);
        programs.clear();
        const int result = loader.Load(name, base, &programs);
        pluginsUsed = loader.PluginsUsed();
        return result;
    }
    // Loads a program that must fail and returns the text the load threw.
    std::string LoadError(const std::string& name) {
        try {
            Load(name);
        } catch (const char* text) {
            return text;
        }
        return "(no error)";
    }

    TempDir dir;
    std::vector<MemoryPosition> memory;
    PluginFramework::PluginManager plugins;
    std::vector<RobotProgram> programs;
    bool pluginsUsed = false;
};

TEST_F(ProgramLoaderTest, SequenceLinksEachCommandToTheNextAndSkipsNonCommands) {
    Write("seq.xml", Program(std::string("<Header Author=\"x\"><Joint a1=\"9\"/></Header>\n") + kOut +
                             "<!-- a comment between commands -->\n<Unknown/>\n" + kWait + kOut));
    LogTail log;
    ASSERT_EQ(Load("seq.xml"), 0);
    const RobotProgram p = programs[0];
    ExpectLinks(p, {{1, -2, -2}, {2, -2, -2}, {-2, -2, -2}});
    EXPECT_EQ(p.commands[1].predecessor, 0);
    EXPECT_EQ(p.commands[2].predecessor, 1);
    EXPECT_EQ(p.name, "seq.xml");
    EXPECT_EQ(p.commands[0].jointCount, 3);
    for (const Command& c : p.commands) EXPECT_NE(c.memory, nullptr);
    EXPECT_EQ(p.commands[0].memory, &memory);
    EXPECT_TRUE(log.Has("IPO: Starting to read program from " + dir.Path() + "/Data/Programs/seq.xml"));
    EXPECT_TRUE(log.Has("IPO: Program: seq.xml (0 of 1) with 3 points"));
    EXPECT_EQ(Shown(), "Program loaded: seq.xml");
}

TEST_F(ProgramLoaderTest, LoopAsFirstElementLinksBodyAndExit) {
    Write("loop.xml", Program(std::string("<Loop Mode=\"Count\" Times=\"2\"/>\n") + kOut + kOut +
                              "<EndLoop/>\n" + kWait));
    LogTail log;
    ASSERT_EQ(Load("loop.xml"), 0);
    ExpectLinks(programs[0], {{3, 1, -2}, {2, -2, -2}, {0, -2, -2}, {-2, -2, -2}});
    EXPECT_TRUE(log.Has("          EndLoop"));
}

TEST_F(ProgramLoaderTest, NestedLoopWithIfElse) {
    Write("nest.xml", Program(std::string(kWait) + "<Loop Mode=\"Count\" Times=\"3\"/>\n" +
                              "<If Condition=\"DIn1\"/>\n" + kOut + "<Else/>\n" + kOut + kOut +
                              "<EndIf/>\n<EndLoop/>\n" + kWait));
    LogTail log;
    ASSERT_EQ(Load("nest.xml"), 0);
    // 0 wait, 1 loop, 2 if, 3 then, 4 else, 5 else, 6 wait
    ExpectLinks(programs[0], {{1, -2, -2},
                                    {6, 2, -2},
                                    {1, 3, 4},
                                    {2, -2, -2},
                                    {5, -2, -2},
                                    {2, -2, -2},
                                    {-2, -2, -2}});
    EXPECT_TRUE(log.Has("          Else"));
    EXPECT_TRUE(log.Has("          EndIf"));
}

TEST_F(ProgramLoaderTest, EmptyBodiesLinkTheStructureToItself) {
    Write("empty.xml", Program(std::string(kWait) + "<Loop Mode=\"Count\" Times=\"2\"/>\n<EndLoop/>\n" +
                               "<If Condition=\"DIn1\"/>\n<Else/>\n<EndIf/>\n" + kWait));
    ASSERT_EQ(Load("empty.xml"), 0);
    ExpectLinks(programs[0], {{1, -2, -2}, {2, 1, -2}, {3, 2, 2}, {-2, -2, -2}});
}

TEST_F(ProgramLoaderTest, StructureLastInFileNeverLinksItsExitToItself) {
    Write("last.xml", Program(std::string(kWait) + "<Loop Mode=\"Count\" Times=\"2\"/>\n" + kOut +
                              "<EndLoop/>\n"));
    ASSERT_EQ(Load("last.xml"), 0);
    ExpectLinks(programs[0], {{1, -2, -2}, {-2, 2, -2}, {1, -2, -2}});
}

TEST_F(ProgramLoaderTest, IfWithoutElseExitsToTheCommandAfterEndIf) {
    Write("ifonly.xml", Program(std::string(kWait) + "<If Condition=\"DIn1\"/>\n" + kOut + kOut +
                                "<EndIf/>\n" + kWait));
    ASSERT_EQ(Load("ifonly.xml"), 0);
    // A false condition goes through the If itself (slot 2), which then leaves by slot 0.
    ExpectLinks(programs[0], {{1, -2, -2}, {4, 2, 1}, {3, -2, -2}, {1, -2, -2}, {-2, -2, -2}});
}

TEST_F(ProgramLoaderTest, ThenBranchEndingInLoopReturnsToTheIf) {
    Write("deep.xml", Program(std::string("<If Condition=\"DIn1\"/>\n<Loop Mode=\"Count\" Times=\"1\"/>\n") +
                              kOut + "<EndLoop/>\n<Else/>\n" + kOut + "<EndIf/>\n" + kWait));
    ASSERT_EQ(Load("deep.xml"), 0);
    // 0 if, 1 loop, 2 body, 3 else, 4 wait: the loop's exit leads back to the If.
    ExpectLinks(programs[0], {{4, 1, 3}, {0, 2, -2}, {1, -2, -2}, {0, -2, -2}, {-2, -2, -2}});
}

TEST_F(ProgramLoaderTest, InvalidElementsAreLeftOut) {
    Write("bad.xml", Program(std::string(kOut) + "<Relative x=\"1\"/>\n<Output Channel=\"DO\"/>\n" + kWait));
    LogTail log;
    ASSERT_EQ(Load("bad.xml"), 0);
    ExpectLinks(programs[0], {{1, -2, -2}, {-2, -2, -2}});
    EXPECT_TRUE(log.Has("Command Relative: Attribute \"MoType\" not found! Cannot read command!"));
}

TEST_F(ProgramLoaderTest, SubProgramsLoadDepthFirstAndOncePerSubElement) {
    Write("main.xml", Program(std::string(kOut) + "<Sub File=\"a.xml\"/>\n<Sub File=\"b.xml\"/>\n" +
                              "<Sub File=\"a.xml\"/>\n"));
    Write("a.xml", Program(std::string(kWait) + "<Sub File=\"c.xml\"/>\n"));
    Write("b.xml", Program(kWait));
    Write("c.xml", Program(kOut));
    ASSERT_EQ(Load("main.xml"), 0);
    ASSERT_EQ(static_cast<int>(programs.size()), 6);
    const std::vector<std::string> names = {"main.xml", "a.xml", "c.xml", "b.xml", "a.xml", "c.xml"};
    for (int i = 0; i < 6; ++i) EXPECT_EQ(programs[i].name, names[i]) << i;
    const RobotProgram main = programs[0];
    EXPECT_EQ(main.commands[1].subProgram, 1);
    EXPECT_EQ(main.commands[2].subProgram, 3);
    EXPECT_EQ(main.commands[3].subProgram, 4);
    EXPECT_EQ(programs[1].commands[1].subProgram, 2);
    EXPECT_EQ(programs[4].commands[1].subProgram, 5);
}

TEST_F(ProgramLoaderTest, SubProgramIndicesCountFromTheBaseIndex) {
    Write("two.xml", Program("<Sub File=\"sub/s.xml\"/>\n"));
    Write("sub/s.xml", Program(kWait));
    LogTail log;
    ASSERT_EQ(Load("two.xml", 1), 0);
    ASSERT_EQ(programs.size(), 2u);
    EXPECT_EQ(programs[0].commands[0].subProgram, 2);
    EXPECT_EQ(programs[1].name, "sub/s.xml");
    EXPECT_TRUE(log.Has("IPO: Program: sub/s.xml (2 of 3) with 1 points"));
    EXPECT_TRUE(log.Has("IPO: Program: two.xml (1 of 3) with 1 points"));
}

TEST_F(ProgramLoaderTest, LoadErrorsThrowTheirTexts) {
    Write("empty.xml", "");
    Write("broken.xml", "<Program><Joint a1=\"1\"></Program>");
    Write("noroot.xml", "<Programme/>");
    Write("linear.xml", Program("<Linear Source=\"camera\"/>\n"));
    Write("store.xml", Program("<Store Type=\"text\" Name=\"v\"/>\n"));
    Write("nofile.xml", Program(std::string(kOut) + "<Sub/>\n"));
    Write("missing.xml", Program(std::string(kOut) + "<Sub File=\"gone.xml\"/>\n"));

    EXPECT_EQ(LoadError("a.x"), "IPO.Load: empty filename!");
    EXPECT_EQ(Shown(), "Empty filename to load!");
    EXPECT_EQ(LoadError("none.xml"), "IPO.Load: program not found!");
    EXPECT_EQ(Shown(), "Program not found: none.xml");
    EXPECT_EQ(LoadError("empty.xml"), "IPO.Load: file empty!!");
    EXPECT_EQ(Shown(), "File empty: empty.xml");
    EXPECT_EQ(LoadError("broken.xml"), "IPO.Load: XML parsing failed!");
    EXPECT_EQ(Shown(), "XML parsing failed! ");
    EXPECT_EQ(LoadError("noroot.xml"), "IPO.Load: no Program element!");
    EXPECT_EQ(LoadError("linear.xml"), "in Read Linear: wrong source");
    EXPECT_EQ(LoadError("store.xml"), "in Read StoreData: wrong type");
    EXPECT_EQ(LoadError("nofile.xml"), "IPO.Load: empty filename!");
    EXPECT_EQ(LoadError("missing.xml"), "IPO.Load: program not found!");
    LogTail log;
    EXPECT_EQ(LoadError("missing.xml"), "IPO.Load: program not found!");
    EXPECT_TRUE(log.Has("Program not found: gone.xml"));
}

TEST_F(ProgramLoaderTest, UnmatchedStructuresFailNamingTheElement) {
    Write("endloop.xml", Program(std::string(kOut) + "<EndLoop/>\n"));
    Write("else.xml", Program(std::string(kOut) + "<Else/>\n"));
    Write("endif.xml", Program(std::string(kOut) + "\n<EndIf/>\n"));
    Write("cross.xml", Program("<Loop Mode=\"Count\" Times=\"1\"/>\n<EndIf/>\n"));
    Write("twoelse.xml", Program("<If Condition=\"DIn1\"/>\n<Else/>\n<Else/>\n<EndIf/>\n"));
    Write("open.xml", Program(std::string(kOut) + "<If Condition=\"DIn1\"/>\n" + kOut));

    LogTail log;
    EXPECT_EQ(LoadError("endloop.xml"), "IPO.Load: EndLoop without Loop!");
    EXPECT_TRUE(log.Has("IPO: EndLoop without an open Loop at element 2 (line 4) of endloop.xml"));
    EXPECT_EQ(LoadError("else.xml"), "IPO.Load: Else without If!");
    EXPECT_EQ(LoadError("endif.xml"), "IPO.Load: EndIf without If!");
    EXPECT_TRUE(log.Has("IPO: EndIf without an open If at element 2 (line 5) of endif.xml"));
    EXPECT_EQ(Shown(), "IPO: EndIf without an open If at element 2 (line 5) of endif.xml");
    EXPECT_EQ(LoadError("cross.xml"), "IPO.Load: EndIf without If!");
    EXPECT_EQ(LoadError("twoelse.xml"), "IPO.Load: Else without If!");
    EXPECT_EQ(LoadError("open.xml"), "IPO.Load: Loop or If not closed!");
    EXPECT_TRUE(log.Has("IPO: If not closed at element 2 (line 4) of open.xml"));
}

TEST_F(ProgramLoaderTest, NestingDepthIsBounded) {
    std::string deep;
    for (int i = 0; i <= ProgramLoader::maxNesting; ++i) deep += "<Loop Mode=\"Count\" Times=\"1\"/>\n";
    Write("deep.xml", Program(deep));
    EXPECT_EQ(LoadError("deep.xml"), "IPO.Load: structures nested too deep!");

    std::string ok;
    for (int i = 0; i < ProgramLoader::maxNesting; ++i) ok += "<Loop Mode=\"Count\" Times=\"1\"/>\n";
    ok += kOut;
    for (int i = 0; i < ProgramLoader::maxNesting; ++i) ok += "<EndLoop/>\n";
    Write("ok.xml", Program(ok));
    EXPECT_EQ(Load("ok.xml"), 0);
}

TEST_F(ProgramLoaderTest, SelfReferringSubProgramsFailNamingTheChain) {
    Write("self.xml", Program("<Sub File=\"self.xml\"/>\n"));
    Write("x.xml", Program("<Sub File=\"y.xml\"/>\n"));
    Write("y.xml", Program("<Sub File=\"./x.xml\"/>\n"));
    LogTail log;
    EXPECT_EQ(LoadError("self.xml"), "IPO.Load: sub-program includes itself!");
    EXPECT_TRUE(log.Has("IPO: sub-program includes itself: self.xml -> self.xml"));
    EXPECT_EQ(LoadError("x.xml"), "IPO.Load: sub-program includes itself!");
    EXPECT_TRUE(log.Has("IPO: sub-program includes itself: x.xml -> y.xml -> x.xml"));
    EXPECT_EQ(Shown(), "Sub-program loop: x.xml -> y.xml -> x.xml");
}

TEST_F(ProgramLoaderTest, SubProgramDepthIsBounded) {
    const int levels = ProgramLoader::maxSubProgramDepth + 1;
    for (int i = 0; i <= levels; ++i) {
        const std::string body = i < levels ? "<Sub File=\"s" + std::to_string(i + 1) + ".xml\"/>\n" : kOut;
        Write("s" + std::to_string(i) + ".xml", Program(body));
    }
    EXPECT_EQ(LoadError("s0.xml"), "IPO.Load: sub-programs nested too deep!");
    // Sixteen levels below the main program are fine.
    EXPECT_EQ(Load("s1.xml"), 0);
    EXPECT_EQ(static_cast<int>(programs.size()), levels);
}

TEST_F(ProgramLoaderTest, NamesOutsideTheProgramDirectoryAreRefused) {
    dir.Write("Data/secret.xml", Program(kOut));
    LogTail log;
    EXPECT_EQ(LoadError("../secret.xml"), "IPO.Load: invalid program name!");
    EXPECT_TRUE(log.Has("IPO: refusing program name outside the program directory: ../secret.xml"));
    EXPECT_EQ(Shown(), "Invalid program name: ../secret.xml");
    EXPECT_EQ(LoadError(dir.Path() + "/Data/secret.xml"), "IPO.Load: invalid program name!");
    EXPECT_EQ(LoadError("sub/../../secret.xml"), "IPO.Load: invalid program name!");
    Write("evil.xml", Program("<Sub File=\"../secret.xml\"/>\n"));
    EXPECT_EQ(LoadError("evil.xml"), "IPO.Load: invalid program name!");

    EXPECT_TRUE(ProgramLoader::IsSafeName("a/b.xml"));
    EXPECT_TRUE(ProgramLoader::IsSafeName("a..b.xml"));
    EXPECT_FALSE(ProgramLoader::IsSafeName(".."));
    EXPECT_FALSE(ProgramLoader::IsSafeName("a/../b.xml"));
    EXPECT_FALSE(ProgramLoader::IsSafeName("/etc/passwd"));
    EXPECT_FALSE(ProgramLoader::IsSafeName(""));
}

TEST_F(ProgramLoaderTest, OversizedFileIsRefusedBeforeParsing) {
    Write("huge.xml", Program(std::string(ProgramLoader::maxFileBytes, ' ')));
    EXPECT_EQ(LoadError("huge.xml"), "IPO.Load: file too large!");
}

TEST_F(ProgramLoaderTest, PluginElementSetsThePluginFlag) {
    Write("cam.xml", Program("<Plugin PluginName=\"Camera\" VarTargetPos=\"p\" VarModelClass=\"m\"/>\n"));
    Write("plain.xml", Program(kOut));
    ASSERT_EQ(Load("cam.xml"), 0);
    EXPECT_TRUE(pluginsUsed);
    EXPECT_EQ(programs[0].commands[0].pluginManager, &plugins);
    ASSERT_EQ(Load("plain.xml"), 0);
    EXPECT_FALSE(pluginsUsed);
}

}  // namespace
