#include "ComFrameReader.h"

#include <cstring>

namespace {
const char kStart[] = "NEXSTART";
const char kEnd[] = "NEXEND";
constexpr std::size_t kStartLength = sizeof(kStart) - 1;
constexpr std::size_t kEndLength = sizeof(kEnd) - 1;
}  // namespace

ComFrameReader::ComFrameReader() { Reset(); }

void ComFrameReader::Reset() {
    std::memset(buffer, 0, sizeof(buffer));
    length = 0;
    started = false;
    complete = false;
}

ComFrameReader::Result ComFrameReader::Feed(char byte) {
    if (complete) return Result::Complete;
    if (!started) {
        // Keep the last eight bytes at the front until they read the start marker.
        if (length < kStartLength) {
            buffer[length++] = byte;
        } else {
            std::memmove(buffer, buffer + 1, kStartLength - 1);
            buffer[kStartLength - 1] = byte;
        }
        if (length == kStartLength && std::memcmp(buffer, kStart, kStartLength) == 0) {
            started = true;
        }
        return Result::NeedMore;
    }
    if (length >= bufferSize) return Result::Overflow;
    buffer[length++] = byte;
    if (length >= kStartLength + kEndLength &&
        std::memcmp(buffer + length - kEndLength, kEnd, kEndLength) == 0) {
        complete = true;
        return Result::Complete;
    }
    if (length >= bufferSize) return Result::Overflow;
    return Result::NeedMore;
}

std::string ComFrameReader::Message() const {
    if (!complete) return std::string();
    return std::string(buffer, length);
}
