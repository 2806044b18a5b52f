#include "replay_dirs.h"

namespace pwfuzz {
const char* const kCrasherDir = PW_CRASHER_DIR;
const char* const kSeedDir = PW_SEED_DIR;
}  // namespace pwfuzz
