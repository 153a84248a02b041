#include "e2e/DemoProgram.h"

#include <tinyxml2.h>

#include <cstdlib>
#include <cstring>
#include <stdexcept>

DemoProgram::DemoProgram(const std::string& path) {
    tinyxml2::XMLDocument doc;
    if (doc.LoadFile(path.c_str()) != tinyxml2::XML_SUCCESS) throw std::runtime_error("cannot read " + path);
    const tinyxml2::XMLElement* program = doc.FirstChildElement("Program");
    if (program == nullptr) throw std::runtime_error(path + ": no Program element");
    for (const tinyxml2::XMLElement* e = program->FirstChildElement(); e != nullptr; e = e->NextSiblingElement()) {
        const std::string name = e->Name();
        if (name == "Joint") {
            hasFinalJoints = true;
            finalJoints.assign(6, 0.0f);
            for (int i = 0; i < 6; ++i) {
                const std::string attribute = "a" + std::to_string(i + 1);
                e->QueryFloatAttribute(attribute.c_str(), &finalJoints[size_t(i)]);
            }
        } else if (name == "Gripper") {
            hasGripper = true;
            e->QueryFloatAttribute("Position", &finalGripper);
        } else if (name == "Output") {
            // "DOut<n>": channel n counted from 1.
            const char* channel = e->Attribute("Channel");
            const char* state = e->Attribute("State");
            if (channel == nullptr || std::strlen(channel) < 5) throw std::runtime_error(path + ": bad Output");
            outputs[std::atoi(channel + 4) - 1] = state != nullptr && std::strcmp(state, "true") == 0;
        }
    }
}
