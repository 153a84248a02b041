#pragma once

#include <map>
#include <string>
#include <vector>

// What a demo program leaves behind when it has run, read from its file: the
// target of its last Joint element, the position of its last Gripper element
// and the final state of each digital output it switches. The demo programs
// are written so that these are the state at their end (the last motion and
// the last gripper command of the main program are the last ones executed).
class DemoProgram {
public:
    // Throws std::runtime_error if the file cannot be read.
    explicit DemoProgram(const std::string& path);

    bool hasFinalJoints = false;
    std::vector<float> finalJoints;   // a1, a2, ... as written (missing ones 0)
    bool hasGripper = false;
    float finalGripper = 0.0f;        // percent
    std::map<int, bool> outputs;      // output index (channel - 1) -> final state
};
