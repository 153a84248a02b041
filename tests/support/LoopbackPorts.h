#pragma once

// Free loopback ports for tests that open sockets: below the kernel's
// source-port range, derived from the process id, never a fixed common port.
namespace LoopbackPorts {
// A UDP port P (1024 ... 65000) such that P and P + 1 are both free on
// 127.0.0.1 at the time of the call; 0 if none was found.
int FreeUdpPair();
// A TCP port free on 127.0.0.1 at the time of the call; 0 if none was found.
int FreeTcp();
}  // namespace LoopbackPorts
