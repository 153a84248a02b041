#include "FrontendTrace.h"

#include <cstdio>

namespace {

std::string Number(const char* format, double value) {
    char text[64];
    int n = std::snprintf(text, sizeof(text), format, value);
    return n > 0 && n < int(sizeof(text)) ? std::string(text) : std::string("nan");
}

}  // namespace

bool FrontendTrace::Open(const std::string& path) {
    out.open(path, std::ios::trunc);
    if (!out) return false;
    out << "time_s,telegram";
    for (int i = 1; i <= 7; ++i) out << ",set" << i;
    for (int i = 1; i <= 7; ++i) out << ",meas" << i;
    out << ",x,y,z,a,b,c,override,din,dout,kin,error\n";
    out.flush();
    start = std::chrono::steady_clock::now();
    return true;
}

void FrontendTrace::Write(const ComStatusTelegram& s) {
    std::lock_guard<std::mutex> lock(mutex);
    if (!out.is_open()) return;
    double t = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::string line = Number("%.3f", t) + "," + std::to_string(s.counter);
    for (float v : s.jointSetPoint) line += "," + Number("%.3f", double(v));
    for (float v : s.jointCurrent) line += "," + Number("%.3f", double(v));
    for (float v : s.pose) line += "," + Number("%.2f", double(v));
    line += "," + Number("%.1f", double(s.override)) + "," + std::to_string(s.digitalIn) + "," +
            std::to_string(s.digitalOut) + "," + std::to_string(s.kinState) + "," + s.errorText;
    // Flushed per line, so that a reader following the file sees it at once.
    out << line << "\n";
    out.flush();
}
