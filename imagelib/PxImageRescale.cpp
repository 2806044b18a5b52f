// Resampling to a new size: nearest pixel, bicubic B-spline, area averaging
// for 24-bit shrinks, and bilinear otherwise.
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "imagelib/PxImage.h"
#include "imagelib/TransformSupport.h"

// Cubic B-spline kernel.
float CubicBSpline(float x) {
  if (x > 2.0f) return 0.0f;
  auto p = [](float t) { return t > 0.0f ? t * t * t : 0.0f; };
  return (p(x + 2.0f) - 4.0f * p(x + 1.0f) + 6.0f * p(x) - 4.0f * p(x - 1.0f)) * 0.16666667f;
}

namespace {

uint8_t ToByte(float v) {
  if (!(v > 0.0f)) return 0;
  if (v >= 255.0f) return 255;
  return static_cast<uint8_t>(v);
}

int32_t ClampInt(int64_t v, int32_t lo, int32_t hi) { return static_cast<int32_t>(v < lo ? lo : v > hi ? hi : v); }

// Stores a colour into the destination: the bytes of a true-colour row, or the
// nearest palette index of a palette image.
void Put(PxImage& to, int32_t x, int32_t y, RGBQUAD c) {
  if (to.PaletteSize() > 0) {
    to.StorePixelIndexUnchecked(x, y, to.NearestPaletteIndex(c));
  } else {
    uint8_t* px = to.RowAt(static_cast<uint32_t>(y)) + 3 * size_t(x);
    px[0] = c.rgbBlue;
    px[1] = c.rgbGreen;
    px[2] = c.rgbRed;
  }
}

// One destination column or row of an area-averaging shrink: the (at most
// two) destination cells a source pixel falls into, with weights in thousandths.
struct Footprint {
  int32_t first;
  int32_t weightFirst;
  int32_t weightSecond;  // goes to first + 1
};

std::vector<Footprint> Footprints(uint32_t sourceLength, uint32_t targetLength, float scale) {
  std::vector<Footprint> out(sourceLength);
  for (uint32_t i = 0; i < sourceLength; ++i) {
    const double start = i / static_cast<double>(scale);
    const double end = (i + 1) / static_cast<double>(scale);
    int32_t first = static_cast<int32_t>(std::floor(start));
    if (first >= static_cast<int32_t>(targetLength)) first = static_cast<int32_t>(targetLength) - 1;
    int32_t w = 1000;
    if (end > first + 1 && first + 1 < static_cast<int32_t>(targetLength)) {
      w = static_cast<int32_t>(((first + 1) - start) * scale * 1000.0 + 0.5);
      if (w > 1000) w = 1000;
      if (w < 0) w = 0;
    }
    out[i] = Footprint{first, w, 1000 - w};
  }
  return out;
}

}  // namespace

bool PxImage::Rescale(uint32_t newWidth, uint32_t newHeight, int mode) {
  if (newWidth == 0 || newHeight == 0) return false;
  if (newWidth == Width() && newHeight == Height()) return true;
  if (!dib) return false;
  const float sx = static_cast<float>(Width()) / static_cast<float>(newWidth);
  const float sy = static_cast<float>(Height()) / static_cast<float>(newHeight);
  PxImage temp;
  if (!StartTemporary(temp, *this, newWidth, newHeight, Bpp())) {
    SetLastError(temp.LastError());
    return false;
  }
  CopyPaletteInto(temp, *this);
  if (!RescaleInto(temp, sx, sy, mode)) return false;

  if (alpha) {
    if (mode == 1) {
      if (temp.CreateAlphaPlane()) {
        for (uint32_t y = 0; y < newHeight; ++y) {
          const int32_t syy = static_cast<int32_t>(static_cast<float>(y) * sy);
          for (uint32_t x = 0; x < newWidth; ++x) {
            const int32_t sxx = static_cast<int32_t>(static_cast<float>(x) * sx);
            const bool inside = sxx >= 0 && syy >= 0 && uint32_t(sxx) < Width() && uint32_t(syy) < Height();
            temp.alpha[size_t{y} * newWidth + x] = inside ? alpha[size_t(syy) * Width() + size_t(sxx)] : 0;
          }
        }
      }
    } else {
      PxImage gray;
      if (AlphaToGrayImage(&gray) && gray.Rescale(newWidth, newHeight, mode)) temp.AlphaFromGrayImage(gray);
    }
  }
  std::free(temp.selection);
  temp.selection = nullptr;
  temp.info.progress = info.progress;
  return AdoptFrom(temp, false);
}

bool PxImage::RescaleInto(PxImage& temp, float sx, float sy, int mode) {
  const uint32_t W = Width(), H = Height();
  const uint32_t newW = temp.Width(), newH = temp.Height();
  const bool palette = PaletteSize() > 0;
  auto sample = [&](int32_t x, int32_t y) -> RGBQUAD {
    if (palette) return PixelColorAtUnchecked(x, y);
    const uint8_t* px = RowAt(static_cast<uint32_t>(y)) + 3 * size_t(x);
    return RGBQUAD{px[0], px[1], px[2], 0};
  };

  if (mode == 1) {
    for (uint32_t y = 0; y < newH && info.escape == 0; ++y) {
      info.progress = static_cast<int32_t>(uint64_t{y} * 100 / newH);
      const int32_t syy = static_cast<int32_t>(static_cast<float>(y) * sy);
      for (uint32_t x = 0; x < newW; ++x) {
        const int32_t sxx = static_cast<int32_t>(static_cast<float>(x) * sx);
        Put(temp, static_cast<int32_t>(x), static_cast<int32_t>(y), PixelColorAt(sxx, syy, true));
      }
    }
    return true;
  }

  if (mode == 2) {
    for (uint32_t y = 0; y < newH && info.escape == 0; ++y) {
      info.progress = static_cast<int32_t>(uint64_t{y} * 100 / newH);
      const float fy = static_cast<float>(y) * sy - 0.5f;
      const float iy = std::floor(fy);
      const float dy = fy - iy;
      for (uint32_t x = 0; x < newW; ++x) {
        const float fx = static_cast<float>(x) * sx - 0.5f;
        const float ix = std::floor(fx);
        const float dx = fx - ix;
        float r = 0, g = 0, b = 0;
        for (int n = -1; n <= 2; ++n) {
          const float wy = CubicBSpline(static_cast<float>(n) - dy);
          const int32_t yy = ClampInt(static_cast<int64_t>(iy) + n, 0, static_cast<int32_t>(H) - 1);
          for (int m = -1; m <= 2; ++m) {
            const float w = wy * CubicBSpline(dx - static_cast<float>(m));
            const int32_t xx = ClampInt(static_cast<int64_t>(ix) + m, 0, static_cast<int32_t>(W) - 1);
            RGBQUAD c = sample(xx, yy);
            r += c.rgbRed * w;
            g += c.rgbGreen * w;
            b += c.rgbBlue * w;
          }
        }
        Put(temp, static_cast<int32_t>(x), static_cast<int32_t>(y), RGBQUAD{ToByte(b), ToByte(g), ToByte(r), 0});
      }
    }
    return true;
  }

  if (newW < W && newH < H && Bpp() == 24) {
    // Area averaging in thousandths: each source pixel adds into the (at most
    // two) destination columns and rows it overlaps. Two rows of sums run
    // along; 64-bit sums keep very large shrinks from overflowing.
    const std::vector<Footprint> cols = Footprints(W, newW, sx);
    const std::vector<Footprint> rows = Footprints(H, newH, sy);
    const int64_t area = static_cast<int64_t>(sx * 1000.0f * sy);
    const int64_t divisor = area > 0 ? area : 1;
    std::vector<int64_t> current(size_t{newW} * 3, 0), next(size_t{newW} * 3, 0);
    int32_t currentRow = 0;
    auto writeRow = [&](int32_t row, std::vector<int64_t>& sums) {
      if (row < 0 || row >= static_cast<int32_t>(newH)) return;
      uint8_t* dst = temp.RowAt(static_cast<uint32_t>(row));
      for (size_t i = 0; i < sums.size(); ++i) {
        int64_t v = sums[i] / divisor;
        dst[i] = static_cast<uint8_t>(v > 255 ? 255 : v);
      }
    };
    for (uint32_t y = 0; y < H && info.escape == 0; ++y) {
      const Footprint& fr = rows[y];
      while (fr.first > currentRow) {
        writeRow(currentRow, current);
        current.swap(next);
        std::fill(next.begin(), next.end(), 0);
        ++currentRow;
        info.progress = static_cast<int32_t>(int64_t{currentRow} * 100 / newH);
      }
      const uint8_t* src = RowAt(y);
      for (uint32_t x = 0; x < W; ++x) {
        const Footprint& fc = cols[x];
        const uint8_t* px = src + 3 * size_t{x};
        const int64_t cells[4][2] = {{fr.weightFirst, fc.weightFirst},
                                     {fr.weightFirst, fc.weightSecond},
                                     {fr.weightSecond, fc.weightFirst},
                                     {fr.weightSecond, fc.weightSecond}};
        for (int k = 0; k < 4; ++k) {
          const int64_t w = cells[k][0] * cells[k][1];
          if (w == 0) continue;
          const int32_t col = fc.first + (k & 1);
          if (col >= static_cast<int32_t>(newW)) continue;
          std::vector<int64_t>& sums = (k < 2) ? current : next;
          int64_t* cell = &sums[size_t(col) * 3];
          for (int c = 0; c < 3; ++c) cell[c] += px[c] * w / 1000;
        }
      }
    }
    writeRow(currentRow, current);
    if (currentRow + 1 < static_cast<int32_t>(newH)) writeRow(currentRow + 1, next);
    return true;
  }

  // Bilinear.
  for (uint32_t y = 0; y < newH && info.escape == 0; ++y) {
    info.progress = static_cast<int32_t>(uint64_t{y} * 100 / newH);
    const float fy = static_cast<float>(y) * sy;
    const int32_t iy = ClampInt(static_cast<int64_t>(fy), 0, static_cast<int32_t>(H) - 1);
    const int32_t iy2 = iy + 1 < static_cast<int32_t>(H) ? iy + 1 : static_cast<int32_t>(H) - 1;
    const float dy = fy - static_cast<float>(iy);
    for (uint32_t x = 0; x < newW; ++x) {
      const float fx = static_cast<float>(x) * sx;
      const int32_t ix = ClampInt(static_cast<int64_t>(fx), 0, static_cast<int32_t>(W) - 1);
      const int32_t ix2 = ix + 1 < static_cast<int32_t>(W) ? ix + 1 : static_cast<int32_t>(W) - 1;
      const float dx = fx - static_cast<float>(ix);
      const RGBQUAD c11 = sample(ix, iy), c12 = sample(ix, iy2), c21 = sample(ix2, iy), c22 = sample(ix2, iy2);
      auto mix = [dx, dy](uint8_t p11, uint8_t p12, uint8_t p21, uint8_t p22) {
        const float a = p11 + (float(p12) - p11) * dy;
        const float b = p21 + (float(p22) - p21) * dy;
        return ToByte(a + (b - a) * dx);
      };
      Put(temp, static_cast<int32_t>(x), static_cast<int32_t>(y),
          RGBQUAD{mix(c11.rgbBlue, c12.rgbBlue, c21.rgbBlue, c22.rgbBlue),
                  mix(c11.rgbGreen, c12.rgbGreen, c21.rgbGreen, c22.rgbGreen),
                  mix(c11.rgbRed, c12.rgbRed, c21.rgbRed, c22.rgbRed), 0});
    }
  }
  return true;
}
