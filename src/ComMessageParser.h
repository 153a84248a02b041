#pragma once

#include <string>
#include <vector>

#include "ComRequest.h"

// Decodes one framed front-end message ("NEXSTART <counter> <group> ...
// NEXEND") into a ComRequest. Pure: no logging, no I/O.
class ComMessageParser {
public:
    // The parser works on a copy of at most this many characters.
    static constexpr int maxMessageLength = 255;
    // Upload lines start at this offset plus the length of the counter token.
    static constexpr int uploadLineOffset = 29;

    static ComRequest Parse(const char* message, int length);
    static ComRequest Parse(const std::string& message) {
        return Parse(message.data(), static_cast<int>(message.size()));
    }

    // A file name the front-end may use below the data directory: not empty,
    // relative, no ".." component, no control characters.
    static bool IsSafeName(const std::string& name);

    // Number conversions as the wire uses them; the whole token must convert.
    // base 10 reads like %d, base 0 like %i (0x hex, leading 0 octal).
    static bool ToInt(const std::string& token, int base, int* out);
    // Finite numbers only.
    static bool ToFloat(const std::string& token, float* out);

    // Text with control characters replaced, for log lines.
    static std::string Printable(const std::string& text);
};
