#pragma once

#include <string>
#include <vector>

// What one front-end message asks for, as decoded by ComMessageParser.
// The log lines and texts are carried along so that the decoding stays free
// of side effects; ComServer logs them and carries out the action.
struct ComRequest {
    enum class Action {
        None,               // nothing beyond the log lines
        KeepAlive,          // values[0..8] = jog; jogValid: refresh the watchdog
        Pending,            // pending operator command for the main loop
        DeleteProgramFile,  // text = file name
        GetProgramInfo,
        GetProgramName,     // number = index
        LoadProgram,        // text = file name
        UploadInit,         // text = file name, number = announced line count
        UploadLine,         // text = line
        UploadLineRefused,  // an upload line too long or malformed: the upload fails
        UploadFinish,
        ProgJoint,          // number = command number, values[0..8], velocity
        ProgGripper,        // number = command number, values[0..2]
        ProgWait,           // number = command number, waitMs
    };

    Action action = Action::None;
    int code = 0;            // Pending: operator command code
    int intArg = 0;          // Pending: integer argument
    float floatArg = 0.0f;   // Pending: numeric argument
    float values[9] = {0, 0, 0, 0, 0, 0, 0, 0, 0};
    float velocity = 0.0f;
    bool jogValid = false;
    int number = 0;
    long waitMs = 0;
    std::string text;

    std::vector<std::string> logLines;     // for the log, in order
    std::vector<std::string> stdoutLines;  // for standard output
    std::string operatorMessage;           // for the display message, if not empty
};
