#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Shared by every fuzz target and its corpus replay.
namespace FuzzSupport {

// A private directory of this process under the system temp folder, made on
// first use and removed at exit. The first call also moves the working
// directory there and makes the process log there without console echo, so a
// fuzz run writes nothing anywhere else. Call it first in every target.
const std::string& TempDirectory();

// Writes bytes to a file (replacing it); false when it cannot be written.
bool WriteFile(const std::string& path, const uint8_t* data, size_t size);
bool WriteFile(const std::string& path, const std::string& text);

// Reads the fuzz input front to back; past the end every value is 0.
class Input {
public:
    Input(const uint8_t* data, size_t size) : data(data), size(size) {}
    uint8_t Byte() { return position < size ? data[position++] : 0; }
    uint16_t Word() { return uint16_t(Byte() | (Byte() << 8)); }
    // Up to `count` bytes (fewer at the end).
    std::string Bytes(size_t count);
    // Everything not read yet.
    std::string Rest();
    size_t Remaining() const { return size - position; }

private:
    const uint8_t* data;
    size_t size;
    size_t position = 0;
};

}  // namespace FuzzSupport
