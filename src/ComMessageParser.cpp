#include "ComMessageParser.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "TextFormat.h"

namespace {

using Action = ComRequest::Action;

std::vector<std::string> Split(const std::string& text) {
    std::vector<std::string> tokens;
    std::size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
        std::size_t start = i;
        while (i < text.size() && !std::isspace(static_cast<unsigned char>(text[i]))) ++i;
        if (i > start) tokens.push_back(text.substr(start, i - start));
    }
    return tokens;
}

bool StartsWith(const std::string& text, const char* prefix) {
    return text.compare(0, std::char_traits<char>::length(prefix), prefix) == 0;
}

// The tokens after the keyword, without the closing marker.
std::vector<std::string> Arguments(const std::vector<std::string>& tokens, std::size_t first) {
    std::vector<std::string> args;
    for (std::size_t i = first; i < tokens.size(); ++i) args.push_back(tokens[i]);
    if (!args.empty() && args.back() == "NEXEND") args.pop_back();
    return args;
}

void Pending(ComRequest& r, int code) {
    r.action = Action::Pending;
    r.code = code;
}

void BadNumber(ComRequest& r, const std::string& keyword) {
    r.logLines.push_back("NEX-Server: ERROR missing or invalid number in " +
                         ComMessageParser::Printable(keyword) + ", message ignored");
}

void Refuse(ComRequest& r, const std::string& name) {
    std::string shown = ComMessageParser::Printable(name);
    r.logLines.push_back("NEX-Server: ERROR file name refused (outside the data directory): " +
                         shown);
    r.operatorMessage = "File name refused: " + shown;
}

// The first argument as a number; without one, the bad-number line is logged and false returned.
bool FirstInt(ComRequest& r, const std::vector<std::string>& args, const std::string& keyword, int base,
              int* out) {
    if (!args.empty() && ComMessageParser::ToInt(args[0], base, out)) return true;
    BadNumber(r, keyword);
    return false;
}

bool FirstFloat(ComRequest& r, const std::vector<std::string>& args, const std::string& keyword,
                float* out) {
    if (!args.empty() && ComMessageParser::ToFloat(args[0], out)) return true;
    BadNumber(r, keyword);
    return false;
}

// File-name argument shared by load, delete and upload; false when refused.
bool TakeName(ComRequest& r, const std::vector<std::string>& args, const std::string& keyword) {
    if (args.empty()) {
        r.logLines.push_back("NEX-Server: ERROR missing file name in " + keyword +
                             ", message ignored");
        return false;
    }
    if (!ComMessageParser::IsSafeName(args[0])) {
        Refuse(r, args[0]);
        return false;
    }
    r.text = args[0];
    return true;
}

void ParseKeepAlive(ComRequest& r, const std::vector<std::string>& args) {
    float jog[9];
    bool ok = args.size() >= 9;
    for (int i = 0; ok && i < 9; ++i) ok = ComMessageParser::ToFloat(args[i], &jog[i]);
    r.action = Action::KeepAlive;
    if (!ok) {
        // A garbled keep-alive stops the jog rather than keep the last motion going.
        r.logLines.push_back("NEX-Server: ERROR invalid keep-alive jog values, jog stopped");
        for (float& v : r.values) v = 0.0f;
        return;
    }
    for (int i = 0; i < 9; ++i) {
        // Jog values are percent of the jog speed.
        r.values[i] = std::fmax(-100.0f, std::fmin(100.0f, jog[i]));
    }
    r.jogValid = true;
}

// Robot commands without arguments: the pending command each raises and the line it logs.
struct PlainCommand {
    const char* keyword;
    int code;
    const char* logLine;  // none when null
};
const PlainCommand kPlainCommands[] = {
    {"Reset", 10, "NEX-Server: Reset joints"},
    {"Enable", 11, "NEX-Server: Enable joints"},
    {"Disable", 12, "NEX-Server: Disable joints"},
    {"SetJointsToZero", 13, "NEX-Server: Set joints to zero"},
    {"ReferenceAllJoints", 16, "NEX-Server: Reference all joints"},
    {"MotionTypeJoint", 21, "NEX-Server: Set motion type to: Joint"},
    {"MotionTypeCartBase", 22, "NEX-Server: Set motion type to: CartBase"},
    {"MotionTypeCartTool", 23, "NEX-Server: Set motion type to: CartTool"},
    {"MotionTypePlatform", 24, "NEX-Server: Set motion type to: Platform"},
    {"StartProgram", 2, nullptr},
    {"PauseProgram", 3, nullptr},
    {"StopProgram", 4, nullptr},
    {"DeleteProgram", 5, nullptr},
};

void ParseCommand(ComRequest& r, const std::vector<std::string>& tokens,
                  const std::string& message, const std::string& counterToken) {
    const std::string keyword = tokens.size() > 3 ? tokens[3] : std::string();
    const std::vector<std::string> args = Arguments(tokens, 4);

    for (const PlainCommand& plain : kPlainCommands) {
        if (keyword == plain.keyword) {
            Pending(r, plain.code);
            if (plain.logLine != nullptr) r.logLines.push_back(plain.logLine);
            return;
        }
    }
    if (keyword == "Connect") {
        r.logLines.push_back("NEX-Server: Connect command not available");
    } else if (keyword == "Disconnect") {
        r.logLines.push_back("NEX-Server: Disconnect command not available");
    } else if (keyword == "DOUT") {
        int channel = 0;
        if (args.empty() || !ComMessageParser::ToInt(args[0], 0, &channel)) {
            BadNumber(r, keyword);
        } else if (channel < 0) {
            r.logLines.push_back("NEX-Server: DOUT channel <0!");
        } else if (channel >= 64) {
            r.logLines.push_back("NEX-Server: DOUT channel > 64!");
        } else {
            bool on = args.size() > 1 && args[1] == "true";
            Pending(r, on ? 31 : 32);
            r.intArg = channel;
            r.logLines.push_back(Format("%s %d",
                                        on ? "NEX-Server: CMD-DOUT to TRUE: channel "
                                           : "NEX-Server: CMD-DOUT to FALSE: channel ",
                                        channel));
        }
    } else if (keyword == "ProgramReplayMode") {
        int mode = -1;
        if (args.empty() || !ComMessageParser::ToInt(args[0], 0, &mode)) mode = -1;
        static const char* const texts[3] = {"NEX-Server: Replay Mode set to Single",
                                             "NEX-Server: Replay Mode set to Repeat",
                                             "NEX-Server: Replay Mode set to Step"};
        if (mode >= 0 && mode <= 2) {
            Pending(r, 7 + mode);
            r.logLines.push_back(texts[mode]);
        } else {
            r.logLines.push_back("NEX-Server: Replay Mode not recongnized!");
        }
    } else if (keyword == "ReferenceSingleJoint") {
        int joint = 0;
        if (FirstInt(r, args, keyword, 0, &joint)) {
            Pending(r, 15);
            r.intArg = joint;
            r.logLines.push_back(Format("%s %d", "NEX-Server: Reference Joint ", joint));
        }
    } else if (keyword == "Override") {
        float value = 0.0f;
        if (FirstFloat(r, args, keyword, &value)) {
            // Passed on unchanged: the robot applies the override as given.
            Pending(r, 33);
            r.floatArg = value;
            r.logLines.push_back(Format("%s %.1f", "NEX-Server: Change override to ",
                                        static_cast<double>(value)));
        }
    } else if (keyword == "DeleteProgramFromFileSystem") {
        if (TakeName(r, args, keyword)) r.action = Action::DeleteProgramFile;
    } else if (keyword == "GetProgramInfo") {
        r.action = Action::GetProgramInfo;
    } else if (keyword == "GetProgramName") {
        int index = 0;
        if (FirstInt(r, args, keyword, 10, &index)) {
            r.action = Action::GetProgramName;
            r.number = index;
        }
    } else if (keyword == "LoadProgram") {
        if (TakeName(r, args, keyword)) {
            r.action = Action::LoadProgram;
            r.logLines.push_back("NEX-Server: Loading program " + r.text);
        }
    } else if (keyword == "UploadFileInit") {
        if (TakeName(r, args, keyword)) {
            int count = 0;
            if (args.size() < 2 || !ComMessageParser::ToInt(args[1], 10, &count)) count = 0;
            r.action = Action::UploadInit;
            r.number = count;
        }
    } else if (keyword == "UploadFileLine") {
        // Taken by position, so that blanks inside the line survive.
        long start = ComMessageParser::uploadLineOffset + static_cast<long>(counterToken.size());
        long end = static_cast<long>(message.size()) - 7;
        if (start > end) {
            r.logLines.push_back("NEX-Server: ERROR upload line too short, ignored");
            r.action = Action::UploadLineRefused;
        } else {
            r.action = Action::UploadLine;
            r.text = message.substr(static_cast<std::size_t>(start),
                                    static_cast<std::size_t>(end - start));
        }
    } else if (keyword == "UploadFileFinish") {
        r.action = Action::UploadFinish;
    } else {
        r.logLines.push_back("NEX-Server: ERROR Could not parse robot command!");
    }
}

void ParseSystem(ComRequest& r, const std::vector<std::string>& tokens) {
    const std::string keyword = tokens.size() > 3 ? tokens[3] : std::string();
    const std::vector<std::string> args = Arguments(tokens, 4);
    if (keyword == "Shutdown") {
        int number = 0;
        if (FirstInt(r, args, keyword, 10, &number)) {
            // The main loop shuts down only when the number is 99 as well.
            Pending(r, 99);
            r.intArg = number;
        }
    } else if (keyword == "CAN") {
        // "ID %d Length %d MSG %d x8", read as far as it matches.
        int id = -1, len = -1;
        int data[8] = {0, 0, 0, 0, 0, 0, 0, 0};
        std::size_t i = 0;
        auto word = [&](const char* w) { return i < args.size() && args[i++] == w; };
        auto number = [&](int* out) {
            return i < args.size() && ComMessageParser::ToInt(args[i++], 10, out);
        };
        if (word("ID") && number(&id) && word("Length") && number(&len) && word("MSG")) {
            for (int k = 0; k < 8 && number(&data[k]); ++k) {
            }
        }
        r.logLines.push_back(Format(
            "NEX-Server: CAN message to ID %d, length %d, data: %d %d %d %d %d %d %d %d", id, len,
            data[0], data[1], data[2], data[3], data[4], data[5], data[6], data[7]));
    } else {
        r.logLines.push_back("NEX-Server: ERROR Could not parse system command!");
    }
}

void ParseProgramLine(ComRequest& r, const std::vector<std::string>& tokens,
                      const std::string& message) {
    const std::string kind = tokens.size() > 4 ? tokens[4] : std::string();
    const std::vector<std::string> args = Arguments(tokens, 5);
    auto number = [&]() {
        return tokens.size() > 3 && ComMessageParser::ToInt(tokens[3], 10, &r.number);
    };
    if (kind == "JOINT") {
        float v[10] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0};  // 6 joints, 3 external, velocity
        bool ok = number() && args.size() >= 6;
        for (int k = 0; ok && k < 6; ++k) ok = ComMessageParser::ToFloat(args[k], &v[k]);
        if (!ok) {
            BadNumber(r, "PROG JOINT");
            return;
        }
        // External axes and velocity are optional: read in order as far as they
        // are present, the rest stays 0.
        std::size_t i = 6;
        bool more = i < args.size() && args[i] == "EXT";
        if (more) ++i;
        for (int k = 6; more && k < 9; ++k) {
            more = i < args.size() && ComMessageParser::ToFloat(args[i], &v[k]);
            if (more) ++i;
        }
        if (more && i + 1 < args.size() && args[i] == "VEL") {
            ComMessageParser::ToFloat(args[i + 1], &v[9]);
        }
        for (int k = 0; k < 9; ++k) r.values[k] = v[k];
        r.velocity = v[9];
        r.action = Action::ProgJoint;
        r.logLines.push_back(Format(
            "NEX-Server: JOINT %.1lf %.1lf %.1lf %.1lf %.1lf %.1lf ext: %.1lf %.1lf %.1lf vel: "
            "%.1lf",
            double(v[0]), double(v[1]), double(v[2]), double(v[3]), double(v[4]), double(v[5]),
            double(v[6]), double(v[7]), double(v[8]), double(v[9])));
    } else if (kind == "LINEAR") {
        r.logLines.push_back("NEX-Server: Linear - not implemented yet!");
    } else if (kind == "RELATIVELINEAR") {
        r.logLines.push_back("NEX-Server: RelativeLinear - not implemented yet!");
    } else if (kind == "RELATIVEJOINT") {
        r.logLines.push_back("NEX-Server: RelativeJoint - not implemented yet!");
    } else if (kind == "GRIPPER") {
        bool ok = number() && args.size() >= 3;
        for (int k = 0; ok && k < 3; ++k) ok = ComMessageParser::ToFloat(args[k], &r.values[k]);
        if (!ok) {
            BadNumber(r, "PROG GRIPPER");
            return;
        }
        r.action = Action::ProgGripper;
        r.logLines.push_back(Format("NEX-Server: GRIPPER %.1lf %.1lf %.1lf", double(r.values[0]),
                                    double(r.values[1]), double(r.values[2])));
    } else if (kind == "WAIT") {
        int ms = 0;
        if (!number() || args.empty() || !ComMessageParser::ToInt(args[0], 10, &ms)) {
            BadNumber(r, "PROG WAIT");
            return;
        }
        r.action = Action::ProgWait;
        r.waitMs = ms;
        r.logLines.push_back(Format("NEX-Server: WAIT %d", ms));
    } else if (kind == "DOUT") {
        r.logLines.push_back("NEX-Server: DOut - not implemented yet!");
    } else {
        r.stdoutLines.push_back("Read, but not parsed: PROG " + ComMessageParser::Printable(kind) +
                                ": " + ComMessageParser::Printable(message));
    }
}

}  // namespace

ComRequest ComMessageParser::Parse(const char* message, int length) {
    ComRequest r;
    if (message == nullptr || length <= 0) return r;
    if (length > maxMessageLength) {
        r.logLines.push_back(Format(
            "NEX-Server: ERROR message of %d characters exceeds %d, ignored", length,
            maxMessageLength));
        // An upload must not go on as if nothing were missing: say which
        // message it was, from its first tokens.
        const std::vector<std::string> head = Split(std::string(message, 128));
        if (head.size() > 3 && StartsWith(head[0], "NEXSTART") && StartsWith(head[2], "CMD") &&
            head[3] == "UploadFileLine") {
            r.action = Action::UploadLineRefused;
        }
        return r;
    }
    const std::string copy(message, static_cast<std::size_t>(length));
    const std::vector<std::string> tokens = Split(copy);
    if (tokens.empty() || !StartsWith(tokens[0], "NEXSTART")) return r;
    const std::string counterToken = tokens.size() > 1 ? tokens[1] : std::string();
    const std::string group = tokens.size() > 2 ? tokens[2] : std::string();

    if (group == "ALIVEJOG") {
        ParseKeepAlive(r, Arguments(tokens, 3));
    } else if (StartsWith(group, "CMD")) {
        ParseCommand(r, tokens, copy, counterToken);
    } else if (StartsWith(group, "SYSTEM")) {
        ParseSystem(r, tokens);
    } else if (StartsWith(group, "PROG")) {
        ParseProgramLine(r, tokens, copy);
    }
    return r;
}

bool ComMessageParser::IsSafeName(const std::string& name) {
    if (name.empty() || name[0] == '/') return false;
    for (char c : name) {
        if (std::iscntrl(static_cast<unsigned char>(c))) return false;
    }
    std::size_t start = 0;
    while (start <= name.size()) {
        std::size_t slash = name.find('/', start);
        if (slash == std::string::npos) slash = name.size();
        if (name.compare(start, slash - start, "..") == 0) return false;
        start = slash + 1;
    }
    return true;
}

bool ComMessageParser::ToInt(const std::string& token, int base, int* out) {
    if (token.empty()) return false;
    errno = 0;
    char* end = nullptr;
    long value = std::strtol(token.c_str(), &end, base);
    if (end != token.c_str() + token.size() || errno == ERANGE) return false;
    if (value < INT_MIN || value > INT_MAX) return false;
    *out = static_cast<int>(value);
    return true;
}

bool ComMessageParser::ToFloat(const std::string& token, float* out) {
    if (token.empty()) return false;
    errno = 0;
    char* end = nullptr;
    float value = std::strtof(token.c_str(), &end);
    if (end != token.c_str() + token.size() || !std::isfinite(value)) return false;
    *out = value;
    return true;
}

std::string ComMessageParser::Printable(const std::string& text) {
    std::string out = text;
    for (char& c : out) {
        if (std::iscntrl(static_cast<unsigned char>(c))) c = '?';
    }
    return out;
}
