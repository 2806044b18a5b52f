// A scratch folder for raw files written by the tests, and the decoded
// picture's pixels read back from the top-left corner.
#pragma once

#include <stdlib.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "imagelib/PxImage.h"

namespace rawfiles {

struct Scratch {
  Scratch() {
    char tmpl[] = "/tmp/pw_raw_XXXXXX";
    dir = mkdtemp(tmpl);
  }
  ~Scratch() { std::filesystem::remove_all(dir); }
  std::string Write(const std::string& name, const std::vector<uint8_t>& bytes) const {
    std::string path = (dir / name).string();
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    return path;
  }
  std::filesystem::path dir;
};

struct Rgb {
  int r, g, b;
  bool operator==(const Rgb& o) const { return r == o.r && g == o.g && b == o.b; }
};

// Pixel (x, y) counted from the top-left corner.
inline Rgb At(const PxImage& img, uint32_t x, uint32_t y) {
  const uint8_t* p = img.RowAt(img.Height() - 1 - y) + 3 * x;
  return {p[2], p[1], p[0]};
}

}  // namespace rawfiles
