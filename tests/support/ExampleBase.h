#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/TempDir.h"

// A copy of an example's base directory at <temp>/Orvane, where the controller
// finds it from its working directory; removed with the object.
class ExampleBase {
public:
    // An empty base directory for "".
    explicit ExampleBase(const std::string& example);

    // Replaces the first occurrence of `from` in a file; fails when there is none.
    static testing::AssertionResult ReplaceInFile(const std::string& path, const std::string& from,
                                                  const std::string& to);
    // ReplaceInFile for a file of the base directory, asserted.
    void Edit(const std::string& relative, const std::string& from, const std::string& to) const;
    // Writes a program file of that name: `body` between the program tags.
    void Program(const std::string& name, const std::string& body) const;

    TempDir dir;
    std::string base;
};

// The controller's environment for the simulator's bus on `busPort` and the
// front-end server on 127.0.0.1:frontendPort.
std::vector<std::string> ControllerEnvironment(int busPort, int frontendPort);
