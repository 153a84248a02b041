#include "ProjectManager.h"

#include <cstdio>
#include <fstream>
#include <iostream>

#include <tinyxml2.h>

#include "ConfigError.h"
#include "LogSingleton.h"
#include "PkgKinematics/RobotMaster.h"

namespace {

LogSingleton* Log() { return LogSingleton::instance(); }

bool Readable(const std::string& path) { return std::ifstream(path).good(); }

}  // namespace

std::string ProjectManager::ProjectPath(const std::string& baseDirectory, const std::string& name) {
    std::string relative = name;
    for (char& c : relative) {
        if (c == '\\') c = '/';
    }
    if (!relative.empty() && relative[0] == '/') relative.erase(0, 1);
    return baseDirectory + relative;
}

std::string ProjectManager::GetProjectFilePath() const {
    std::lock_guard<std::mutex> lock(fileMutex);
    return projectFilePath;
}

int ProjectManager::OpenProject(RobotMaster* robot) {
    std::string projectFile;
    int result = ReadFrontend(&projectFile);
    const std::string path = Log()->GetBaseDirectory() + "VKTFrontend.xml";
    switch (result) {
        case frontendOk:
            ReadProjectFile(projectFile, robot);
            return 0;
        case frontendMissing:
            throw ConfigError(56, "Project: front-end file not available, no project to run: " + path);
        case frontendNoModule:
            throw ConfigError(56, "Project: line \"VKTModule\" not found in front-end file " + path);
        case frontendNoStartUp:
            throw ConfigError(56, "Project: line \"StartUp\" not found in line \"VKTModule\" of front-end file " + path);
        default:
            throw ConfigError(56, "Project: no project file named in line \"StartUp\" of front-end file " + path);
    }
}

int ProjectManager::ReadFrontend(std::string* projectFile) {
    Log()->add("Reading VKTFrontend.xml...");
    const std::string path = Log()->GetBaseDirectory() + "VKTFrontend.xml";
    if (!Readable(path)) {
        std::cerr << "File " << path << " not available! Aborting read()" << std::endl;
        return frontendMissing;
    }
    tinyxml2::XMLDocument doc(true, tinyxml2::PRESERVE_WHITESPACE);
    if (doc.LoadFile(path.c_str()) != tinyxml2::XML_SUCCESS)
        throw ConfigError(56, "Could not read file VKTFrontend.xml correctly! Aborting! " + path);

    const tinyxml2::XMLElement* module = doc.FirstChildElement("VKTModule");
    if (module == nullptr) return frontendNoModule;
    // Element children only: comments and text between them are skipped.
    const tinyxml2::XMLElement* startUp = module->FirstChildElement("StartUp");
    if (startUp == nullptr) return frontendNoStartUp;
    const tinyxml2::XMLAttribute* first = startUp->FirstAttribute();
    if (first == nullptr) return frontendNoName;

    *projectFile = first->Value();
    Log()->add("ProjectManager: loading project " + *projectFile);
    return frontendOk;
}

int ProjectManager::ReadProjectFile(std::string name, RobotMaster* robot) {
    const std::string path = ProjectPath(Log()->GetBaseDirectory(), name);
    if (!Readable(path)) throw ConfigError(56, "Project: could not find project file " + path);
    {
        std::lock_guard<std::mutex> lock(fileMutex);
        projectFilePath = path;
    }

    tinyxml2::XMLDocument doc(true, tinyxml2::PRESERVE_WHITESPACE);
    if (doc.LoadFile(path.c_str()) != tinyxml2::XML_SUCCESS)
        throw ConfigError(56, "Project: could not read project file correctly: " + path);

    const tinyxml2::XMLElement* root = doc.FirstChildElement("ProjectFile");
    if (root == nullptr) throw ConfigError(56, "Project: line ProjectFile not found in project file!");

    const tinyxml2::XMLElement* robotLine = root->FirstChildElement("Robot");
    if (robotLine == nullptr) throw ConfigError(56, "Project: line \"Robot\" not found in project file!");
    const char* robotName = robotLine->Attribute("Name");
    if (robotName == nullptr)
        throw ConfigError(56, "Project: attribute \"Name\" not found in line Robot of project file!");
    const char* robotType = robotLine->Attribute("Type");
    if (robotType == nullptr)
        throw ConfigError(56, "Project: attribute \"Type\" not found in line Robot of project file!");

    std::string tool;
    if (const char* value = robotLine->Attribute("Tool")) {
        tool = value;
    } else {
        Log()->addError("Project: attribute \"Tool\" not found - gripper not available!");
    }
    std::string platform;
    if (const char* value = robotLine->Attribute("MobilePlatform")) {
        platform = value;
    } else {
        Log()->addError("Project: attribute \"MobilePlatform\" not found - platform not available!");
    }
    Log()->add(std::string("Project: robotname: ") + robotName + ", robotType: " + robotType + ", gripper: " + tool +
               ", mobile platform: " + platform);

    const tinyxml2::XMLElement* program = root->FirstChildElement("Program");
    if (program == nullptr) throw ConfigError(56, "Project: line \"Program\" not found in project file!");
    const char* file = program->Attribute("File");
    if (file == nullptr)
        throw ConfigError(56, "Project: attribute \"File\" not found in line Program of project file!");
    startProgram = file;

    float overrideValue = -1.0f;
    program->QueryFloatAttribute("Override", &overrideValue);
    if (!(overrideValue > -1.0f))
        throw ConfigError(46, "Project: attribute \"Override\" not found in line Program of project file!");
    if (overrideValue > 100.0f || overrideValue < 0.0f) {
        float limited = overrideValue > 100.0f ? 100.0f : 0.0f;
        char line[160];
        std::snprintf(line, sizeof(line), "Project: start override %.1f out of range 0...100, limited to %.1f",
                      double(overrideValue), double(limited));
        Log()->addError(line);
        overrideValue = limited;
    }
    startOverride = overrideValue;
    repeat = false;
    program->QueryBoolAttribute("Repeat", &repeat);
    {
        char line[600];
        std::snprintf(line, sizeof(line), "Project: program %s  override %.1lf  repeat %d", startProgram.c_str(),
                      double(startOverride), int(repeat));
        Log()->add(line);
    }

    robot->SetGripperName(tool);
    robot->SetPlatformName(platform);
    robot->Init(robotName, robotType);

    const tinyxml2::XMLElement* dio = root->FirstChildElement("DIOModule");
    if (dio == nullptr) {
        Log()->addError("Project: line \"DIOModule\" not found in project file!");
    } else {
        // Only the run of DIOModule siblings directly following the first one.
        for (const tinyxml2::XMLElement* e = dio; e != nullptr; e = e->NextSiblingElement()) {
            if (std::string(e->Value()) != "DIOModule") break;
            int id = -1;
            e->QueryIntAttribute("ID", &id);
            if (id < 0) {
                Log()->addError("Project: no CAN ID found in DIOModule tag!");
            } else {
                robot->InitDIOModule(id);
            }
        }
    }
    Log()->add("");

    PlcSettings plc;
    const tinyxml2::XMLElement* plcLine = root->FirstChildElement("PLCInterface");
    if (plcLine == nullptr) {
        Log()->addError("Project: line \"PLCInterface\" not found in project file! PLCInterface is not active!");
    } else {
        plcLine->QueryBoolAttribute("Active", &plc.active);
        plcLine->QueryBoolAttribute("AutoConnect", &plc.autoConnect);

        // A missing part is logged and leaves the interface inactive.
        auto part = [&](const char* name) {
            const tinyxml2::XMLElement* element = plcLine->FirstChildElement(name);
            if (element == nullptr) {
                Log()->addError(std::string("Project: line \"") + name +
                                "\" not found in project file! PLCInterface is not active!");
                plc.active = false;
            }
            return element;
        };
        if (const tinyxml2::XMLElement* in = part("PLCInterfaceIn")) {
            for (int& n : plc.inputs) n = -1;
            in->QueryIntAttribute("EnableNumber", &plc.inputs[0]);
            in->QueryIntAttribute("PlayNumber", &plc.inputs[1]);
            in->QueryIntAttribute("RequestReferenceNumber", &plc.inputs[2]);
        }
        if (const tinyxml2::XMLElement* out = part("PLCInterfaceOut")) {
            for (int& n : plc.outputs) n = -1;
            out->QueryIntAttribute("NoFaultNumber", &plc.outputs[0]);
            out->QueryIntAttribute("ProgramRunningNumber", &plc.outputs[1]);
            out->QueryIntAttribute("RobotIsReferenced", &plc.outputs[2]);
        }
        if (const tinyxml2::XMLElement* sequence = part("PLCInterfaceRefSequence")) {
            for (int i = 0; i < 9; ++i) {
                plc.referenceSequence[i] = -1;
                sequence->QueryIntAttribute(("JointToRef" + std::to_string(i)).c_str(), &plc.referenceSequence[i]);
            }
        }
    }
    LogSingleton::instance()->SetPlcSettings(plc);

    char line[200];
    std::snprintf(line, sizeof(line), "PLC-Interface: Active = %d", int(plc.active));
    Log()->add(line);
    std::snprintf(line, sizeof(line), "PLC-Interface: Inputs:  Enable=%d, Reference=%d, Play=%d", plc.inputs[0],
                  plc.inputs[2], plc.inputs[1]);
    Log()->add(line);
    std::snprintf(line, sizeof(line), "PLC-Interface: Outputs: NoFault=%d, Running=%d, Referenced=%d", plc.outputs[0],
                  plc.outputs[1], plc.outputs[2]);
    Log()->add(line);
    const int* r = plc.referenceSequence;
    std::snprintf(line, sizeof(line), "PLC-Interface: RefSequence: %d %d %d %d %d %d %d %d %d", r[0], r[1], r[2], r[3],
                  r[4], r[5], r[6], r[7], r[8]);
    Log()->add(line);
    Log()->add("");
    return 0;
}

int ProjectManager::SetStartProgram(std::string name, float override, bool repeat) {
    (void)override;
    (void)repeat;
    Log()->add("ProjectManager: in SetStartProgram");
    std::lock_guard<std::mutex> lock(fileMutex);
    const std::string path = projectFilePath;

    tinyxml2::XMLDocument doc(true, tinyxml2::PRESERVE_WHITESPACE);
    if (path.empty() || doc.LoadFile(path.c_str()) != tinyxml2::XML_SUCCESS) {
        Log()->addError("Project: could not read project file correctly: " + path);
        return 56;
    }
    tinyxml2::XMLElement* root = doc.FirstChildElement("ProjectFile");
    if (root == nullptr) {
        Log()->addError("Project: line ProjectFile not found in project file!");
        return 56;
    }
    tinyxml2::XMLElement* program = root->FirstChildElement("Program");
    if (program == nullptr) {
        Log()->addError("Project: line \"Program\" not found in project file!");
        return 56;
    }
    program->SetAttribute("File", name.c_str());

    // Written beside the project and renamed over it, so that a failed write
    // never leaves a truncated project file behind.
    const std::string temporary = path + ".tmp";
    if (doc.SaveFile(temporary.c_str()) != tinyxml2::XML_SUCCESS || std::rename(temporary.c_str(), path.c_str()) != 0) {
        std::remove(temporary.c_str());
        Log()->addError("Project: could not write project file: " + path);
        return 56;
    }
    Log()->add("Project: new start program set: " + name);
    return 0;
}
