#include "PkgHardware/BusConfigReader.h"

#include <tinyxml2.h>

#include <cstdio>

#include "ConfigError.h"
#include "LogSingleton.h"

namespace {
[[noreturn]] void Fatal(const std::string& message) {
    throw ConfigError(BusConfigReader::exitCode, message);
}
}  // namespace

BusConfigReader::Result BusConfigReader::Read(const std::string& path, const std::string& protocolName,
                                              bool withReferencing) {
    LogSingleton* log = LogSingleton::instance();
    log->add("Reading robot config file...");
    tinyxml2::XMLDocument doc(true, tinyxml2::PRESERVE_WHITESPACE);
    if (doc.LoadFile(path.c_str()) != tinyxml2::XML_SUCCESS)
        Fatal("ProtocolVKTCAN: could not read ini correctly: " + path);

    const tinyxml2::XMLElement* robot = doc.FirstChildElement("Robot");
    if (robot == nullptr) Fatal("ProtocolVKTCAN: line Robot not found in project file!");
    const tinyxml2::XMLElement* bus = robot->FirstChildElement("BusConfiguration");
    if (bus == nullptr) Fatal("ProtocolVKTCAN: line BusConfiguration not found in project file!");

    Result result;
    if (bus->QueryIntAttribute("GapMS", &result.gapMS) != tinyxml2::XML_SUCCESS || result.gapMS < 0)
        Fatal("ProtocolVKTCAN: attribute GapMS not found in line BusConfiguration of project file!");

    const tinyxml2::XMLElement* joints = bus->FirstChildElement("Joints");
    if (joints == nullptr) Fatal("ProtocolVKTCAN: line Joints not found in project file!");
    int count = -1;
    if (joints->QueryIntAttribute("NrOfJoints", &count) != tinyxml2::XML_SUCCESS || count < 0)
        Fatal("ProtocolVKTCANV2: attribute NrOfJoints not found in line Joints of project file!");
    // The robot state and the module table hold nine arm joints.
    if (count > maxJoints)
        Fatal("ProtocolVKTCANV2: attribute NrOfJoints above 9 in line Joints of project file!");

    char line[160];
    std::snprintf(line, sizeof line, "Protocol %s: %d joints:", protocolName.c_str(), count);
    log->add(line);

    for (int i = 0; i < count; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "Joint%d", i);
        const tinyxml2::XMLElement* element = bus->FirstChildElement(name);
        if (element == nullptr) Fatal("ProtocolVKTCANV2: joint definition not found!");
        Joint joint;
        if (element->QueryIntAttribute("ID", &joint.id) != tinyxml2::XML_SUCCESS || joint.id < 0)
            Fatal("ProtocolVKTCAN: joint ID not found!");
        // Identifiers are 8 bits wide; a larger one would address some other module.
        if (joint.id > 255) Fatal("ProtocolVKTCAN: joint ID above 255!");
        if (element->QueryFloatAttribute("GearScale", &joint.gearScale) != tinyxml2::XML_SUCCESS)
            Fatal("ProtocolVKTCAN: joint GearScale not found!");
        if (element->QueryFloatAttribute("GearZero", &joint.gearZero) != tinyxml2::XML_SUCCESS)
            Fatal("ProtocolVKTCAN: joint GearZero not found!");
        result.joints.push_back(joint);
        std::snprintf(line, sizeof line, "   Joint %d: CAN ID %d - GearScale %.3lf - GearZero %.3lf", i,
                      joint.id, double(joint.gearScale), double(joint.gearZero));
        log->add(line);
    }

    if (withReferencing) {
        const tinyxml2::XMLElement* referencing = robot->FirstChildElement("Referencing");
        if (referencing == nullptr) Fatal("ProtocolVKTCAN: line Referencing not found in project file!");
        result.referencingMandatory = referencing->BoolAttribute("Mandatory", true);
        log->add(std::string("Protocol ") + protocolName + ": Referencing mandatory: " +
                 (result.referencingMandatory ? "true" : "false"));
    }
    return result;
}
