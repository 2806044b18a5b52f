#include "platform/memory.h"

#include <cstdio>
#include <cstring>

namespace pw {

uint64_t AvailablePhysicalMemory() {
  FILE* f = std::fopen("/proc/meminfo", "r");
  if (!f) return 0;
  char line[256];
  uint64_t kib = 0;
  bool found = false;
  while (std::fgets(line, sizeof line, f)) {
    unsigned long long v = 0;
    if (std::sscanf(line, "MemAvailable: %llu kB", &v) == 1) {
      kib = v;
      found = true;
      break;
    }
  }
  std::fclose(f);
  return found ? kib * 1024ULL : 0;
}

}  // namespace pw
