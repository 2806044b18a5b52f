// The metafile player: plays one metafile, handed over on standard input,
// into pixels written to standard output (see MetafileRequest.h), then
// ends. The image library starts one per metafile, so that a hostile file
// costs a bounded amount of processor time and memory, and so that playbacks
// on several batch workers run side by side instead of one after another.
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <vector>

#include "imagelib/metafile_player/MetafileRender.h"
#include "imagelib/metafile_player/MetafileRequest.h"

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kAddressSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kAddressSanitizer = true;
#else
constexpr bool kAddressSanitizer = false;
#endif
#else
constexpr bool kAddressSanitizer = false;
#endif

bool ReadAll(int fd, void* data, size_t size) {
  auto* p = static_cast<uint8_t*>(data);
  while (size > 0) {
    const ssize_t n = ::read(fd, p, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

bool WriteAll(int fd, const void* data, size_t size) {
  const auto* p = static_cast<const uint8_t*>(data);
  while (size > 0) {
    const ssize_t n = ::write(fd, p, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

void Limit(int resource, rlim_t soft, rlim_t hard) {
  rlimit limit{soft, hard};
  setrlimit(resource, &limit);
}

// Past the processor limit: end at once, with no core file (the default
// action of the signal writes one).
void OutOfTime(int) { _exit(4); }

}  // namespace

int main() {
  Limit(RLIMIT_CORE, 0, 0);
  struct sigaction action {};
  action.sa_handler = OutOfTime;
  sigaction(SIGXCPU, &action, nullptr);
  // Instrumented and unoptimised builds of the player take several times as
  // long over the same picture; they get the time that corresponds.
#ifdef NDEBUG
  constexpr bool kSlowBuild = kAddressSanitizer;
#else
  constexpr bool kSlowBuild = true;
#endif
  // AddressSanitizer reserves terabytes of shadow memory up front. (The
  // memory limit is set before the processor limit: a player whose
  // processor limit is there has both.)
  if (!kAddressSanitizer) Limit(RLIMIT_DATA, metafile::kPlayerMemoryBytes, metafile::kPlayerMemoryBytes);
  const rlim_t cpu = metafile::kPlayerCpuSeconds * (kSlowBuild ? 4 : 1);
  Limit(RLIMIT_CPU, cpu, cpu + 1);

  metafile::MetafileRequest request;
  if (!ReadAll(0, &request, sizeof request) || request.magic != metafile::kRequestMagic) _exit(2);
  if (request.size == 0 || request.size > metafile::kMaxRequestBytes || request.width == 0 || request.height == 0 ||
      request.width > 32767 || request.height > 32767)
    _exit(2);
  std::vector<uint8_t> bytes;
  try {
    bytes.resize(request.size);
  } catch (...) {
    _exit(3);
  }
  if (!ReadAll(0, bytes.data(), bytes.size())) _exit(2);

  // After the status, the picture goes out as the image library lays it out
  // (see MetafileRequest.h), a band of rows at a time.
  const uint32_t width = request.width, height = request.height;
  const metafile::PixelWriter write = [width, height](const uint32_t* pixels, size_t count) {
    if (count != size_t{width} * height) return false;
    const uint32_t status = metafile::kPlayed;
    if (!WriteAll(1, &status, sizeof status)) return false;
    const size_t stride = metafile::RowBytes(width);
    constexpr uint32_t kBand = 64;
    std::vector<uint8_t> band(stride * kBand, 0);
    uint32_t filled = 0;
    for (uint32_t k = 0; k < height; ++k) {
      const uint32_t* in = pixels + size_t{height - 1 - k} * width;  // the bottom row first
      uint8_t* out = band.data() + stride * filled;
      for (uint32_t x = 0; x < width; ++x) {
        out[3 * size_t{x}] = static_cast<uint8_t>(in[x]);
        out[3 * size_t{x} + 1] = static_cast<uint8_t>(in[x] >> 8);
        out[3 * size_t{x} + 2] = static_cast<uint8_t>(in[x] >> 16);
      }
      if (++filled == kBand || k + 1 == height) {
        if (!WriteAll(1, band.data(), stride * filled)) return false;
        filled = 0;
      }
    }
    return true;
  };
  bool played = false;
  try {
    if (request.kind == metafile::Kind::kPlaceable) {
      const metafile::Frame frame{request.left, request.top, request.right, request.bottom};
      played = metafile::RenderWmf(bytes.data(), bytes.size(), frame, request.width, request.height, write);
    } else if (request.kind == metafile::Kind::kEnhanced) {
      played = metafile::RenderEmf(bytes.data(), bytes.size(), request.width, request.height, write);
    }
  } catch (...) {
    played = false;
  }
  if (!played) _exit(1);
  // Straight out: nothing the libraries hold needs tidying (see RenderWmf).
  _exit(0);
}
