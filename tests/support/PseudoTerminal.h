#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The panel side of a pseudo-terminal pair: the code under test opens
// SlavePath() as its serial device, the test reads and writes the master.
class PseudoTerminal {
public:
    PseudoTerminal();
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    const std::string& SlavePath() const { return slavePath; }
    // Returns once the bytes are readable on the device side, so that the
    // next read of the code under test sees them (the pty hands data over
    // asynchronously).
    void Write(const std::vector<uint8_t>& bytes);
    template <size_t N>
    void Write(const uint8_t (&bytes)[N]) { Write(std::vector<uint8_t>(bytes, bytes + N)); }
    // Reads until `count` bytes arrived or `timeoutMs` passed.
    std::vector<uint8_t> Read(size_t count, int timeoutMs = 2000);
    // Everything that arrives until nothing more comes for `quietMs`.
    std::vector<uint8_t> ReadAll(int quietMs = 50);
    // Closes the master: the device side sees a hang-up.
    void Close();

private:
    size_t Pending();

    int master = -1;
    int monitor = -1;  // a second device-side descriptor, only to count queued bytes
    std::string slavePath;
};
