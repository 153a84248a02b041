#pragma once

#include <chrono>
#include <fstream>
#include <mutex>
#include <string>

#include "ComStatusTelegram.h"

// A front-end's trace: one CSV line per status telegram with the time since
// opening, the joint set-points and measured joints, pose, override, I/O and
// error state (read by scripts/demo.sh for its plot).
class FrontendTrace {
public:
    bool Open(const std::string& path);
    void Write(const ComStatusTelegram& s);

private:
    std::mutex mutex;
    std::ofstream out;
    std::chrono::steady_clock::time_point start;
};
