// Browser page messages: whatever a WebSocket delivers goes through the reader
// and the translation; what comes out must be frames the controller takes.
#include <cstdint>
#include <string>

#include "ComMessageParser.h"
#include "PkgWeb/WebMessage.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const WebRequest r = WebMessage::Parse(text);
    if (r.kind == WebRequest::Kind::Invalid && (r.error.empty() || !r.frames.empty())) __builtin_trap();
    for (const std::string& body : r.frames) {
        // Framed with the longest counter, every message fits the controller's limit.
        const std::string framed = "NEXSTART 999 " + body + " NEXEND";
        if (framed.size() > std::size_t(ComMessageParser::maxMessageLength)) __builtin_trap();
        if (body.find("NEXEND") != std::string::npos) __builtin_trap();
    }
    if ((r.kind == WebRequest::Kind::Load || r.kind == WebRequest::Kind::Upload) &&
        (!ComMessageParser::IsSafeName(r.name) || r.name.find('/') != std::string::npos)) {
        __builtin_trap();
    }
    if (r.kind == WebRequest::Kind::Jog && (r.axis < 1 || r.axis > 9 || !(r.value >= -100.0f && r.value <= 100.0f))) {
        __builtin_trap();
    }
    return 0;
}
