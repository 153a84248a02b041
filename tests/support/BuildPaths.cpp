#include "support/BuildPaths.h"

const char* BuildPaths::BinDir() { return ORVANE_BUILD_BIN_DIR; }
const char* BuildPaths::SourceDir() { return ORVANE_BUILD_SOURCE_DIR; }
