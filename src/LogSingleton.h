#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <ctime>
#include <fstream>
#include <mutex>
#include <string>
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
    void Flush();
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
