#pragma once

#include <string>

// printf into a string of whatever length the arguments need; the one
// formatter of log lines, wire texts and command texts.
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
