#include "WebJson.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {

class Cursor {
public:
    explicit Cursor(const std::string& t) : text(t) {}
    void Blanks() {
        while (pos < text.size() &&
               (text[pos] == ' ' || text[pos] == '\t' || text[pos] == '\n' || text[pos] == '\r')) {
            ++pos;
        }
    }
    bool Take(char c) {
        Blanks();
        if (pos < text.size() && text[pos] == c) {
            ++pos;
            return true;
        }
        return false;
    }
    bool AtEnd() {
        Blanks();
        return pos == text.size();
    }
    bool Word(const char* w) {
        std::size_t n = std::char_traits<char>::length(w);
        if (text.compare(pos, n, w) != 0) return false;
        pos += n;
        return true;
    }
    char Peek() {
        Blanks();
        return pos < text.size() ? text[pos] : '\0';
    }

    static void Utf8(unsigned code, std::string* out) {
        if (code < 0x80) {
            out->push_back(char(code));
        } else if (code < 0x800) {
            out->push_back(char(0xC0 | (code >> 6)));
            out->push_back(char(0x80 | (code & 0x3F)));
        } else if (code < 0x10000) {
            out->push_back(char(0xE0 | (code >> 12)));
            out->push_back(char(0x80 | ((code >> 6) & 0x3F)));
            out->push_back(char(0x80 | (code & 0x3F)));
        } else {
            out->push_back(char(0xF0 | (code >> 18)));
            out->push_back(char(0x80 | ((code >> 12) & 0x3F)));
            out->push_back(char(0x80 | ((code >> 6) & 0x3F)));
            out->push_back(char(0x80 | (code & 0x3F)));
        }
    }
    bool Hex4(unsigned* out) {
        if (pos + 4 > text.size()) return false;
        unsigned v = 0;
        for (int i = 0; i < 4; ++i) {
            char c = text[pos++];
            v <<= 4;
            if (c >= '0' && c <= '9') v |= unsigned(c - '0');
            else if (c >= 'a' && c <= 'f') v |= unsigned(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F') v |= unsigned(c - 'A' + 10);
            else return false;
        }
        *out = v;
        return true;
    }
    // After the opening quote.
    bool String(std::string* out) {
        while (pos < text.size()) {
            char c = text[pos++];
            if (c == '"') return true;
            if (static_cast<unsigned char>(c) < 0x20) return false;
            if (c != '\\') {
                out->push_back(c);
                continue;
            }
            if (pos >= text.size()) return false;
            char e = text[pos++];
            switch (e) {
                case '"': out->push_back('"'); break;
                case '\\': out->push_back('\\'); break;
                case '/': out->push_back('/'); break;
                case 'b': out->push_back('\b'); break;
                case 'f': out->push_back('\f'); break;
                case 'n': out->push_back('\n'); break;
                case 'r': out->push_back('\r'); break;
                case 't': out->push_back('\t'); break;
                case 'u': {
                    unsigned code = 0;
                    if (!Hex4(&code)) return false;
                    if (code >= 0xDC00 && code <= 0xDFFF) return false;  // lone low surrogate
                    if (code >= 0xD800 && code <= 0xDBFF) {
                        unsigned low = 0;
                        if (!Word("\\u") || !Hex4(&low) || low < 0xDC00 || low > 0xDFFF) return false;
                        code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
                    }
                    Utf8(code, out);
                    break;
                }
                default: return false;
            }
        }
        return false;
    }
    bool Number(double* out) {
        std::size_t start = pos;
        auto digits = [&]() {
            std::size_t from = pos;
            while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') ++pos;
            return pos > from;
        };
        if (pos < text.size() && text[pos] == '-') ++pos;
        if (pos < text.size() && text[pos] == '0') {
            ++pos;
        } else if (!digits()) {
            return false;
        }
        if (pos < text.size() && text[pos] == '.') {
            ++pos;
            if (!digits()) return false;
        }
        if (pos < text.size() && (text[pos] == 'e' || text[pos] == 'E')) {
            ++pos;
            if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) ++pos;
            if (!digits()) return false;
        }
        if (pos - start > 64) return false;
        std::string token = text.substr(start, pos - start);
        *out = std::strtod(token.c_str(), nullptr);
        return std::isfinite(*out);
    }

    const std::string& text;
    std::size_t pos = 0;
};

}  // namespace

bool WebJson::Parse(const std::string& text, std::string* error) {
    members.clear();
    auto fail = [&](const char* why) {
        members.clear();
        if (error != nullptr) *error = why;
        return false;
    };
    Cursor c(text);
    if (!c.Take('{')) return fail("not a JSON object");
    if (!c.Take('}')) {
        for (;;) {
            std::string key;
            if (!c.Take('"') || !c.String(&key)) return fail("bad member name");
            if (!c.Take(':')) return fail("missing ':'");
            Value v;
            char next = c.Peek();
            if (next == '"') {
                c.Take('"');
                v.kind = Value::Kind::String;
                if (!c.String(&v.text)) return fail("bad string");
            } else if (next == '-' || (next >= '0' && next <= '9')) {
                v.kind = Value::Kind::Number;
                if (!c.Number(&v.number)) return fail("bad number");
            } else if (c.Word("true") || c.Word("false")) {
                v.kind = Value::Kind::Bool;
            } else if (c.Word("null")) {
                v.kind = Value::Kind::Null;
            } else {
                return fail("unsupported value");
            }
            if (members.count(key) != 0) return fail("duplicate member");
            if (members.size() >= maxMembers) return fail("too many members");
            members.emplace(std::move(key), std::move(v));
            if (c.Take('}')) break;
            if (!c.Take(',')) return fail("missing ','");
        }
    }
    if (!c.AtEnd()) return fail("text after the object");
    return true;
}

bool WebJson::String(const std::string& key, std::string* out) const {
    auto it = members.find(key);
    if (it == members.end() || it->second.kind != Value::Kind::String) return false;
    *out = it->second.text;
    return true;
}

bool WebJson::Number(const std::string& key, double* out) const {
    auto it = members.find(key);
    if (it == members.end() || it->second.kind != Value::Kind::Number) return false;
    *out = it->second.number;
    return true;
}

// Length of the well-formed UTF-8 sequence at text[i], 0 if there is none:
// a browser drops a WebSocket whose text frame is not UTF-8.
static std::size_t Utf8Length(const std::string& text, std::size_t i) {
    auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    unsigned char b = byte(i);
    std::size_t n = b >= 0xF0 && b <= 0xF4 ? 4 : b >= 0xE0 ? 3 : b >= 0xC2 && b < 0xE0 ? 2 : 0;
    if (n == 0 || i + n > text.size()) return 0;
    for (std::size_t k = 1; k < n; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) return 0;
    }
    unsigned c1 = byte(i + 1);
    if (b == 0xE0 && c1 < 0xA0) return 0;                 // overlong
    if (b == 0xED && c1 >= 0xA0) return 0;                // surrogates
    if (b == 0xF0 && c1 < 0x90) return 0;                 // overlong
    if (b == 0xF4 && c1 >= 0x90) return 0;                // above U+10FFFF
    return n;
}

std::string WebJson::Quote(const std::string& text) {
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (static_cast<unsigned char>(c) >= 0x80) {
            std::size_t n = Utf8Length(text, i);
            if (n == 0) {
                out += '?';
            } else {
                out.append(text, i, n);
                i += n - 1;
            }
            continue;
        }
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
                    char esc[8];
                    std::snprintf(esc, sizeof(esc), "\\u%04x", unsigned(static_cast<unsigned char>(c)));
                    out += esc;
                } else {
                    out.push_back(c);
                }
        }
    }
    out += '"';
    return out;
}
