#pragma once

#include <string>

// What the front-end server asks of the interpreter and the project when a
// request acts at once (program lines, load, delete, information). Called on
// the server thread; implementations must be safe against the robot cycle.
class ComProgramAccess {
public:
    virtual ~ComProgramAccess() = default;

    // Stop, drop all programs, load `name`; on success make it the project's
    // start program. Returns the load result (0 = loaded).
    virtual int LoadProgram(const std::string& name) = 0;
    virtual int DeleteProgramFile(const std::string& name) = 0;
    virtual void GetProgramInformation(std::string* name, int* count, int* third) = 0;
    virtual int GetFilename(int index, std::string* name) = 0;
    virtual void AddCommandJoint(int nr, int count, float* joints, float velocity) = 0;
    virtual void AddCommandGripper(int nr, float* values) = 0;
    virtual void AddCommandWait(int nr, long ms) = 0;
};
