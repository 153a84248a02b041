#include "support/LogTail.h"

#include <unistd.h>

#include <algorithm>
#include <climits>
#include <fstream>

#include "LogSingleton.h"
#include "support/TempDir.h"

namespace {
// Every line is "HH:MM:SS:mmm" (hours may have more digits), five blanks, text.
std::string WithoutStamp(const std::string& line) {
    const size_t blanks = line.find("     ");
    if (blanks == std::string::npos) return line;
    return line.substr(blanks + 5);
}
}  // namespace

void LogTail::UsePrivateLog() {
    static bool done = false;
    if (done) return;
    done = true;
    // Outlives the log (made after it, so destroyed after it at exit).
    static TempDir directory;
    char previous[PATH_MAX];
    if (getcwd(previous, sizeof previous) == nullptr) return;
    if (chdir(directory.Path().c_str()) != 0) return;
    LogSingleton::instance();  // made here unless it exists already
    if (chdir(previous) != 0) return;
}

LogTail::LogTail() {
    LogSingleton::instance()->Flush();
    file = File();
    std::ifstream in(file, std::ios::binary | std::ios::ate);
    offset = in.is_open() ? static_cast<long long>(in.tellg()) : 0;
}

std::string LogTail::File() const {
    LogSingleton* log = LogSingleton::instance();
    return log->GetWorkingDirectory() + "/logMessages0" + std::to_string(log->GetFileIndex() + 1) + ".txt";
}

std::vector<std::string> LogTail::Lines() const {
    LogSingleton::instance()->Flush();
    std::vector<std::string> lines;
    std::ifstream in(file, std::ios::binary);
    in.seekg(offset);
    std::string line;
    while (std::getline(in, line)) lines.push_back(WithoutStamp(line));
    return lines;
}

bool LogTail::Has(const std::string& text) const { return Count(text) > 0; }

int LogTail::Count(const std::string& text) const {
    const std::vector<std::string> lines = Lines();
    return static_cast<int>(std::count(lines.begin(), lines.end(), text));
}

void LogTail::Skip() {
    LogSingleton::instance()->Flush();
    std::ifstream in(file, std::ios::binary | std::ios::ate);
    offset = in.is_open() ? static_cast<long long>(in.tellg()) : 0;
}
