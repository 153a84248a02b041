#pragma once

namespace PluginFramework {
// Sleeps ms milliseconds.
void wait(int ms);
}  // namespace PluginFramework
