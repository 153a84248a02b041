#include "ComStatusTelegram.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <vector>

#include "ComMessageParser.h"

namespace {

class Reader {
public:
    explicit Reader(const std::string& text) {
        std::istringstream in(text);
        std::string t;
        while (in >> t) tokens.push_back(t);
    }
    bool Word(const char* w) { return ok && (ok = pos < tokens.size() && tokens[pos++] == w); }
    bool Text(std::string* out) {
        if (!(ok = ok && pos < tokens.size())) return false;
        *out = tokens[pos++];
        return true;
    }
    bool Int(int* out) { return ok && (ok = pos < tokens.size() && ComMessageParser::ToInt(tokens[pos++], 10, out)); }
    bool Float(float* out) {
        return ok && (ok = pos < tokens.size() && ComMessageParser::ToFloat(tokens[pos++], out));
    }
    bool U64(uint64_t* out) {
        if (!(ok = ok && pos < tokens.size())) return false;
        const std::string& t = tokens[pos++];
        errno = 0;
        char* end = nullptr;
        unsigned long long v = std::strtoull(t.c_str(), &end, 10);
        ok = !t.empty() && t[0] != '-' && end == t.c_str() + t.size() && errno != ERANGE;
        if (ok) *out = v;
        return ok;
    }
    // A keyword and the one value after it.
    bool Field(const char* w, int* out) { return Word(w) && Int(out); }
    bool Field(const char* w, float* out) { return Word(w) && Float(out); }
    bool Field(const char* w, uint64_t* out) { return Word(w) && U64(out); }
    void Skip(int n) {
        float dummy;
        for (int i = 0; i < n; ++i) Float(&dummy);
    }
    bool Ok() const { return ok; }
    bool AtEnd() const { return pos == tokens.size(); }

private:
    std::vector<std::string> tokens;
    std::size_t pos = 0;
    bool ok = true;
};

}  // namespace

bool ComStatusTelegram::Parse(const std::string& text) {
    ComStatusTelegram s;
    Reader r(text);
    r.Word("NEXSTART");
    r.Int(&s.counter);
    r.Word("STATUS");
    r.Word("MODE");
    r.Text(&s.mode);
    r.Word("POSJOINTSETPOINT");
    for (float& v : s.jointSetPoint) r.Float(&v);
    r.Skip(9);
    r.Word("POSJOINTCURRENT");
    for (float& v : s.jointCurrent) r.Float(&v);
    r.Skip(9);
    r.Word("POSCARTROBOT");
    for (float& v : s.pose) r.Float(&v);
    r.Word("POSCARTPLATTFORM");
    r.Skip(3);
    r.Field("OVERRIDE", &s.override);
    r.Field("DIN", &s.digitalIn);
    r.Field("DOUT", &s.digitalOut);
    r.Field("ESTOP", &s.emergencyStop);
    r.Field("SUPPLY", &s.supply);
    r.Field("CURRENTALL", &s.currentAll);
    r.Word("CURRENTJOINTS");
    for (int& v : s.jointMotorCurrent) r.Int(&v);
    r.Skip(9);
    r.Word("ERROR");
    r.Text(&s.errorText);
    for (int& v : s.jointError) r.Int(&v);
    r.Skip(9);
    r.Field("KINSTATE", &s.kinState);
    r.Word("NEXEND");
    if (!r.Ok() || !r.AtEnd()) return false;
    *this = s;
    return true;
}

std::string ComStatusTelegram::KinStateText(int kinState) {
    switch (kinState) {
        case 0: return "KinOK";
        case 99: return "MotionNotAllowed";
        case 13:
        case 14: return "ERROR-JointLimit";
        case 15: return "ERROR-JointStep";
        case 21: return "ERROR-KinCenter";
        case 22: return "ERROR-KinReach";
        case 23: return "ERROR-KinWrist";
        default: return "ERROR";
    }
}

std::string ComStatusTelegram::ToReadable() const {
    char buf[768];
    std::snprintf(buf, sizeof(buf),
                  "STATUS #%03d joints %.2f %.2f %.2f %.2f %.2f %.2f %.2f | pose %.1f %.1f %.1f "
                  "%.2f %.2f %.2f | override %.1f | DIN %016llx DOUT %016llx | estop %d supply "
                  "%d current %d | error %s %d %d %d %d %d %d %d | kin %d %s",
                  counter, double(jointSetPoint[0]), double(jointSetPoint[1]),
                  double(jointSetPoint[2]), double(jointSetPoint[3]), double(jointSetPoint[4]),
                  double(jointSetPoint[5]), double(jointSetPoint[6]), double(pose[0]),
                  double(pose[1]), double(pose[2]), double(pose[3]), double(pose[4]),
                  double(pose[5]), double(override), static_cast<unsigned long long>(digitalIn),
                  static_cast<unsigned long long>(digitalOut), emergencyStop, supply, currentAll,
                  errorText.c_str(), jointError[0], jointError[1], jointError[2], jointError[3],
                  jointError[4], jointError[5], jointError[6], kinState,
                  KinStateText(kinState).c_str());
    return buf;
}
