#include "support/LogTail.h"

#include <unistd.h>

#include <algorithm>
#include <climits>

#include "LogSingleton.h"
#include "support/TempDir.h"

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

LogTail::LogTail() { Skip(); }

std::vector<std::string> LogTail::Lines() const { return LogSingleton::instance()->LinesSince(start); }

bool LogTail::Has(const std::string& text) const { return Count(text) > 0; }

int LogTail::Count(const std::string& text) const {
    const std::vector<std::string> lines = Lines();
    return static_cast<int>(std::count(lines.begin(), lines.end(), text));
}

void LogTail::Skip() { start = LogSingleton::instance()->LineSequence(); }

std::string LogTail::DisplayMessage() {
    std::string message;
    LogSingleton::instance()->DisplayGetMessage(&message);
    return message;
}
