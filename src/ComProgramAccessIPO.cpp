#include "ComProgramAccessIPO.h"

#include "LogSingleton.h"
#include "PkgProgram/IPO.h"
#include "ProjectManager.h"

ComProgramAccessIPO::ComProgramAccessIPO(IPO* interpreter, ProjectManager* pm)
    : ipo(interpreter), project(pm) {}

int ComProgramAccessIPO::LoadProgram(const std::string& name) {
    if (ipo == nullptr || project == nullptr) {
        LogSingleton::instance()->add("NEX-Server: ERROR no interpreter or project, program not loaded");
        return -1;
    }
    ipo->Stop();
    ipo->DeleteAll();
    int result = ipo->LoadProgram(name);
    if (result == 0) project->SetStartProgram(name, 40.0f, false);
    return result;
}

int ComProgramAccessIPO::DeleteProgramFile(const std::string& name) {
    if (ipo == nullptr) return -1;
    return ipo->DeleteProgramFile(name.c_str());
}

void ComProgramAccessIPO::GetProgramInformation(std::string* name, int* count, int* third) {
    if (ipo != nullptr) ipo->GetProgramInformation(name, count, third);
}

int ComProgramAccessIPO::GetFilename(int index, std::string* name) {
    return ipo != nullptr ? ipo->GetFilename(index, name) : 0;
}

void ComProgramAccessIPO::AddCommandJoint(int nr, int count, float* joints, float velocity) {
    if (ipo != nullptr) ipo->AddCommandJoint(nr, count, joints, velocity);
}

void ComProgramAccessIPO::AddCommandGripper(int nr, float* values) {
    if (ipo != nullptr) ipo->AddCommandGripper(nr, values);
}

void ComProgramAccessIPO::AddCommandWait(int nr, long ms) {
    if (ipo != nullptr) ipo->AddCommandWait(nr, ms);
}
