#pragma once

#include <string>

namespace tinyxml2 {
class XMLElement;
}

// Text helpers of the command kinds: bounded, locale-independent number reading and
// printf-style formatting of log lines.
class CommandText {
public:
    enum class NumberResult { Ok, NoNumber, OutOfRange };

    // Reads the longest decimal floating-point prefix of text (after blanks; optional sign,
    // digits, point, exponent). Names such as "inf" or "nan" are not numbers. Out of range
    // yields OutOfRange and *out = +-infinity (overflow) or 0 (underflow).
    static NumberResult ParseFloatPrefix(const std::string& text, float* out);
    // Reads the leading decimal integer of text (after blanks; optional sign).
    static NumberResult ParseIntPrefix(const std::string& text, long long* out);

    // Attribute queries: on success *out is set and true returned; a missing attribute or a
    // value that does not read as a finite number leaves *out unchanged.
    static bool QueryFloat(const tinyxml2::XMLElement* element, const char* name, float* out);
    // The attribute as a float, or fallback where QueryFloat would leave it unchanged.
    static float Float(const tinyxml2::XMLElement* element, const char* name, float fallback);
    // Leading integer of the attribute's text, within the int range.
    static bool QueryInt(const tinyxml2::XMLElement* element, const char* name, int* out);
    // The element's "Nr" attribute, which the log lines name it by; 0 when absent or bad.
    static int Nr(const tinyxml2::XMLElement* element);
    // Attribute text, or fallback when absent.
    static std::string Text(const tinyxml2::XMLElement* element, const char* name,
                            const std::string& fallback = "");
};
