#pragma once

#include <map>
#include <string>

// The messages a browser sends: one flat JSON object whose members are
// strings, numbers, booleans or null. Anything else (nesting, duplicate keys,
// text after the object, bad escapes) is refused, so that the reader stays
// small enough to check by eye and by fuzzing.
class WebJson {
public:
    static constexpr std::size_t maxMembers = 16;

    // False with a short reason in *error when the text is not such an object.
    bool Parse(const std::string& text, std::string* error);

    bool Has(const std::string& key) const { return members.count(key) != 0; }
    // False when the member is missing or of another kind.
    bool String(const std::string& key, std::string* out) const;
    bool Number(const std::string& key, double* out) const;

    // A JSON string literal of any bytes (quotes, backslash and control
    // characters escaped).
    static std::string Quote(const std::string& text);

private:
    struct Value {
        enum class Kind { String, Number, Bool, Null } kind = Kind::Null;
        std::string text;
        double number = 0.0;
    };
    std::map<std::string, Value> members;
};
