// Memory for the engine's large picture buffers (the overview, its raw
// samples, the strips of an opening).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <utility>
#include <vector>

namespace pw {

// Buffers from this size on get memory of their own from the kernel.
constexpr size_t kLargePictureBuffer = size_t(16) << 20;

// `bytes` of zeroed memory, mapped for this buffer alone, its pages already
// present: several threads fault them in side by side, each over a share.
// The first touch of a few hundred megabytes otherwise costs as much as
// reading the picture, one page fault at a time on the thread that writes
// it. Ordinary pages, whatever the kernel's huge-page settings. Null when
// there is no memory. Freed with FreePictureMemory(p, bytes).
void* AllocatePictureMemory(size_t bytes);
void FreePictureMemory(void* p, size_t bytes);

// Bytes of a large picture buffer, not zeroed when made: the overview and
// its raw samples are written whole, and a first pass of zeros over a
// few hundred megabytes costs about as much as the reading.
template <class T>
struct UninitializedAllocator : std::allocator<T> {
  template <class U>
  struct rebind {
    using other = UninitializedAllocator<U>;
  };
  UninitializedAllocator() = default;
  template <class U>
  UninitializedAllocator(const UninitializedAllocator<U>&) {}
  T* allocate(size_t n) {
    const size_t bytes = n * sizeof(T);
    if (bytes < kLargePictureBuffer) return std::allocator<T>::allocate(n);
    void* p = AllocatePictureMemory(bytes);
    if (!p) throw std::bad_alloc();
    return static_cast<T*>(p);
  }
  void deallocate(T* p, size_t n) {
    if (n * sizeof(T) < kLargePictureBuffer) return std::allocator<T>::deallocate(p, n);
    FreePictureMemory(p, n * sizeof(T));
  }
  template <class U, class... Args>
  void construct(U* p, Args&&... args) {
    if constexpr (sizeof...(Args) == 0)
      ::new (static_cast<void*>(p)) U;
    else
      ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
  }
};
using PictureBytes = std::vector<uint8_t, UninitializedAllocator<uint8_t>>;

}  // namespace pw
