#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The lines the process-wide log writes from the moment it is made, without
// their time stamps, so that tests can check log texts exactly. Taken from the
// log's in-memory record rather than its file, which parallel test processes share.
class LogTail {
public:
    // Makes the process-wide log write its files into a directory of this
    // process alone, if no log was made yet (ctest runs tests as parallel
    // processes, which would otherwise all write one log file in the build
    // directory). Call it before anything logs, at the start of a fixture's SetUp.
    static void UsePrivateLog();

    LogTail();
    // Lines logged since construction (or since the last Skip()).
    std::vector<std::string> Lines() const;
    // True when a line equal to `text` was logged.
    bool Has(const std::string& text) const;
    // Number of lines equal to `text`.
    int Count(const std::string& text) const;
    // Forgets what was logged so far.
    void Skip();

    // Takes the newest display message; "" when none is pending.
    static std::string DisplayMessage();

private:
    uint64_t start = 0;
};
