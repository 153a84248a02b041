#pragma once

#include "ComProgramAccess.h"

class IPO;
class ProjectManager;

// The front-end's program requests carried out by the interpreter and the
// project manager. The interpreter's operations are safe against the cycle.
class ComProgramAccessIPO : public ComProgramAccess {
public:
    ComProgramAccessIPO(IPO* interpreter, ProjectManager* project);

    int LoadProgram(const std::string& name) override;
    int DeleteProgramFile(const std::string& name) override;
    void GetProgramInformation(std::string* name, int* count, int* third) override;
    int GetFilename(int index, std::string* name) override;
    void AddCommandJoint(int nr, int count, float* joints, float velocity) override;
    void AddCommandGripper(int nr, float* values) override;
    void AddCommandWait(int nr, long ms) override;

private:
    IPO* ipo;
    ProjectManager* project;
};
