#include "PkgProgram/CommandText.h"

#include <tinyxml2.h>

#include <cctype>
#include <cfloat>
#include <charconv>
#include <climits>
#include <cmath>
#include <limits>

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Skips blanks and one '+' (which from_chars does not take); '-' stays for from_chars.
size_t SkipLead(const std::string& text, size_t pos, bool* plusSeen)
{
    while (pos < text.size() && std::isspace(static_cast<unsigned char>(text[pos])))
        ++pos;
    *plusSeen = false;
    if (pos < text.size() && text[pos] == '+') {
        *plusSeen = true;
        ++pos;
    }
    return pos;
}

}  // namespace

CommandText::NumberResult CommandText::ParseFloatPrefix(const std::string& text, float* out)
{
    bool plus = false;
    size_t pos = SkipLead(text, 0, &plus);
    // A number starts with a digit or a point followed by a digit (after an optional sign);
    // this keeps words such as "inf", "nan" or "info" from reading as numbers.
    size_t p = pos;
    if (!plus && p < text.size() && text[p] == '-')
        ++p;
    bool startsNumber = p < text.size() &&
                        (IsDigit(text[p]) ||
                         (text[p] == '.' && p + 1 < text.size() && IsDigit(text[p + 1])));
    if (!startsNumber)
        return NumberResult::NoNumber;

    const char* begin = text.data() + pos;
    const char* end = text.data() + text.size();
    double value = 0.0;
    auto [ptr, ec] = std::from_chars(begin, end, value, std::chars_format::general);
    if (ec == std::errc::invalid_argument)
        return NumberResult::NoNumber;
    bool negative = text[pos] == '-';
    if (ec == std::errc::result_out_of_range) {
        // Overflow or underflow: tell them apart by the exponent's sign.
        bool underflow = false;
        for (const char* c = begin; c < ptr; ++c) {
            if (*c == 'e' || *c == 'E') {
                underflow = (c + 1 < ptr && c[1] == '-');
                break;
            }
        }
        if (underflow)
            *out = negative ? -0.0f : 0.0f;
        else
            *out = negative ? -std::numeric_limits<float>::infinity()
                            : std::numeric_limits<float>::infinity();
        return NumberResult::OutOfRange;
    }
    if (std::fabs(value) > static_cast<double>(FLT_MAX)) {
        *out = negative ? -std::numeric_limits<float>::infinity()
                        : std::numeric_limits<float>::infinity();
        return NumberResult::OutOfRange;
    }
    *out = static_cast<float>(value);
    return NumberResult::Ok;
}

CommandText::NumberResult CommandText::ParseIntPrefix(const std::string& text, long long* out)
{
    bool plus = false;
    size_t pos = SkipLead(text, 0, &plus);
    size_t p = pos;
    if (!plus && p < text.size() && text[p] == '-')
        ++p;
    if (p >= text.size() || !IsDigit(text[p]))
        return NumberResult::NoNumber;
    long long value = 0;
    auto [ptr, ec] = std::from_chars(text.data() + pos, text.data() + text.size(), value, 10);
    (void)ptr;
    if (ec == std::errc::result_out_of_range)
        return NumberResult::OutOfRange;
    if (ec != std::errc())
        return NumberResult::NoNumber;
    *out = value;
    return NumberResult::Ok;
}

bool CommandText::QueryFloat(const tinyxml2::XMLElement* element, const char* name, float* out)
{
    const char* text = element ? element->Attribute(name) : nullptr;
    if (!text)
        return false;
    float value = 0.0f;
    if (ParseFloatPrefix(text, &value) != NumberResult::Ok || !std::isfinite(value))
        return false;
    *out = value;
    return true;
}

bool CommandText::QueryInt(const tinyxml2::XMLElement* element, const char* name, int* out)
{
    const char* text = element ? element->Attribute(name) : nullptr;
    if (!text)
        return false;
    long long value = 0;
    if (ParseIntPrefix(text, &value) != NumberResult::Ok || value < INT_MIN || value > INT_MAX)
        return false;
    *out = static_cast<int>(value);
    return true;
}

float CommandText::Float(const tinyxml2::XMLElement* element, const char* name, float fallback)
{
    QueryFloat(element, name, &fallback);
    return fallback;
}

int CommandText::Nr(const tinyxml2::XMLElement* element)
{
    int nr = 0;
    QueryInt(element, "Nr", &nr);
    return nr;
}

std::string CommandText::Text(const tinyxml2::XMLElement* element, const char* name,
                              const std::string& fallback)
{
    const char* text = element ? element->Attribute(name) : nullptr;
    return text ? std::string(text) : fallback;
}
