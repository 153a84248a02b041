#pragma once

#include <memory>
#include <string>

#include "PkgHardware/HardwareProtocol.h"

// Creates the joint protocol named by the `Protocol` attribute of the robot
// configuration file.
class ProtocolFactory {
public:
    // "VKTCAN" or "VKTCANV2"; nullptr for any other name.
    static std::unique_ptr<HardwareProtocol> Create(const std::string& typeName);
};
