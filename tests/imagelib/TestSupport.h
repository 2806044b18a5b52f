// Helpers shared by the image library tests: scratch folders, running the
// peer programs, reading files, and building small pictures.
#pragma once
#include "tests/needed_programs.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "imagelib/PxImage.h"
#include "platform/text.h"

namespace pxtest {

// A fresh folder removed at the end of the test.
class ScratchDir {
 public:
  ScratchDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "pwimg-XXXXXX").string();
    char* made = mkdtemp(tmpl.data());
    path_ = made ? made : "";
  }
  ~ScratchDir() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

inline int Run(const std::string& command) {
  if (!pwtest::CheckProgramOf(command)) return 127;
  return std::system((command + " >/dev/null 2>&1").c_str());
}

inline std::string Capture(const std::string& command) {
  std::string out;
  FILE* p = popen(command.c_str(), "r");
  if (!p) return out;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  pclose(p);
  return out;
}

inline std::vector<uint8_t> ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

inline void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline std::wstring Wide(const std::string& s) { return std::wstring(s.begin(), s.end()); }

// The colour of a pixel as one number, whatever the depth: palette entry for
// palette images (so tests compare what is seen, not index choices).
inline uint32_t Rgb(const PxImage& img, int x, int y) {
  RGBQUAD c = img.PixelColorAt(x, y, false);
  return (uint32_t(c.rgbRed) << 16) | (uint32_t(c.rgbGreen) << 8) | c.rgbBlue;
}

// A picture whose every pixel differs from its mirror images: for palette
// depths the index is a hash of (x, y) limited to the palette; for 24 bits
// the colour encodes x and y.
inline uint32_t PatternValue(uint32_t bpp, int x, int y) {
  uint32_t h = uint32_t(x) * 7919u + uint32_t(y) * 104729u + uint32_t(x * y) * 31u;
  h ^= h >> 7;
  switch (bpp) {
    case 1: return h & 1;
    case 4: return h & 15;
    case 8: return h & 255;
    default: return ((uint32_t(x) & 255) << 16) | ((uint32_t(y) & 255) << 8) | (h & 255);
  }
}

inline void FillPattern(PxImage& img) {
  const uint32_t bpp = img.Bpp();
  if (bpp != 24) {
    // A palette whose entries are all distinct, so colours identify indices.
    for (uint32_t i = 0; i < img.PaletteSize(); ++i) {
      img.StorePaletteEntry(uint8_t(i), uint8_t(i), uint8_t(255 - i), uint8_t(i * 3));
    }
  }
  for (int y = 0; y < int(img.Height()); ++y) {
    for (int x = 0; x < int(img.Width()); ++x) {
      uint32_t v = PatternValue(bpp, x, y);
      if (bpp == 24) img.StorePixelColor(x, y, RGBQUAD{uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), 0});
      else img.StorePixelIndex(x, y, uint8_t(v));
    }
  }
}

}  // namespace pxtest
