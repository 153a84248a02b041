#include "e2e/StagedRobot.h"

#include <tinyxml2.h>

#include <cmath>
#include <filesystem>
#include <stdexcept>

namespace fs = std::filesystem;

namespace {

void Load(tinyxml2::XMLDocument* doc, const std::string& path) {
    if (doc->LoadFile(path.c_str()) != tinyxml2::XML_SUCCESS) throw std::runtime_error("cannot read " + path);
}

const tinyxml2::XMLElement* Child(const tinyxml2::XMLNode* parent, const char* name, const std::string& file) {
    const tinyxml2::XMLElement* e = parent->FirstChildElement(name);
    if (e == nullptr) throw std::runtime_error(file + ": no element " + name);
    return e;
}

std::string Text(const tinyxml2::XMLElement* e, const char* name) {
    const char* value = e->Attribute(name);
    return value != nullptr ? value : "";
}

}  // namespace

StagedRobot::StagedRobot(const std::string& example) : base(dir.Path() + "/Orvane") {
    const fs::path source = fs::path(ORVANE_SOURCE_DIR) / "examples" / example;
    demoFolder = (source / "Demo").string();
    fs::create_directories(base);
    for (const auto& entry : fs::directory_iterator(source)) {
        if (entry.path().filename() == "Demo") continue;
        fs::copy(entry.path(), fs::path(base) / entry.path().filename(), fs::copy_options::recursive);
    }

    tinyxml2::XMLDocument frontend;
    const std::string frontendFile = base + "/VKTFrontend.xml";
    Load(&frontend, frontendFile);
    const tinyxml2::XMLElement* startUp = Child(Child(&frontend, "VKTModule", frontendFile), "StartUp", frontendFile);
    const tinyxml2::XMLAttribute* first = startUp->FirstAttribute();
    if (first == nullptr) throw std::runtime_error(frontendFile + ": StartUp names no project");

    tinyxml2::XMLDocument project;
    const std::string projectFile = base + "/" + first->Value();
    Load(&project, projectFile);
    const tinyxml2::XMLElement* root = Child(&project, "ProjectFile", projectFile);
    const tinyxml2::XMLElement* robot = Child(root, "Robot", projectFile);
    robotType = Text(robot, "Type");
    const std::string tool = Text(robot, "Tool");
    hasPlatform = !Text(robot, "MobilePlatform").empty();
    if (const tinyxml2::XMLElement* io = root->FirstChildElement("DIOModule")) io->QueryIntAttribute("ID", &ioModule);

    tinyxml2::XMLDocument config;
    const std::string configFile = base + "/Data/Robots/" + robotType + "/" + robotType + ".xml";
    Load(&config, configFile);
    const tinyxml2::XMLElement* bus = Child(Child(&config, "Robot", configFile), "BusConfiguration", configFile);
    protocol = Text(bus, "Protocol");
    int count = 0;
    Child(bus, "Joints", configFile)->QueryIntAttribute("NrOfJoints", &count);
    for (int i = 0; i < count; ++i) {
        const std::string name = "Joint" + std::to_string(i);
        const tinyxml2::XMLElement* j = Child(bus, name.c_str(), configFile);
        Joint joint;
        j->QueryIntAttribute("ID", &joint.busId);
        j->QueryFloatAttribute("GearScale", &joint.gearScale);
        j->QueryFloatAttribute("GearZero", &joint.gearZero);
        joints.push_back(joint);
    }
    const tinyxml2::XMLElement* kinematic = Child(config.FirstChildElement("Robot"), "Kinematic", configFile);
    unit = Text(kinematic, "Type") == "Cartesian" ? "mm" : "deg";

    if (!tool.empty()) {
        hasGripper = true;
        tinyxml2::XMLDocument toolDoc;
        const std::string toolFile = base + "/Data/Tools/" + tool;
        Load(&toolDoc, toolFile);
        const tinyxml2::XMLElement* t = Child(&toolDoc, "Tool", toolFile);
        const tinyxml2::XMLElement* kin = Child(t, "KINEMATIC", toolFile);
        const tinyxml2::XMLElement* itf = Child(t, "INTERFACE", toolFile);
        kin->QueryFloatAttribute("MotionMin", &gripper.motionMin);
        kin->QueryFloatAttribute("MotionMax", &gripper.motionMax);
        itf->QueryIntAttribute("BusID", &gripper.busId);
        itf->QueryFloatAttribute("GearScale", &gripper.gearScale);
        itf->QueryFloatAttribute("GearZero", &gripper.gearZero);
    }
}

float StagedRobot::CountsToJoint(const Joint& joint, long long counts) {
    return float((double(counts) - double(joint.gearZero)) / double(joint.gearScale));
}

long long StagedRobot::GripperCounts(float percent) const {
    // The gripper maps its opening linearly onto the tool's motion range.
    const double millimetres =
        double(gripper.motionMin) + double(percent) * double(gripper.motionMax - gripper.motionMin) / 100.0;
    return (long long)std::trunc(double(gripper.gearZero) + millimetres * double(gripper.gearScale));
}
