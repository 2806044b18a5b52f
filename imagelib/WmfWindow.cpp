#include "imagelib/WmfWindow.h"

#include <algorithm>
#include <cmath>
#include <new>

#include "platform/byteorder.h"

namespace {

using pw::LoadLE16;
using pw::LoadLE32;

constexpr uint16_t kSetMapMode = 0x0103, kSetWindowOrg = 0x020B, kSetWindowExt = 0x020C, kOffsetWindowOrg = 0x020F,
                   kScaleWindowExt = 0x0410, kSetViewportOrg = 0x020D, kSetViewportExt = 0x020E, kSaveDC = 0x001E,
                   kRestoreDC = 0x0127;
constexpr int64_t kHugeExtent = int64_t{1} << 32;
constexpr int kTextMode = 1, kIsotropic = 7, kAnisotropic = 8;
// A player maps the window onto its frame anisotropically until the file
// names a mode.
constexpr int kPlayerMode = kAnisotropic;

struct Window {
  int mode = kPlayerMode;
  int64_t orgX = 0, orgY = 0, extX = 0, extY = 0;
};

int64_t Param(const uint8_t* record, int i) { return static_cast<int16_t>(LoadLE16(record + 6 + 2 * i)); }

bool Fits16(int64_t v) { return v >= INT16_MIN && v <= INT16_MAX; }

void Append(std::vector<uint8_t>* out, uint16_t function, int64_t y, int64_t x) {
  const uint8_t r[10] = {5, 0, 0, 0, static_cast<uint8_t>(function), static_cast<uint8_t>(function >> 8),
                         static_cast<uint8_t>(y), static_cast<uint8_t>(y >> 8), static_cast<uint8_t>(x),
                         static_cast<uint8_t>(x >> 8)};
  out->insert(out->end(), r, r + sizeof r);
}

// The window the playback library must be given for `w` in a frame of
// frameX x frameY units; false when its origin does not fit 16-bit records.
bool Effective(const Window& w, int64_t frameX, int64_t frameY, int64_t out[4]) {
  int64_t orgX = w.orgX, orgY = w.orgY, extX = w.extX, extY = w.extY;
  // An empty extent maps nothing: the system refuses it, so the last one
  // (here the frame's) stays.
  if (extX == 0) extX = frameX;
  if (extY == 0) extY = frameY;
  if (w.mode == kIsotropic) {
    const double scale = std::fmax(std::fabs(double(extX)) / double(frameX), std::fabs(double(extY)) / double(frameY));
    const int64_t wideX = std::llround(scale * double(frameX)) * (extX < 0 ? -1 : 1);
    const int64_t wideY = std::llround(scale * double(frameY)) * (extY < 0 ? -1 : 1);
    // The drawing's window sits in the middle of the grown one.
    orgX += (extX - wideX) / 2;
    orgY += (extY - wideY) / 2;
    extX = wideX;
    extY = wideY;
  } else if (w.mode != kAnisotropic) {
    extX = frameX;
    extY = frameY;
  }
  out[0] = orgX;
  out[1] = orgY;
  out[2] = extX;
  out[3] = extY;
  return Fits16(orgX) && Fits16(orgY);
}

// A window extent and a viewport extent that fit 16-bit records and map
// `extent` logical units onto `frame` device units: only their ratio
// counts, so a frame or window wider than 32767 units is stated in
// proportion (to within a part in 16000).
void Proportion(int64_t extent, int64_t frame, int64_t* window, int64_t* viewport) {
  const double ratio = double(frame) / std::fabs(double(extent));
  int64_t w = ratio >= 1.0 ? static_cast<int64_t>(double(INT16_MAX) / ratio) : INT16_MAX;
  if (w < 1) w = 1;
  if (w > std::abs(extent) && std::abs(extent) * ratio <= double(INT16_MAX)) w = std::abs(extent);
  *viewport = std::clamp<int64_t>(std::llround(double(w) * ratio), 1, INT16_MAX);
  *window = extent < 0 ? -w : w;
}

}  // namespace

bool MakeWindowExplicit(std::vector<uint8_t>* bytes) {
  const uint8_t* b = bytes->data();
  const int64_t left = static_cast<int16_t>(LoadLE16(b + 6)), top = static_cast<int16_t>(LoadLE16(b + 8));
  const int64_t frameX = static_cast<int16_t>(LoadLE16(b + 10)) - left;
  const int64_t frameY = static_cast<int16_t>(LoadLE16(b + 12)) - top;
  if (frameX <= 0 || frameY <= 0) return false;
  const uint64_t headerEnd = 22 + 2 * uint64_t{LoadLE16(b + 22 + 2)};

  std::vector<uint8_t> out;
  std::vector<Window> saved;
  try {
    out.reserve(bytes->size() + 48);
    out.assign(b, b + headerEnd);
    Window w;
    w.orgX = left;
    w.orgY = top;
    w.extX = frameX;
    w.extY = frameY;
    auto emit = [&]() {
      int64_t e[4];
      if (!Effective(w, frameX, frameY, e)) return false;
      int64_t windowX, windowY, viewportX, viewportY;
      Proportion(e[2], frameX, &windowX, &viewportX);
      Proportion(e[3], frameY, &windowY, &viewportY);
      Append(&out, kSetWindowOrg, e[1], e[0]);
      Append(&out, kSetWindowExt, windowY, windowX);
      Append(&out, kSetViewportExt, viewportY, viewportX);
      return true;
    };
    // The library's mapping: anisotropic, the viewport the whole frame in
    // the frame's units (the device box the picture is played into).
    const uint8_t mapMode[8] = {4, 0, 0, 0, static_cast<uint8_t>(kSetMapMode), kSetMapMode >> 8,
                                kAnisotropic, 0};
    out.insert(out.end(), mapMode, mapMode + sizeof mapMode);
    Append(&out, kSetViewportOrg, 0, 0);
    if (!emit()) return false;
    uint64_t largest = 5;
    for (uint64_t at = headerEnd; at + 6 <= bytes->size();) {
      const uint8_t* r = b + at;
      const uint64_t words = LoadLE32(r);
      const uint16_t function = LoadLE16(r + 4);
      const uint64_t params = words - 3;
      bool window = true;
      if (function == kSetMapMode && params >= 1) {
        // The system keeps the mode it had for a value that names none.
        const int64_t mode = Param(r, 0);
        if (mode >= kTextMode && mode <= kAnisotropic) w.mode = static_cast<int>(mode);
      } else if (function == kSetWindowOrg && params >= 2) {
        w.orgY = Param(r, 0);
        w.orgX = Param(r, 1);
      } else if (function == kSetWindowExt && params >= 2) {
        w.extY = Param(r, 0);
        w.extX = Param(r, 1);
      } else if (function == kOffsetWindowOrg && params >= 2) {
        w.orgY += Param(r, 0);
        w.orgX += Param(r, 1);
      } else if (function == kScaleWindowExt && params >= 4) {
        // y denominator, y numerator, x denominator, x numerator
        if (Param(r, 0) != 0) w.extY = w.extY * Param(r, 1) / Param(r, 0);
        if (Param(r, 2) != 0) w.extX = w.extX * Param(r, 3) / Param(r, 2);
        // Repeated scaling stays far inside 64 bits; such a window cannot
        // be stated anyway.
        w.extX = std::clamp<int64_t>(w.extX, -kHugeExtent, kHugeExtent);
        w.extY = std::clamp<int64_t>(w.extY, -kHugeExtent, kHugeExtent);
      } else {
        window = false;
        if (function == kSaveDC) {
          if (saved.size() < 4096) saved.push_back(w);
        } else if (function == kRestoreDC && params >= 1 && !saved.empty()) {
          // Negative: that many steps back; positive: the state saved as that number.
          const int64_t n = Param(r, 0);
          const uint64_t keep = n < 0 ? (uint64_t(-n) >= saved.size() ? 0 : saved.size() - uint64_t(-n))
                                      : (n >= 1 && uint64_t(n) <= saved.size() ? uint64_t(n) - 1 : saved.size());
          if (keep < saved.size()) {
            w = saved[keep];
            saved.resize(keep);
          }
        }
      }
      if (window) {
        if (!emit()) return false;
      } else {
        out.insert(out.end(), r, r + 2 * words);
        if (words > largest) largest = words;
        // The library restores its own copy of the window; it is stated
        // again so the two can never differ.
        if (function == kRestoreDC && !emit()) return false;
      }
      at += 2 * words;
      if (function == 0) break;
    }
    // The metafile header's size in words and its largest record.
    const uint64_t totalWords = (out.size() - 22) / 2;
    if (totalWords > UINT32_MAX) return false;
    for (int i = 0; i < 4; ++i) {
      out[22 + 6 + i] = static_cast<uint8_t>(totalWords >> (8 * i));
      out[22 + 12 + i] = static_cast<uint8_t>(largest >> (8 * i));
    }
  } catch (const std::bad_alloc&) {
    return false;
  }
  bytes->swap(out);
  return true;
}
