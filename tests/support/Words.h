#pragma once

#include <sstream>
#include <string>
#include <vector>

// The words of a message or line, split at white space.
inline std::vector<std::string> Words(const std::string& text) {
    std::istringstream in(text);
    std::vector<std::string> words;
    for (std::string w; in >> w;) words.push_back(w);
    return words;
}
