#pragma once

#include <string>
#include <vector>

#include "ComStatusTelegram.h"

// One message of the browser page, checked and decoded.
struct WebRequest {
    enum class Kind {
        Invalid,   // error says why
        Command,   // one operator command: frames[0]
        Jog,       // hold-to-run jog: axis 1 ... 9, value in percent (0 releases)
        Load,      // frames: the load request
        Upload,    // frames: init, one per line, finish; name is the file below Data/
        Programs,  // the page asks for the program list
    };
    Kind kind = Kind::Invalid;
    std::string error;
    int axis = 0;
    float value = 0.0f;
    std::string name;
    // Bodies of framed front-end messages, "NEXSTART <n>" and "NEXEND" left out.
    std::vector<std::string> frames;
};

// Translation between the page's WebSocket JSON and the controller's framed
// front-end messages, in both directions. Pure: no I/O.
class WebMessage {
public:
    static constexpr std::size_t maxMessageBytes = 512 * 1024;
    static constexpr std::size_t maxNameLength = 64;
    static constexpr std::size_t maxUploadLines = 10000;
    // The controller reads at most 255 characters per message; an upload line
    // is framed as "NEXSTART nnn CMD UploadFileLine <line> NEXEND".
    static constexpr std::size_t maxUploadLine = 216;

    static WebRequest Parse(const std::string& text);

    // A program name the page may use: letters, digits, '_', '-', '.', not
    // starting with '.', at most maxNameLength. Such a name cannot leave
    // Data/Programs/ and is one token on the wire.
    static bool IsProgramName(const std::string& name);

    static std::string Status(const ComStatusTelegram& status);
    static std::string Message(const std::string& text);
    // "INFO ProgramInfo <name> <count> <point>" as {"type":"program",...};
    // empty for other answers.
    static std::string ProgramInfo(const std::string& answer);
    static std::string Programs(const std::vector<std::string>& names);
    // The link to the controller, and the motion mode last selected here
    // (the status telegram does not carry it).
    static std::string Connection(bool connected, const std::string& mode);
    static std::string Error(const std::string& text);
};
