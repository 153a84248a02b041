#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

// Cuts a serial byte stream into frames. Reads from a serial line arrive in
// arbitrary pieces: a partial frame is kept until it completes, and bytes that
// cannot start a frame are skipped up to the next frame start. The buffer
// never grows beyond its capacity.
class FrameAssembler {
public:
    // Decides what starts at `data` (with `available` bytes buffered):
    // > 0 the length of the frame starting there, 0 no frame starts there,
    // < 0 more bytes are needed to decide.
    using LengthRule = std::function<int(const uint8_t* data, size_t available)>;
    using FrameHandler = std::function<void(const uint8_t* frame, size_t length)>;

    // `capacity` must be at least the longest frame the rule can return.
    FrameAssembler(LengthRule rule, size_t capacity);

    // Appends bytes and calls `onFrame` for every frame completed, in order.
    void Feed(const uint8_t* data, size_t length, const FrameHandler& onFrame);
    // Drops a partial frame (after a reconnect, for instance).
    void Clear();

    size_t Buffered() const { return buffer.size(); }
    // Bytes skipped because no frame could start with them.
    uint64_t SkippedBytes() const { return skipped; }

private:
    void Extract(const FrameHandler& onFrame);

    LengthRule rule;
    size_t capacity;
    std::vector<uint8_t> buffer;
    uint64_t skipped = 0;
};
