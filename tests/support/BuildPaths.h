#pragma once

// Where this build keeps its executables and where the sources are. Only
// BuildPaths.cpp is compiled with the checkout's paths; every other test
// object gets them through these functions (the header is force-included into
// the unit test executable), so their compile commands are the same in every
// checkout and ccache shares them between worktrees and CI's fresh clones.
namespace BuildPaths {
const char* BinDir();
const char* SourceDir();
}  // namespace BuildPaths

#ifndef ORVANE_BIN_DIR
#define ORVANE_BIN_DIR (BuildPaths::BinDir())
#endif
#ifndef ORVANE_SOURCE_DIR
#define ORVANE_SOURCE_DIR (BuildPaths::SourceDir())
#endif
