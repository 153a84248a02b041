#include "SimConfig.h"

#include <tinyxml2.h>

#include <cstdio>

using tinyxml2::XMLDocument;
using tinyxml2::XMLElement;

namespace {

std::string Join(const std::string& base, const std::string& relative) {
    if (base.empty() || base.back() == '/') return base + relative;
    return base + "/" + relative;
}

}  // namespace

const char* SimConfig::KindName(Kind kind) {
    switch (kind) {
        case ArmJoint: return "joint";
        case GripperJoint: return "gripper";
        case PlatformJoint: return "platform";
        case IOModule: return "dio";
    }
    return "?";
}

std::string SimConfig::Load(const std::string& base) {
    XMLDocument frontend;
    std::string frontendPath = Join(base, "VKTFrontend.xml");
    if (frontend.LoadFile(frontendPath.c_str()) != tinyxml2::XML_SUCCESS) return "cannot read " + frontendPath;
    const XMLElement* module = frontend.FirstChildElement("VKTModule");
    const XMLElement* startUp = module ? module->FirstChildElement("StartUp") : nullptr;
    if (startUp == nullptr || startUp->FirstAttribute() == nullptr) return "no VKTModule/StartUp in " + frontendPath;
    std::string name = startUp->FirstAttribute()->Value();
    for (char& c : name)
        if (c == '\\') c = '/';
    if (!name.empty() && name[0] == '/') name.erase(0, 1);
    projectFile = Join(base, name);

    XMLDocument project;
    if (project.LoadFile(projectFile.c_str()) != tinyxml2::XML_SUCCESS) return "cannot read project " + projectFile;
    const XMLElement* root = project.FirstChildElement("ProjectFile");
    const XMLElement* robot = root ? root->FirstChildElement("Robot") : nullptr;
    if (robot == nullptr || robot->Attribute("Type") == nullptr) return "no Robot Type in " + projectFile;
    robotType = robot->Attribute("Type");
    std::string tool = robot->Attribute("Tool") ? robot->Attribute("Tool") : "";
    std::string platform = robot->Attribute("MobilePlatform") ? robot->Attribute("MobilePlatform") : "";

    std::string robotPath = Join(base, "Data/Robots/" + robotType + "/" + robotType + ".xml");
    XMLDocument config;
    if (config.LoadFile(robotPath.c_str()) != tinyxml2::XML_SUCCESS) return "cannot read robot file " + robotPath;
    const XMLElement* r = config.FirstChildElement("Robot");
    const XMLElement* bus = r ? r->FirstChildElement("BusConfiguration") : nullptr;
    if (bus == nullptr || bus->Attribute("Protocol") == nullptr) return "no BusConfiguration Protocol in " + robotPath;
    protocol = bus->Attribute("Protocol");
    if (protocol != "VKTCAN" && protocol != "VKTCANV2") return "unknown protocol " + protocol;
    const XMLElement* joints = bus->FirstChildElement("Joints");
    int count = -1;
    if (joints == nullptr || joints->QueryIntAttribute("NrOfJoints", &count) != tinyxml2::XML_SUCCESS || count < 0 ||
        count > 9)
        return "no valid Joints NrOfJoints in " + robotPath;
    modules.clear();
    for (int i = 0; i < count; ++i) {
        char element[16];
        std::snprintf(element, sizeof element, "Joint%d", i);
        const XMLElement* j = bus->FirstChildElement(element);
        Module m;
        m.kind = ArmJoint;
        m.index = i;
        if (j == nullptr || j->QueryIntAttribute("ID", &m.busId) != tinyxml2::XML_SUCCESS || m.busId < 0 ||
            m.busId > 255 || j->QueryFloatAttribute("GearScale", &m.gearScale) != tinyxml2::XML_SUCCESS ||
            j->QueryFloatAttribute("GearZero", &m.gearZero) != tinyxml2::XML_SUCCESS)
            return std::string("bad ") + element + " in " + robotPath;
        modules.push_back(m);
    }
    // The first protocol drives the arm joints only.
    if (protocol == "VKTCAN") return "";

    if (!tool.empty()) {
        Module m;
        m.kind = GripperJoint;
        m.busId = 112;
        m.gearScale = -10.0f;
        m.gearZero = 210.0f;
        std::string toolPath = Join(base, "Data/Tools/" + tool);
        XMLDocument toolDoc;
        if (toolDoc.LoadFile(toolPath.c_str()) != tinyxml2::XML_SUCCESS) return "cannot read tool file " + toolPath;
        const XMLElement* t = toolDoc.FirstChildElement("Tool");
        const XMLElement* iface = t ? t->FirstChildElement("INTERFACE") : nullptr;
        if (iface != nullptr) {
            iface->QueryIntAttribute("BusID", &m.busId);
            iface->QueryFloatAttribute("GearScale", &m.gearScale);
            iface->QueryFloatAttribute("GearZero", &m.gearZero);
        }
        modules.push_back(m);
    }
    if (!platform.empty()) {
        const int ids[4] = {0xA0, 0xB0, 0xC0, 0xD0};
        const float scales[4] = {500.0f, -500.0f, -500.0f, 500.0f};
        for (int i = 0; i < 4; ++i) {
            Module m;
            m.kind = PlatformJoint;
            m.index = i;
            m.busId = ids[i];
            m.gearScale = scales[i];
            m.gearZero = 0.0f;
            modules.push_back(m);
        }
    }
    const XMLElement* dio = root->FirstChildElement("DIOModule");
    int dioCount = 0;
    for (; dio != nullptr && dioCount < 3; dio = dio->NextSiblingElement()) {
        if (std::string(dio->Name()) != "DIOModule") break;
        int id = -1;
        dio->QueryIntAttribute("ID", &id);
        if (id < 0 || id > 255) continue;
        Module m;
        m.kind = IOModule;
        m.index = dioCount++;
        m.busId = id;
        modules.push_back(m);
    }
    return "";
}
