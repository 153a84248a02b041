#include "PkgHardware/ProtocolFactory.h"

#include "PkgHardware/HardwareProtocolVKTCAN.h"
#include "PkgHardware/HardwareProtocolVKTCANV2.h"

std::unique_ptr<HardwareProtocol> ProtocolFactory::Create(const std::string& typeName) {
    if (typeName == "VKTCAN") return std::make_unique<HardwareProtocolVKTCAN>();
    if (typeName == "VKTCANV2") return std::make_unique<HardwareProtocolVKTCANV2>();
    return nullptr;
}
