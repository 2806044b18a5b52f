// What the image library and the metafile player say to each other over
// the player's one socket (its standard input and output). Both sides are
// built together, so the records are in host order.
//
// Request: MetafileRequest, then `size` bytes of the metafile.
// Answer: a 32-bit status (kPlayed, or the player stops without one), then
// the picture as the image library's 24-bit container holds it: rows from
// the bottom up, each blue, green, red per pixel, padded to 4 bytes.
#pragma once

#include <cstddef>
#include <cstdint>

namespace metafile {

constexpr uint32_t kRequestMagic = 0x464D5750;  // "PWMF"
constexpr uint32_t kPlayed = 0x59414C50;        // "PLAY"

enum class Kind : uint32_t { kPlaceable = 1, kEnhanced = 2 };

// Bytes of one answered row.
constexpr size_t RowBytes(uint32_t width) { return (size_t{width} * 3 + 3) & ~size_t{3}; }

struct MetafileRequest {
  uint32_t magic = kRequestMagic;
  Kind kind = Kind::kPlaceable;
  uint32_t width = 0, height = 0;
  // The placeable frame in points (see RenderWmf); unused for enhanced ones.
  float left = 0, top = 0, right = 0, bottom = 0;
  uint64_t size = 0;
};

// The player's limits. One metafile may cost the player at most this much
// processor time, after which the system stops it (SIGXCPU), and this much
// writable memory; a 4000 x 4000 picture needs about 70 MiB of it.
constexpr unsigned kPlayerCpuSeconds = 1;
constexpr uint64_t kPlayerMemoryBytes = uint64_t{320} << 20;
// The most a request may carry: a metafile the image library read whole.
constexpr uint64_t kMaxRequestBytes = uint64_t{0x7FFFFFFF};

}  // namespace metafile
