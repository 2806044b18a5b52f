// The two folders a replay program reads: its decoder's crashers and seeds.
// Each replay program is built with its own pair (replay_dirs.cpp).
#pragma once

namespace pwfuzz {
extern const char* const kCrasherDir;
extern const char* const kSeedDir;
}  // namespace pwfuzz
