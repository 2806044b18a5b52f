// Physical memory the system can still hand out (MemAvailable).
#pragma once

#include <cstdint>

namespace pw {

// Bytes of available physical memory, or 0 when it cannot be read.
uint64_t AvailablePhysicalMemory();

}  // namespace pw
