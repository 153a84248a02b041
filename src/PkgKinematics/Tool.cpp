#include "PkgKinematics/Tool.h"

#include <cmath>
#include <cstdio>
#include <fstream>

#include <tinyxml2.h>

#include "ConfigError.h"
#include "LogSingleton.h"

void Tool::Init(std::string name) {
    reserved = 1;
    busID = 112;
    gearScale = -10.0f;
    gearZero = 210.0f;
    targetValue = 30.0f;
    currentValue = 0.0f;
    motionVel = 3.0f;
    motionMin = 0.0f;
    motionMax = 70.0f;
    hwPosition = 0.0f;

    ReadConfigFile(LogSingleton::instance()->GetBaseDirectory() + "Data/Tools/" + name);
    scale = (motionMax - motionMin) / 100.0f;

    char line[160];
    std::snprintf(line, sizeof(line), "   Gripper Parameter: motionVel %.1lf - motionMin %.1lf - motionMax %.1lf",
                  static_cast<double>(motionVel), static_cast<double>(motionMin), static_cast<double>(motionMax));
    LogSingleton::instance()->add(line);
}

void Tool::ReadConfigFile(std::string path) {
    LogSingleton::instance()->add("Tool: reading ini file \"" + path + "\"");
    if (!std::ifstream(path).good()) throw ConfigError(46, "Tool: could not find tool ini file: " + path);

    tinyxml2::XMLDocument doc(true, tinyxml2::PRESERVE_WHITESPACE);
    if (doc.LoadFile(path.c_str()) != tinyxml2::XML_SUCCESS)
        throw ConfigError(46, "Tool: could not read tool ini file XML code correctly: " + path);

    const tinyxml2::XMLElement* root = doc.FirstChildElement("Tool");
    if (root == nullptr) throw ConfigError(46, "Tool: line \"Tool\" not found in tool ini file!");
    const tinyxml2::XMLElement* kin = root->FirstChildElement("KINEMATIC");
    if (kin == nullptr) throw ConfigError(46, "Tool: line \"KINEMATIC\" not found in ini file!");
    const tinyxml2::XMLElement* itf = root->FirstChildElement("INTERFACE");
    if (itf == nullptr) throw ConfigError(46, "Tool: line \"INTERFACE\" not found in ini file!");

    kin->QueryFloatAttribute("MotionMin", &motionMin);
    kin->QueryFloatAttribute("MotionMax", &motionMax);
    float vel = motionVel;
    if (kin->QueryFloatAttribute("MotionVel", &vel) == tinyxml2::XML_SUCCESS) {
        // A step of zero or less would never reach the target (or run away from it).
        if (vel > 0.0f) {
            motionVel = vel;
        } else {
            LogSingleton::instance()->addError("Tool: MotionVel must be greater than 0, keeping 3.0");
        }
    }
    itf->QueryIntAttribute("BusID", &busID);
    itf->QueryFloatAttribute("GearScale", &gearScale);
    itf->QueryFloatAttribute("GearZero", &gearZero);
}

float Tool::Limit(float value) {
    if (std::isnan(value)) return 0.0f;
    if (value < 0.0f) return 0.0f;
    if (value > 100.0f) return 100.0f;
    return value;
}

void Tool::SetTargetValue(float value) { targetValue = Limit(value); }

void Tool::JogGripper(float delta) { targetValue = Limit(targetValue + delta * motionVel); }

void Tool::Update() {
    float distance = targetValue - currentValue;
    if (std::fabs(distance) >= motionVel) {
        currentValue += distance > 0.0f ? motionVel : -motionVel;
    } else {
        currentValue = targetValue;
    }
    hwPosition = motionMin + currentValue * scale;
}

void Tool::SetHWPosition(float position) {
    hwPosition = position;
    // A tool file with MotionMin equal to MotionMax has no range to map onto.
    float value = scale != 0.0f ? (position - motionMin) / scale : 0.0f;
    targetValue = value;
    currentValue = value;
}
