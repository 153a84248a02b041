#pragma once

#include <cstddef>
#include <string>

// Cuts framed front-end messages out of a byte stream. Bytes before "NEXSTART"
// are dropped; a message runs from "NEXSTART" up to and including the next
// "NEXEND". Bytes are fed one at a time so that the reader never consumes
// anything past the end of a message.
class ComFrameReader {
public:
    static constexpr std::size_t bufferSize = 1024;

    enum class Result {
        NeedMore,  // keep feeding
        Complete,  // Message() holds one framed message
        Overflow,  // the buffer filled before "NEXEND": the framing is lost
    };

    ComFrameReader();

    // Clears the buffer; the next byte starts the search for "NEXSTART".
    void Reset();
    // Takes one byte. After Complete or Overflow, call Reset before feeding on.
    Result Feed(char byte);

    // The framed message, both markers included (valid after Complete).
    std::string Message() const;
    std::size_t Length() const { return length; }
    bool InsideMessage() const { return started; }

private:
    char buffer[bufferSize];
    std::size_t length = 0;  // bytes held in buffer
    bool started = false;    // "NEXSTART" seen
    bool complete = false;
};
