// 16- and 32-bit byte swaps (network order <-> host order) and little-endian
// field access for the on-disk records that were Windows structures.
#pragma once

#include <cstdint>
#include <cstring>

namespace pw {

inline uint16_t Swap16(uint16_t v) { return __builtin_bswap16(v); }
inline uint32_t Swap32(uint32_t v) { return __builtin_bswap32(v); }
inline uint64_t Swap64(uint64_t v) { return __builtin_bswap64(v); }

#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
inline uint16_t NetToHost16(uint16_t v) { return Swap16(v); }
inline uint16_t HostToNet16(uint16_t v) { return Swap16(v); }
inline uint32_t NetToHost32(uint32_t v) { return Swap32(v); }
inline uint32_t HostToNet32(uint32_t v) { return Swap32(v); }
#else
inline uint16_t NetToHost16(uint16_t v) { return v; }
inline uint16_t HostToNet16(uint16_t v) { return v; }
inline uint32_t NetToHost32(uint32_t v) { return v; }
inline uint32_t HostToNet32(uint32_t v) { return v; }
#endif

// Little-endian loads and stores on unaligned bytes.
inline uint16_t LoadLE16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t LoadLE32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline void StoreLE16(uint8_t* p, uint16_t v) { p[0] = uint8_t(v); p[1] = uint8_t(v >> 8); }
inline void StoreLE32(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v); p[1] = uint8_t(v >> 8); p[2] = uint8_t(v >> 16); p[3] = uint8_t(v >> 24);
}
// Big-endian loads and stores on unaligned bytes.
inline uint16_t LoadBE16(const uint8_t* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }
inline uint32_t LoadBE32(const uint8_t* p) {
  return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
         (static_cast<uint32_t>(p[2]) << 8) | static_cast<uint32_t>(p[3]);
}
inline void StoreBE16(uint8_t* p, uint16_t v) { p[0] = uint8_t(v >> 8); p[1] = uint8_t(v); }
inline void StoreBE32(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v >> 24); p[1] = uint8_t(v >> 16); p[2] = uint8_t(v >> 8); p[3] = uint8_t(v);
}

}  // namespace pw
