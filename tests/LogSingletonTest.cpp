#include "LogSingleton.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <fstream>
#include <future>
#include <iostream>
#include <mutex>
#include <regex>
#include <set>
#include <thread>
#include <vector>

#include "support/TempDir.h"

namespace {
int CountLines(const std::string& file) {
    std::ifstream in(file);
    std::string line;
    int n = 0;
    while (std::getline(in, line)) ++n;
    return n;
}
std::string FileName(const TempDir& dir, int i) {
    return dir.Path() + "/logMessages0" + std::to_string(i) + ".txt";
}
}  // namespace

TEST(LogSingletonFormat, ElapsedStampAndBaseDirectory) {
    EXPECT_EQ(LogSingleton::FormatElapsed(((1 * 60 + 2) * 60 + 3) * 1000 + 4), "01:02:03:004");
    EXPECT_EQ(LogSingleton::FormatElapsed(0), "00:00:00:000");
    EXPECT_EQ(LogSingleton::FormatElapsed(30LL * 3600 * 1000), "30:00:00:000");
    EXPECT_EQ(LogSingleton::BaseDirectoryFor("/opt/Orvane/bin"), "/opt/Orvane/");
    EXPECT_EQ(LogSingleton::BaseDirectoryFor("/opt/Orvane"), "/opt/Orvane/");
    EXPECT_EQ(LogSingleton::BaseDirectoryFor("/opt/app"), "/opt/appOrvane/");
    EXPECT_EQ(LogSingleton::BaseDirectoryFor("/a/Orvane/b/Orvane/c"), "/a/Orvane/b/Orvane/");
}

TEST(LogSingletonFile, LineFormatAndValueOverloads) {
    TempDir dir;
    LogSingleton log(dir.Path(), 1000, false);
    log.add("plain");
    log.add("speed", 12.345f);
    log.add("count", -7);
    log.addError("broken");
    log.Flush();
    std::ifstream in(FileName(dir, 1));
    std::vector<std::string> lines;
    std::string line;
    while (std::getline(in, line)) lines.push_back(line);
    ASSERT_EQ(lines.size(), 7u);
    EXPECT_EQ(lines[0], "VKT Orvane LogFile.");
    EXPECT_EQ(lines[2], "");
    std::regex stamp(R"(^\d\d:\d\d:\d\d:\d\d\d     (.*)$)");
    std::smatch m;
    ASSERT_TRUE(std::regex_match(lines[3], m, stamp));
    EXPECT_EQ(m[1], "plain");
    ASSERT_TRUE(std::regex_match(lines[4], m, stamp));
    EXPECT_EQ(m[1], "speed 12.3");
    ASSERT_TRUE(std::regex_match(lines[5], m, stamp));
    EXPECT_EQ(m[1], "count -7");
    ASSERT_TRUE(std::regex_match(lines[6], m, stamp));
    EXPECT_EQ(m[1], "broken");
}

TEST(LogSingletonFile, RotatesAtTheFullCountAndWraps) {
    TempDir dir;
    {
        LogSingleton log(dir.Path(), LogSingleton::defaultMaxLineCount, false);
        // header = 3 lines; 199997 more reach exactly 200000: no change yet
        for (int i = 0; i < 199997; ++i) log.add("x");
        EXPECT_EQ(log.GetFileIndex(), 0);
        EXPECT_EQ(log.GetLineCount(), 200000);
        log.add("last line of file one");  // 200001 > max: written here, then change
        EXPECT_EQ(log.GetFileIndex(), 1);
        EXPECT_EQ(log.GetLineCount(), 3);
    }
    EXPECT_EQ(CountLines(FileName(dir, 1)), 200001);
    EXPECT_EQ(CountLines(FileName(dir, 2)), 3);
}

TEST(LogSingletonFile, WrapsAfterFiveFilesAndTruncatesTheFirst) {
    TempDir dir;
    LogSingleton log(dir.Path(), 10, false);
    // each file: 3 header lines + 8 lines (the 8th pushes the count to 11)
    for (int i = 0; i < 5 * 8; ++i) log.add("line " + std::to_string(i));
    EXPECT_EQ(log.GetFileIndex(), 0);
    log.add("after wrap");
    log.Flush();
    EXPECT_EQ(CountLines(FileName(dir, 1)), 4);
    for (int i = 2; i <= 5; ++i) EXPECT_EQ(CountLines(FileName(dir, i)), 11) << i;
    EXPECT_NE(TempDir::Read(FileName(dir, 1)).find("after wrap"), std::string::npos);
    EXPECT_EQ(TempDir::Read(FileName(dir, 1)).find("line 0"), std::string::npos);
}

TEST(LogSingletonFile, ConcurrentWritersProduceWholeLines) {
    TempDir dir;
    const int threads = 4, perThread = 2000;
    {
        LogSingleton log(dir.Path(), 1000000, false);
        std::vector<std::thread> workers;
        for (int t = 0; t < threads; ++t)
            workers.emplace_back([&log, t] {
                for (int i = 0; i < perThread; ++i)
                    log.add("writer " + std::to_string(t) + " line " + std::to_string(i) +
                            " ................................................");
            });
        for (auto& w : workers) w.join();
    }
    std::ifstream in(FileName(dir, 1));
    std::string line;
    std::regex whole(R"(^\d\d:\d\d:\d\d:\d\d\d     writer (\d) line (\d+) \.{48}$)");
    std::set<std::pair<int, int>> seen;
    int headerLines = 0;
    while (std::getline(in, line)) {
        std::smatch m;
        if (std::regex_match(line, m, whole)) {
            seen.insert({std::stoi(m[1]), std::stoi(m[2])});
        } else {
            ++headerLines;
        }
    }
    EXPECT_EQ(headerLines, 3);
    EXPECT_EQ(seen.size(), size_t(threads * perThread));
}

TEST(LogSingletonMailbox, DisplayMessageAndFilenameAreTakenOnce) {
    TempDir dir;
    LogSingleton log(dir.Path(), 100, false);
    std::string out = "untouched";
    EXPECT_EQ(log.DisplayGetMessage(&out), 1);  // a new log holds "n/a" as new
    EXPECT_EQ(out, "n/a");
    EXPECT_EQ(log.DisplayGetMessage(&out), 0);
    log.DisplaySetMessage("Program done");
    EXPECT_EQ(log.DisplayGetMessage(&out), 1);
    EXPECT_EQ(out, "Program done");
    out = "kept";
    EXPECT_EQ(log.DisplayGetMessage(&out), 0);
    EXPECT_EQ(out, "kept");

    EXPECT_EQ(log.DisplayGetFilename(&out), 0);
    log.DisplaySetFilename("pick.xml");
    EXPECT_EQ(log.DisplayGetFilename(&out), 1);
    EXPECT_EQ(out, "pick.xml");
    EXPECT_EQ(log.DisplayGetFilename(&out), 0);
}

TEST(LogSingletonSettings, PlcAndFlagsAndAddresses) {
    LogSingleton* log = LogSingleton::instance();
    ASSERT_NE(log, nullptr);
    EXPECT_EQ(LogSingleton::instance(), log);
    PlcSettings plc;
    plc.active = true;
    plc.inputs[2] = 5;
    plc.referenceSequence[8] = -1;
    log->SetPlcSettings(plc);
    PlcSettings back = log->GetPlcSettings();
    EXPECT_TRUE(back.active);
    EXPECT_EQ(back.inputs[2], 5);
    EXPECT_EQ(back.referenceSequence[8], -1);
    log->SetPlcSettings(PlcSettings());
    EXPECT_TRUE(log->GetPathOptimize());
    std::string ip = log->getIPAdress();
    EXPECT_EQ(ip.rfind("Running on IP address: ", 0), 0u);
    EXPECT_EQ(ip.find("127.0.0.1"), std::string::npos);
}

TEST(LogSingletonRecent, KeepsTheNewestLinesInMemory) {
    TempDir dir;
    LogSingleton log(dir.Path(), 100, false);
    uint64_t start = log.LineSequence();
    log.add("one");
    log.addError("two");
    std::vector<std::string> lines = log.LinesSince(start);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "one");
    EXPECT_EQ(lines[1], "two");
    for (size_t i = 0; i < LogSingleton::recentLineCount + 10; ++i) log.add("x" + std::to_string(i));
    lines = log.LinesSince(start);
    EXPECT_EQ(lines.size(), LogSingleton::recentLineCount);
    EXPECT_EQ(lines.back(), "x" + std::to_string(LogSingleton::recentLineCount + 9));
    EXPECT_TRUE(log.LinesSince(log.LineSequence()).empty());
}

namespace {
// A console that holds every writer while its gate is closed, as a slow
// terminal or a full pipe would.
class GatedConsole : public std::streambuf {
public:
    void Close() {
        std::lock_guard<std::mutex> lock(mutex);
        open = false;
    }
    void Open() {
        {
            std::lock_guard<std::mutex> lock(mutex);
            open = true;
        }
        changed.notify_all();
    }
    void WaitForAWaitingWriter() {
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait(lock, [this] { return waiting > 0; });
    }

protected:
    std::streamsize xsputn(const char*, std::streamsize n) override {
        Pass();
        return n;
    }
    int overflow(int c) override {
        Pass();
        return c == traits_type::eof() ? 0 : c;
    }

private:
    void Pass() {
        std::unique_lock<std::mutex> lock(mutex);
        ++waiting;
        changed.notify_all();
        changed.wait(lock, [this] { return open; });
        --waiting;
    }
    std::mutex mutex;
    std::condition_variable changed;
    bool open = true;
    int waiting = 0;
};
}  // namespace

// A deferring (real-time) thread logs on while another writer is stuck on the
// console: its lines are queued up to the limit, the rest counted, and the
// file keeps the order in which the lines were logged.
TEST(LogSingletonDeferred, RealTimeThreadNeverWaitsForTheConsoleOrTheFile) {
    TempDir dir;
    GatedConsole console;
    std::streambuf* const saved = std::cout.rdbuf(&console);
    const int logged = int(LogSingleton::deferredLineLimit) + 476;
    {
        LogSingleton log(dir.Path(), 1000000, true);
        console.Close();
        std::thread slow([&log] { log.add("normal before"); });
        console.WaitForAWaitingWriter();

        std::promise<void> done;
        std::future<void> finished = done.get_future();
        std::thread realTime([&] {
            log.DeferThisThread();
            for (int i = 0; i < logged; ++i) log.add("rt " + std::to_string(i));
            done.set_value();
            finished.wait();
            log.StopDeferring();
        });
        const bool returned = finished.wait_for(std::chrono::seconds(60)) == std::future_status::ready;
        console.Open();
        slow.join();
        realTime.join();
        ASSERT_TRUE(returned) << "the deferring thread waited for the stuck writer";
        log.add("normal after");
    }
    std::cout.rdbuf(saved);

    std::ifstream in(FileName(dir, 1));
    std::vector<std::string> texts;
    std::string line;
    while (std::getline(in, line))
        if (line.size() > 17 && line[2] == ':') texts.push_back(line.substr(17));
    ASSERT_EQ(texts.size(), LogSingleton::deferredLineLimit + 3);
    EXPECT_EQ(texts.front(), "normal before");
    for (size_t i = 0; i < LogSingleton::deferredLineLimit; ++i) ASSERT_EQ(texts[i + 1], "rt " + std::to_string(i));
    EXPECT_EQ(texts[texts.size() - 2], "LogSingleton: 476 lines of a real-time thread dropped, the log could not keep up");
    EXPECT_EQ(texts.back(), "normal after");
}
