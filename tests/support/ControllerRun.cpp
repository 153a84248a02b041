#include "support/ControllerRun.h"

#include <gtest/gtest.h>

#include "support/ExampleBase.h"
#include "support/LoopbackPorts.h"

void ControllerRun::Start(const std::string& base, int timeoutMs) {
    port = LoopbackPorts::FreeTcp();
    ASSERT_GT(port, 0);
    ASSERT_NO_FATAL_FAILURE(sim.Start(base, {}, timeoutMs));
    controller = std::make_unique<ChildProcess>(std::string(ORVANE_BIN_DIR) + "/orvane", std::vector<std::string>{},
                                                base, ControllerEnvironment(sim.busPort, port));
    ASSERT_TRUE(controller->WaitForOutput("NEX-Server: waiting for client", timeoutMs)) << controller->Output();
}
