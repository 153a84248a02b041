#pragma once

#include <mutex>
#include <string>

class RobotMaster;

// Finds and reads the project the controller runs: the front-end file
// "VKTFrontend.xml" names the project file, which names the robot, gripper,
// platform, start program, digital I/O modules and PLC interface settings.
// Fatal errors are thrown as ConfigError (56 project/front-end, 46 override).
class ProjectManager {
public:
    // Results of ReadFrontend.
    static constexpr int frontendOk = 0;
    static constexpr int frontendMissing = 1;
    static constexpr int frontendNoModule = 3;
    static constexpr int frontendNoStartUp = 4;
    static constexpr int frontendNoName = 5;

    ProjectManager() = default;

    // Reads the front-end file and the project; throws ConfigError(56, ...)
    // when no project can be found. Returns 0.
    int OpenProject(RobotMaster* robot);
    // Fills projectFile with the project file name named by the front-end file.
    int ReadFrontend(std::string* projectFile);
    int ReadProjectFile(std::string name, RobotMaster* robot);
    // Makes name the File of the project's Program element and saves the
    // project file, keeping everything else. Returns 0, or 56 when the project
    // file cannot be read or written (logged; the running controller goes on).
    int SetStartProgram(std::string name, float override, bool repeat);

    // The base directory plus name, with "\" turned into "/" and one leading "/" removed.
    static std::string ProjectPath(const std::string& baseDirectory, const std::string& name);

    std::string GetProjectFilePath() const;
    std::string GetStartProgram() const { return startProgram; }
    float GetStartOverride() const { return startOverride; }
    bool GetRepeat() const { return repeat; }

private:
    mutable std::mutex fileMutex;  // project file path and rewrites
    std::string projectFilePath;
    std::string startProgram;
    float startOverride = 40.0f;
    bool repeat = false;
};
