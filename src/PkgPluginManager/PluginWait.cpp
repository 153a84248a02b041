#include "PkgPluginManager/PluginWait.h"

#include <chrono>
#include <thread>

namespace PluginFramework {
void wait(int ms) {
    if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}
}  // namespace PluginFramework
