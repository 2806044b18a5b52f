#include "raster/PictureBuffer.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>

#include "raster/PictureThreads.h"

namespace pw {
namespace {

#ifndef MADV_POPULATE_WRITE
#define MADV_POPULATE_WRITE 23
#endif

// Faults in the pages of [p, p + bytes): in one call where the kernel
// knows how (5.14 on), else by writing a zero to every page.
void Populate(uint8_t* p, size_t bytes, size_t page) {
  if (bytes == 0 || madvise(p, bytes, MADV_POPULATE_WRITE) == 0) return;
  for (size_t at = 0; at < bytes; at += page) p[at] = 0;
}

}  // namespace

void* AllocatePictureMemory(size_t bytes) {
  if (bytes == 0) return nullptr;
  void* mapped = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (mapped == MAP_FAILED) return nullptr;
  auto* p = static_cast<uint8_t*>(mapped);
  const size_t page = size_t(std::max(4096L, sysconf(_SC_PAGESIZE)));
  // Whole pages per share, at least 16 MB each: below that, starting a
  // thread costs more than it saves.
  const size_t pages = (bytes + page - 1) / page;
  ForEachShare(pages, (size_t(16) << 20) / page, [&](size_t first, size_t end) {
    const size_t at = first * page;
    Populate(p + at, std::min(end * page, bytes) - at, page);
  });
  return p;
}

void FreePictureMemory(void* p, size_t bytes) {
  if (p) munmap(p, bytes);
}

}  // namespace pw
