#include "LogSingleton.h"

#include "RealTimeScheduling.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <unistd.h>

#include <cstdio>
#include <iostream>

std::atomic<LogSingleton*> LogSingleton::inst{nullptr};

namespace {
const char* const kFileNames[LogSingleton::fileCount] = {
    "logMessages01.txt", "logMessages02.txt", "logMessages03.txt", "logMessages04.txt",
    "logMessages05.txt"};

// The log whose queue the calling thread writes to, if any.
thread_local LogSingleton* deferringTo = nullptr;

// Elapsed time uses the monotonic clock so that a wall-clock step cannot make
// stamps run backwards.
timespec Now() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t;
}
}  // namespace

LogSingleton::LogSingleton() {
    if (inst.load() != nullptr) {
        // A second log object stays empty and opens no file.
        displayMessage.clear();
        displayFilename.clear();
        return;
    }
    std::cout << "LogSingleton init" << std::endl;
    Open("");
    std::cout << "LogSingleton:" << fileNames[0] << std::endl;
    {
        std::lock_guard<std::mutex> lock(writeMutex);
        addHeader();
    }
    displayMessage = "n/a";
    displayFilename = "n/a";
    displayMessageNew = true;
    pathOptimize.store(true);
    inst.store(this);
}

LogSingleton::LogSingleton(const std::string& dir, int maxLines, bool echo) {
    echoConsole.store(echo);
    Open(dir);
    maxLineCount = maxLines;
    {
        std::lock_guard<std::mutex> lock(writeMutex);
        addHeader();
    }
    displayMessage = "n/a";
    displayFilename = "n/a";
    displayMessageNew = true;
}

LogSingleton::~LogSingleton() {
    {
        std::lock_guard<std::mutex> lock(deferredMutex);
        writerStop = true;
    }
    deferredReady.notify_all();
    if (writer.joinable()) writer.join();
    {
        std::lock_guard<std::mutex> lock(writeMutex);
        writeDeferred();
        if (file.is_open()) {
            file.flush();
            file.close();
        }
    }
    LogSingleton* self = this;
    inst.compare_exchange_strong(self, nullptr);
}

LogSingleton* LogSingleton::instance() {
    LogSingleton* current = inst.load();
    if (current != nullptr) return current;
    // Libraries, tests and tools that build no log object of their own.
    static LogSingleton fallback;
    current = inst.load();
    return current != nullptr ? current : &fallback;
}

void LogSingleton::Open(const std::string& dir) {
    std::lock_guard<std::mutex> lock(writeMutex);
    directory = dir;
    startTime = Now();
    lastTime = startTime;
    fileIndex = 0;
    maxLineCount = defaultMaxLineCount;
    for (int i = 0; i < fileCount; ++i)
        fileNames[i] = directory.empty() ? kFileNames[i] : directory + "/" + kFileNames[i];
    file.open(fileNames[0], std::ios::out | std::ios::trunc);
    lineCount = 0;
}

std::string LogSingleton::FormatElapsed(long long ms) {
    if (ms < 0) ms = 0;
    long long hours = ms / 3600000;
    int minutes = int((ms / 60000) % 60);
    int seconds = int((ms / 1000) % 60);
    int millis = int(ms % 1000);
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%02lld:%02d:%02d:%03d", hours, minutes, seconds, millis);
    return buffer;
}

std::string LogSingleton::GetTimeString() {
    timespec now = Now();
    long long seconds = now.tv_sec - startTime.tv_sec;
    long long nanos = now.tv_nsec - startTime.tv_nsec;
    if (nanos < 0) {
        seconds -= 1;
        nanos += 1000000000LL;
    }
    return FormatElapsed(seconds * 1000 + nanos / 1000000);
}

void LogSingleton::writeLine(const std::string& text, bool error) {
    std::string stamp = GetTimeString();
    if (deferringTo == this) {
        {
            std::lock_guard<std::mutex> lock(deferredMutex);
            if (deferred.size() < deferredLineLimit)
                deferred.push_back(DeferredLine{std::move(stamp), text, error});
            else
                ++droppedLines;
        }
        deferredReady.notify_one();
        return;
    }
    std::lock_guard<std::mutex> lock(writeMutex);
    writeDeferred();
    writeStamped(stamp, text, error);
}

void LogSingleton::writeDeferred() {
    std::deque<DeferredLine> lines;
    size_t dropped = 0;
    {
        std::lock_guard<std::mutex> lock(deferredMutex);
        lines.swap(deferred);
        std::swap(dropped, droppedLines);
    }
    for (const DeferredLine& d : lines) writeStamped(d.stamp, d.text, d.error);
    if (dropped > 0) {
        const std::string text = "LogSingleton: " + std::to_string(dropped) +
                                 " lines of a real-time thread dropped, the log could not keep up";
        writeStamped(GetTimeString(), text, true);
    }
}

void LogSingleton::WriterLoop() {
    RealTimeScheduling::EnterNormalThread();
    std::unique_lock<std::mutex> lock(deferredMutex);
    while (!writerStop) {
        deferredReady.wait(lock, [this] { return writerStop || !deferred.empty() || droppedLines > 0; });
        lock.unlock();
        {
            std::lock_guard<std::mutex> write(writeMutex);
            writeDeferred();
        }
        lock.lock();
    }
}

void LogSingleton::DeferThisThread() {
    {
        std::lock_guard<std::mutex> lock(deferredMutex);
        if (!writer.joinable() && !writerStop) writer = std::thread(&LogSingleton::WriterLoop, this);
    }
    deferringTo = this;
}

void LogSingleton::StopDeferring() {
    if (deferringTo == this) deferringTo = nullptr;
    std::lock_guard<std::mutex> lock(writeMutex);
    writeDeferred();
}

// Called with writeMutex held.
void LogSingleton::writeStamped(const std::string& stamp, const std::string& text, bool error) {
    const std::string line = stamp + "     " + text + "\n";
    if (echoConsole.load()) {
        std::ostream& console = error ? std::cerr : std::cout;
        console << line << std::flush;
    }
    if (file.is_open()) {
        file << line;
        file.flush();
    }
    lastTime = Now();
    recentLines.push_back(text);
    if (recentLines.size() > recentLineCount) recentLines.pop_front();
    lineSequence++;
    lineCount++;
    if (lineCount > maxLineCount) changeFile();
}

void LogSingleton::add(std::string text) { writeLine(text, false); }

void LogSingleton::add(std::string text, float value) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, " %.1f", double(value));
    writeLine(text + buffer, false);
}

void LogSingleton::add(std::string text, int value) {
    writeLine(text + " " + std::to_string(value), false);
}

void LogSingleton::addError(std::string text) { writeLine(text, true); }

void LogSingleton::Flush() {
    std::lock_guard<std::mutex> lock(writeMutex);
    writeDeferred();
    file.flush();
}

void LogSingleton::changeFile() {
    fileIndex = (fileIndex + 1) % fileCount;
    file.flush();
    file.close();
    file.clear();
    file.open(fileNames[fileIndex], std::ios::out | std::ios::trunc);
    lineCount = 0;
    addHeader();
}

std::string LogSingleton::BaseDirectoryFor(const std::string& wd) {
    std::string::size_type pos = wd.rfind("Orvane");
    std::string prefix = (pos == std::string::npos) ? wd : wd.substr(0, pos);
    return prefix + "Orvane/";
}

// Called with writeMutex held.
void LogSingleton::addHeader() {
    const bool echo = echoConsole.load();
    file << "VKT Orvane LogFile." << "\n";
    if (echo) std::cout << "VKT Orvane" << std::endl;
    time_t now = time(nullptr);
    tm local{};
    localtime_r(&now, &local);
    char dateText[64];
    if (asctime_r(&local, dateText) == nullptr) dateText[0] = '\0';
    file << dateText;
    if (echo) std::cout << "LogSingleton 1" << std::endl;
    char cwd[1024];
    std::string wd = (getcwd(cwd, sizeof cwd) != nullptr) ? std::string(cwd) : std::string();
    if (echo) std::cout << wd << std::endl;
    std::string base = BaseDirectoryFor(wd);
    if (echo) std::cout << base << std::endl;
    {
        std::lock_guard<std::mutex> lock(dataMutex);
        workingDirectory = wd;
        baseDirectory = base;
    }
    file << "\n";
    file.flush();
    lineCount += 3;
}

void LogSingleton::DisplaySetMessage(std::string message) {
    std::lock_guard<std::mutex> lock(dataMutex);
    displayMessage = std::move(message);
    displayMessageNew = true;
    displayMessageCode = 0;
}

int LogSingleton::DisplayGetMessage(std::string* out) {
    std::lock_guard<std::mutex> lock(dataMutex);
    if (!displayMessageNew) return 0;
    *out = displayMessage;
    displayMessageNew = false;
    return 1;
}

void LogSingleton::DisplaySetFilename(std::string name) {
    std::lock_guard<std::mutex> lock(dataMutex);
    displayFilename = std::move(name);
    displayFilenameNew = true;
}

int LogSingleton::DisplayGetFilename(std::string* out) {
    std::lock_guard<std::mutex> lock(dataMutex);
    if (!displayFilenameNew) return 0;
    *out = displayFilename;
    displayFilenameNew = false;
    return 1;
}

std::string LogSingleton::getIPAdress() {
    std::string text = "Running on IP address: ";
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return text;
    for (ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
        if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET) continue;
        char address[INET_ADDRSTRLEN] = {0};
        const auto* in = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr);
        if (inet_ntop(AF_INET, &in->sin_addr, address, sizeof address) == nullptr) continue;
        if (std::string(address) == "127.0.0.1") continue;
        text += address;
        text += "   ";
    }
    freeifaddrs(list);
    return text;
}

void LogSingleton::SetPlcSettings(const PlcSettings& settings) {
    std::lock_guard<std::mutex> lock(dataMutex);
    plc = settings;
}

PlcSettings LogSingleton::GetPlcSettings() const {
    std::lock_guard<std::mutex> lock(dataMutex);
    return plc;
}

std::string LogSingleton::GetBaseDirectory() const {
    std::lock_guard<std::mutex> lock(dataMutex);
    return baseDirectory;
}

void LogSingleton::SetBaseDirectory(const std::string& dir) {
    std::lock_guard<std::mutex> lock(dataMutex);
    baseDirectory = dir;
}

std::string LogSingleton::GetWorkingDirectory() const {
    std::lock_guard<std::mutex> lock(dataMutex);
    return workingDirectory;
}

void LogSingleton::SetVersion(const std::string& version) {
    std::lock_guard<std::mutex> lock(dataMutex);
    versionText = version;
}

std::string LogSingleton::GetVersion() const {
    std::lock_guard<std::mutex> lock(dataMutex);
    return versionText;
}

int LogSingleton::GetLineCount() const {
    std::lock_guard<std::mutex> lock(writeMutex);
    return lineCount;
}

int LogSingleton::GetFileIndex() const {
    std::lock_guard<std::mutex> lock(writeMutex);
    return fileIndex;
}

uint64_t LogSingleton::LineSequence() const {
    std::lock_guard<std::mutex> lock(writeMutex);
    return lineSequence;
}

std::vector<std::string> LogSingleton::LinesSince(uint64_t sequence) const {
    std::lock_guard<std::mutex> lock(writeMutex);
    uint64_t wanted = lineSequence > sequence ? lineSequence - sequence : 0;
    if (wanted > recentLines.size()) wanted = recentLines.size();
    return std::vector<std::string>(recentLines.end() - static_cast<long>(wanted), recentLines.end());
}
