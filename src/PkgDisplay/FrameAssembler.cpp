#include "PkgDisplay/FrameAssembler.h"

#include <algorithm>

FrameAssembler::FrameAssembler(LengthRule lengthRule, size_t bufferCapacity)
    : rule(std::move(lengthRule)), capacity(std::max<size_t>(bufferCapacity, 1)) {
    buffer.reserve(capacity);
}

void FrameAssembler::Feed(const uint8_t* data, size_t length, const FrameHandler& onFrame) {
    size_t pos = 0;
    while (pos < length) {
        const size_t room = capacity - buffer.size();
        const size_t take = std::min(room, length - pos);
        buffer.insert(buffer.end(), data + pos, data + pos + take);
        pos += take;
        Extract(onFrame);
        if (buffer.size() >= capacity) {
            // Only a rule that asks for more than the capacity gets here:
            // give up on this start rather than stall the stream.
            buffer.erase(buffer.begin());
            ++skipped;
            Extract(onFrame);
        }
    }
}

void FrameAssembler::Clear() {
    buffer.clear();
}

void FrameAssembler::Extract(const FrameHandler& onFrame) {
    size_t start = 0;
    while (start < buffer.size()) {
        const size_t available = buffer.size() - start;
        const int length = rule(buffer.data() + start, available);
        if (length == 0) {
            ++start;
            ++skipped;
            continue;
        }
        if (length < 0 || static_cast<size_t>(length) > available) break;
        onFrame(buffer.data() + start, static_cast<size_t>(length));
        start += static_cast<size_t>(length);
    }
    buffer.erase(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(start));
}
