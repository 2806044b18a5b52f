// The two resampling copies of the display engine: nearest-neighbour, row
// by row, with the source position of every destination column worked out
// once per call.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "raster/ImageRenderer.h"

namespace pw {
namespace {

// Source index of each destination step i in [from, to): origin + trunc(i /
// (destination extent / source extent)), the rule both copies share.
std::vector<int> SourceSteps(int from, int to, double destExtent, double srcExtent, int origin) {
  std::vector<int> steps(size_t(std::max(0, to - from)));
  const double ratio = destExtent / srcExtent;
  for (int i = from; i < to; ++i) steps[size_t(i - from)] = origin + int(i / ratio);
  return steps;
}

// The nearest-neighbour geometry of ScaleBlitBands and ScaleBlitSamples:
// source rectangle (0, 0, sw, sh) of a w0 x h0 image onto destination
// rectangle (dx0, dy0)-(dx1, dy1) of a dw x dh buffer, visiting only the
// destination pixels inside the buffer whose source pixel is inside the
// image. `copy(sourcePixel, destPixel)` gets both as pixel indices.
template <class CopyPixel>
void ForEachScaledPixel(int w0, int h0, int sw, int sh, int dw, int dh, int dx0, int dy0,
                        int dx1, int dy1, CopyPixel copy) {
  if (sw == 0 || sh == 0 || dx1 == dx0 || dy1 == dy0) return;
  const int i0 = std::max(0, -dy0), i1 = std::min(dy1 - dy0, dh - dy0);
  const int j0 = std::max(0, -dx0), j1 = std::min(dx1 - dx0, dw - dx0);
  if (i1 <= i0 || j1 <= j0) return;
  const int rows = std::min(sh, h0), cols = std::min(sw, w0);
  const std::vector<int> colOf = SourceSteps(j0, j1, dx1 - dx0, sw, 0);
  for (int i = i0; i < i1; ++i) {
    const int r = int(i / (double(dy1 - dy0) / sh));
    if (r < 0 || r >= rows) continue;
    const size_t srow = size_t(r) * w0;
    const size_t drow = (size_t(dy0) + i) * dw + size_t(dx0);
    for (int j = j0; j < j1; ++j) {
      const int c = colOf[size_t(j - j0)];
      if (c < 0 || c >= cols) continue;
      copy(srow + size_t(c), drow + size_t(j));
    }
  }
}

}  // namespace

int ScaleBlitRgb(const uint8_t* src, int w0, int h0, int sx0, int sy0, int sx1, int sy1,
                 uint8_t* dst, int dw, int dh, int dx0, int dy0, int dx1, int dy1) {
  if (!src || !dst || sx1 < sx0 || sy1 < sy0 || dx1 < dx0 || dy1 < dy0) return -1;
  std::vector<uint8_t> aside;
  if (src == dst) {
    aside.assign(src, src + size_t(w0) * h0 * 3);
    src = aside.data();
    std::memset(dst, kBackground, size_t(dw) * dh * 3);
  }
  if (sx1 == sx0 || sy1 == sy0 || dx1 == dx0 || dy1 == dy0) return 0;

  // Only the destination rows and columns inside the buffer are visited.
  const int i0 = std::max(0, -dy0), i1 = std::min(dy1 - dy0, dh - dy0);
  const int j0 = std::max(0, -dx0), j1 = std::min(dx1 - dx0, dw - dx0);
  if (i1 <= i0 || j1 <= j0) return 0;
  const std::vector<int> cols = SourceSteps(j0, j1, dx1 - dx0, sx1 - sx0, sx0);
  for (int i = i0; i < i1; ++i) {
    const int r = sy0 + int(i / (double(dy1 - dy0) / (sy1 - sy0)));
    if (r < sy0 || r >= sy1 || r < 0 || r >= h0) continue;
    const uint8_t* srow = src + size_t(r) * w0 * 3;
    uint8_t* drow = dst + (size_t(dy0) + i) * dw * 3;
    for (int j = j0; j < j1; ++j) {
      const int c = cols[size_t(j - j0)];
      if (c < sx0 || c >= sx1 || c < 0 || c >= w0) continue;
      std::memcpy(drow + (size_t(dx0) + j) * 3, srow + size_t(c) * 3, 3);
    }
  }
  return 0;
}

int ImageRenderer::ScaleBlitBands(const uint8_t* src, int w0, int h0, int samplesPerPixel,
                                  int sw, int sh, uint8_t* dst, int dw, int dh, int dx0, int dy0,
                                  int dx1, int dy1) {
  if (!src || !dst || sw < 0 || sh < 0 || dx1 < dx0 || dy1 < dy0 || samplesPerPixel < 1)
    return -1;
  std::vector<uint8_t> aside;
  if (src == dst) {
    aside.assign(src, src + size_t(w0) * h0 * samplesPerPixel * displayBytes_);
    src = aside.data();
    std::memset(dst, kBackground, size_t(dw) * dh * 3);
  }
  // Two bands have no colour mapping (nor have 16-bit samples without
  // their table); palette indices go through their colour table.
  const bool grey = ShownBands() == 1;
  const bool rgb = !Paletted() && bandCount_ >= 3 && samplesPerPixel >= 3;
  const bool bytes = displayBytes_ == 1;
  const bool words = displayBytes_ == 2 &&
                     (Paletted() || stretchTable_.size() >= size_t(bandCount_) * 65536);
  const bool floats = displayBytes_ == 4;
  if (!(grey || rgb) || !(bytes || words || floats)) return 0;
  const size_t pixelBytes = size_t(samplesPerPixel) * displayBytes_;
  ForEachScaledPixel(w0, h0, sw, sh, dw, dh, dx0, dy0, dx1, dy1, [&](size_t from, size_t to) {
    PixelToBgr(src + from * pixelBytes, rgb, dst + to * 3);
  });
  return 0;
}

void ImageRenderer::PixelToBgr(const uint8_t* px, bool rgb, uint8_t* out) const {
  uint8_t red, green, blue;
  if (!palette_.empty()) {
    uint16_t index = px[0];
    if (displayBytes_ == 2) std::memcpy(&index, px, 2);
    const uint8_t* c = &palette_[size_t(index) * 3];
    red = c[0];
    green = c[1];
    blue = c[2];
  } else if (displayBytes_ == 1) {
    red = px[0];
    green = rgb ? px[1] : px[0];
    blue = rgb ? px[2] : px[0];
  } else if (displayBytes_ == 4) {
    // Linear stretch of one float sample to a byte; what is no number is black.
    auto stretch = [this](float v, int b) -> uint8_t {
      if (!std::isfinite(v)) return 0;
      const double t = (double(v) - bandLow_[b]) * bandScale_[b];
      return uint8_t(t <= 0 ? 0 : (t >= 255 ? 255 : t + 0.5));
    };
    float v[3];
    std::memcpy(v, px, rgb ? 12 : 4);
    red = stretch(v[0], 0);
    green = rgb ? stretch(v[1], 1) : red;
    blue = rgb ? stretch(v[2], 2) : red;
  } else {
    const uint8_t* table = stretchTable_.data();
    uint16_t v[3];
    std::memcpy(v, px, rgb ? 6 : 2);
    red = table[v[0]];
    green = rgb ? table[65536 + v[1]] : red;
    blue = rgb ? table[2 * 65536 + v[2]] : red;
  }
  out[0] = blue;
  out[1] = green;
  out[2] = red;
}

int ScaleBlitSamples(const uint8_t* src, int w0, int h0, size_t pixelBytes, int sw, int sh,
                     uint8_t* dst, int dw, int dh, int dx0, int dy0, int dx1, int dy1) {
  if (!src || !dst || sw < 0 || sh < 0 || dx1 < dx0 || dy1 < dy0 || pixelBytes < 1) return -1;
  // The geometry of ScaleBlitBands, sample for sample.
  ForEachScaledPixel(w0, h0, sw, sh, dw, dh, dx0, dy0, dx1, dy1, [&](size_t from, size_t to) {
    std::memcpy(dst + to * pixelBytes, src + from * pixelBytes, pixelBytes);
  });
  return 0;
}

}  // namespace pw
