#pragma once

#include <functional>
#include <string>

// The text of the const char* that action throws (how program commands fail),
// or "" when nothing is thrown.
inline std::string ThrownText(const std::function<void()>& action)
{
    try {
        action();
    } catch (const char* text) {
        return text;
    }
    return "";
}
