#include "WebMessage.h"

#include <cmath>
#include <cstdio>
#include <sstream>

#include "PkgWeb/WebJson.h"

namespace {

WebRequest Invalid(const std::string& why) {
    WebRequest r;
    r.error = why;
    return r;
}

std::string Fixed(double v, int decimals) {
    char text[48];
    std::snprintf(text, sizeof(text), "%.*f", decimals, v);
    return text;
}

template <typename T>
std::string Array(const T* values, int n, int decimals) {
    std::string out = "[";
    for (int i = 0; i < n; ++i) {
        if (i > 0) out += ',';
        out += Fixed(double(values[i]), decimals);
    }
    return out + "]";
}

bool Integer(double v, double low, double high) {
    return v == std::floor(v) && v >= low && v <= high;
}

}  // namespace

bool WebMessage::IsProgramName(const std::string& name) {
    if (name.empty() || name.size() > maxNameLength || name[0] == '.') return false;
    for (char c : name) {
        bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                  c == '_' || c == '-' || c == '.';
        if (!ok) return false;
    }
    return true;
}

WebRequest WebMessage::Parse(const std::string& text) {
    if (text.size() > maxMessageBytes) return Invalid("message too long");
    WebJson json;
    std::string why;
    if (!json.Parse(text, &why)) return Invalid("bad message: " + why);
    std::string type;
    if (!json.String("type", &type)) return Invalid("message without a type");

    WebRequest r;
    if (type == "command") {
        static const std::pair<const char*, const char*> commands[] = {
            {"enable", "CMD Enable"},          {"disable", "CMD Disable"},
            {"reset", "CMD Reset"},            {"referenceAll", "CMD ReferenceAllJoints"},
            {"start", "CMD StartProgram"},     {"pause", "CMD PauseProgram"},
            {"stop", "CMD StopProgram"},       {"modeJoint", "CMD MotionTypeJoint"},
            {"modeBase", "CMD MotionTypeCartBase"}, {"modeTool", "CMD MotionTypeCartTool"},
            {"modePlatform", "CMD MotionTypePlatform"}};
        std::string name;
        json.String("name", &name);
        for (const auto& c : commands) {
            if (name == c.first) {
                r.kind = WebRequest::Kind::Command;
                r.name = name;
                r.frames.push_back(c.second);
                return r;
            }
        }
        return Invalid("unknown command");
    }
    if (type == "override") {
        double v = 0.0;
        if (!json.Number("value", &v) || v < 0.0 || v > 100.0) {
            return Invalid("override must be a number from 0 to 100");
        }
        r.kind = WebRequest::Kind::Command;
        r.value = float(v);
        r.frames.push_back("CMD Override " + Fixed(v, 1));
        return r;
    }
    if (type == "jog") {
        double axis = 0.0, v = 0.0;
        if (!json.Number("axis", &axis) || !Integer(axis, 1, 9)) {
            return Invalid("jog axis must be 1 to 9");
        }
        if (!json.Number("value", &v) || v < -100.0 || v > 100.0) {
            return Invalid("jog value must be a number from -100 to 100");
        }
        r.kind = WebRequest::Kind::Jog;
        r.axis = int(axis);
        r.value = float(v);
        return r;
    }
    if (type == "load") {
        if (!json.String("name", &r.name) || !IsProgramName(r.name)) return Invalid("bad program name");
        r.kind = WebRequest::Kind::Load;
        r.frames.push_back("CMD LoadProgram " + r.name);
        return r;
    }
    if (type == "upload") {
        std::string content;
        if (!json.String("name", &r.name) || !IsProgramName(r.name)) return Invalid("bad program name");
        if (!json.String("text", &content)) return Invalid("upload without text");
        std::vector<std::string> lines;
        std::size_t from = 0;
        while (from < content.size()) {
            std::size_t end = content.find('\n', from);
            if (end == std::string::npos) end = content.size();
            std::string line = content.substr(from, end - from);
            from = end + 1;
            if (!line.empty() && line.back() == '\r') line.pop_back();
            const std::string at = "line " + std::to_string(lines.size() + 1);
            if (line.size() > maxUploadLine) {
                return Invalid(at + " is longer than " + std::to_string(maxUploadLine) + " characters");
            }
            for (char c : line) {
                if (static_cast<unsigned char>(c) < 0x20 && c != '\t') {
                    return Invalid(at + " holds a control character");
                }
            }
            // The markers would cut the framed message short.
            if (line.find("NEXEND") != std::string::npos || line.find("NEXSTART") != std::string::npos) {
                return Invalid(at + " holds a message marker");
            }
            if (lines.size() >= maxUploadLines) {
                return Invalid("more than " + std::to_string(maxUploadLines) + " lines");
            }
            lines.push_back(line);
        }
        r.kind = WebRequest::Kind::Upload;
        r.frames.push_back("CMD UploadFileInit Programs/" + r.name + " " + std::to_string(lines.size()));
        for (const std::string& l : lines) r.frames.push_back("CMD UploadFileLine " + l);
        r.frames.push_back("CMD UploadFileFinish");
        return r;
    }
    if (type == "programs") {
        r.kind = WebRequest::Kind::Programs;
        return r;
    }
    return Invalid("unknown message type");
}

std::string WebMessage::Status(const ComStatusTelegram& s) {
    return "{\"type\":\"status\",\"n\":" + std::to_string(s.counter) +
           ",\"set\":" + Array(s.jointSetPoint, 7, 2) + ",\"meas\":" + Array(s.jointCurrent, 7, 2) +
           ",\"pose\":" + Array(s.pose, 6, 2) + ",\"override\":" + Fixed(double(s.override), 1) +
           ",\"din\":\"" + std::to_string(s.digitalIn) + "\",\"dout\":\"" +
           std::to_string(s.digitalOut) + "\",\"estop\":" + std::to_string(s.emergencyStop) +
           ",\"supply\":" + std::to_string(s.supply) + ",\"current\":" + std::to_string(s.currentAll) +
           ",\"error\":" + WebJson::Quote(s.errorText) + ",\"jointError\":" + Array(s.jointError, 7, 0) +
           ",\"kin\":" + std::to_string(s.kinState) +
           ",\"kinText\":" + WebJson::Quote(ComStatusTelegram::KinStateText(s.kinState)) + "}";
}

std::string WebMessage::Message(const std::string& text) {
    return "{\"type\":\"message\",\"text\":" + WebJson::Quote(text) + "}";
}

std::string WebMessage::ProgramInfo(const std::string& answer) {
    std::istringstream in(answer);
    std::string info, kind, name, extra;
    long long count = 0, point = 0;
    if (!(in >> info >> kind >> name >> count >> point) || info != "INFO" || kind != "ProgramInfo" ||
        (in >> extra)) {
        return std::string();
    }
    return "{\"type\":\"program\",\"name\":" + WebJson::Quote(name) + ",\"count\":" +
           std::to_string(count) + ",\"point\":" + std::to_string(point) + "}";
}

std::string WebMessage::Programs(const std::vector<std::string>& names) {
    std::string out = "{\"type\":\"programs\",\"names\":[";
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i > 0) out += ',';
        out += WebJson::Quote(names[i]);
    }
    return out + "]}";
}

std::string WebMessage::Connection(bool connected, const std::string& mode) {
    return std::string("{\"type\":\"connection\",\"controller\":") + (connected ? "true" : "false") +
           ",\"mode\":" + WebJson::Quote(mode) + "}";
}

std::string WebMessage::Error(const std::string& text) {
    return "{\"type\":\"error\",\"text\":" + WebJson::Quote(text) + "}";
}
