#pragma once

#include <string>
#include <vector>

// Reads the bus and joint elements of a robot configuration file, shared by
// both joint protocols. Fatal errors throw ConfigError(46, message).
class BusConfigReader {
public:
    struct Joint {
        int id = 0;
        float gearScale = 0.0f;
        float gearZero = 0.0f;
    };
    struct Result {
        int gapMS = 3;
        std::vector<Joint> joints;
        bool referencingMandatory = true;
    };

    // `protocolName` goes into the log lines ("VKTCAN" or "VKTCANV2");
    // `withReferencing` requires the Referencing element (protocol V2).
    static Result Read(const std::string& path, const std::string& protocolName, bool withReferencing);

    static constexpr int exitCode = 46;
    static constexpr int maxJoints = 9;
};
