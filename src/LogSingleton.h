#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <ctime>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// PLC interface settings from the project file; all 0 until the project is read.
struct PlcSettings {
    bool active = false;
    bool autoConnect = false;
    int inputs[3] = {0, 0, 0};      // enable, start, reference
    int outputs[3] = {0, 0, 0};     // no fault, running, referenced
    int referenceSequence[9] = {0, 0, 0, 0, 0, 0, 0, 0, 0};
};

// The controller's one log: every line is stamped with the elapsed time,
// echoed on the console and written to five rotating files. It also carries
// the display mailboxes, the base directory and a few settings shared by
// the readers and the robot loop. Every thread logs; writers are serialised
// so that lines never interleave.
//
// The real-time threads must never wait for a file or the console: after
// DeferThisThread their lines are stamped and queued (a bounded queue, a short
// lock), and a writer thread of the log writes them. Every other thread writes
// the queued lines before its own, so the files keep the order of logging.
class LogSingleton {
public:
    static constexpr int fileCount = 5;
    static constexpr int defaultMaxLineCount = 200000;

    // The process-wide log. Registers itself as the instance when it is the first.
    LogSingleton();
    // An independent log writing into `directory` (tests and tools); never the instance.
    LogSingleton(const std::string& directory, int maxLineCount, bool echoConsole);
    ~LogSingleton();
    LogSingleton(const LogSingleton&) = delete;
    LogSingleton& operator=(const LogSingleton&) = delete;

    // The process-wide log; made on first use when no log object was built.
    static LogSingleton* instance();

    void add(std::string text);
    void add(std::string text, float value);
    void add(std::string text, int value);
    void addError(std::string text);
    // Writes what is queued and flushes the file.
    void Flush();

    // From now on the calling thread's lines go through the queue (starts the
    // writer thread on first use: call it before the thread takes real-time
    // scheduling). StopDeferring, at the thread's end, writes what is queued.
    void DeferThisThread();
    void StopDeferring();
    // Lines a deferring thread may have queued; beyond them lines are dropped
    // and counted, and the count is logged once the writer catches up.
    static constexpr size_t deferredLineLimit = 1024;
    std::string GetTimeString();

    void DisplaySetMessage(std::string message);
    int DisplayGetMessage(std::string* out);
    void DisplaySetFilename(std::string name);
    int DisplayGetFilename(std::string* out);

    std::string getIPAdress();

    // Shared settings, exchanged between threads by short copies.
    void SetPlcSettings(const PlcSettings& settings);
    PlcSettings GetPlcSettings() const;
    void SetPathOptimize(bool on) { pathOptimize.store(on); }
    bool GetPathOptimize() const { return pathOptimize.load(); }
    std::string GetBaseDirectory() const;
    void SetBaseDirectory(const std::string& dir);
    std::string GetWorkingDirectory() const;
    void SetVersion(const std::string& version);
    std::string GetVersion() const;
    void SetConsoleEcho(bool on) { echoConsole.store(on); }
    int GetLineCount() const;
    // The texts (without stamps) of the most recent lines, for tests and
    // diagnostics: LineSequence() counts every line ever logged, LinesSince(n)
    // returns those logged after the sequence number n that are still kept.
    static constexpr size_t recentLineCount = 4096;
    uint64_t LineSequence() const;
    std::vector<std::string> LinesSince(uint64_t sequence) const;
    int GetFileIndex() const;

    // Pure helpers behind the header and the stamp.
    static std::string BaseDirectoryFor(const std::string& workingDirectory);
    static std::string FormatElapsed(long long elapsedMs);

private:
    void Open(const std::string& directory);
    void writeLine(const std::string& text, bool error);
    void writeStamped(const std::string& stamp, const std::string& text, bool error);  // writeMutex held
    void writeDeferred();                                                           // writeMutex held
    void WriterLoop();
    void changeFile();
    void addHeader();

    static std::atomic<LogSingleton*> inst;

    mutable std::mutex writeMutex;  // stream, counters, file index
    std::ofstream file;
    std::string directory;
    std::string fileNames[fileCount];
    int fileIndex = 0;
    int lineCount = 0;
    int maxLineCount = defaultMaxLineCount;
    timespec startTime{};
    timespec lastTime{};
    std::atomic<bool> echoConsole{true};
    std::deque<std::string> recentLines;
    uint64_t lineSequence = 0;

    struct DeferredLine {
        std::string stamp;  // when it was logged
        std::string text;
        bool error = false;
    };
    std::mutex deferredMutex;  // the queue, the dropped count and the writer's flags
    std::condition_variable deferredReady;
    std::deque<DeferredLine> deferred;
    size_t droppedLines = 0;
    bool writerStop = false;
    std::thread writer;

    mutable std::mutex dataMutex;  // everything below
    std::string workingDirectory;
    std::string baseDirectory;
    std::string versionText;
    std::string displayMessage;
    bool displayMessageNew = false;
    int displayMessageCode = 0;
    std::string displayFilename;
    bool displayFilenameNew = false;
    PlcSettings plc;
    std::atomic<bool> pathOptimize{true};
};
