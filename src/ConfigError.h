#pragma once

#include <stdexcept>
#include <string>

// A configuration error that ends the controller. Readers throw it; the top of
// start-up logs the message and exits with the code, so readers stay testable.
class ConfigError : public std::runtime_error {
public:
    ConfigError(int exitCode, const std::string& message)
        : std::runtime_error(message), exitCode_(exitCode) {}
    int ExitCode() const { return exitCode_; }

private:
    int exitCode_;
};
