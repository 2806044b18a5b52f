// Helpers shared by the JPEG, GIF and PNG tests: running peer programs,
// reading files, and building EXIF blocks byte by byte.
#pragma once

#include <array>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "imagelib/PxImage.h"

namespace pwtest {

inline std::string RunCapture(const std::string& command) {
  std::string out;
  FILE* p = popen(command.c_str(), "r");
  if (!p) return out;
  std::array<char, 4096> buf;
  size_t n;
  while ((n = fread(buf.data(), 1, buf.size(), p)) > 0) out.append(buf.data(), n);
  pclose(p);
  return out;
}

inline bool Shell(const std::string& command) { return std::system(command.c_str()) == 0; }

inline std::vector<uint8_t> ReadAll(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

inline void WriteAll(const std::filesystem::path& path, const std::vector<uint8_t>& data) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
}

// A fresh folder under the temporary directory, removed with the object.
class TempDir {
 public:
  TempDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "pwtestXXXXXX").string();
    path_ = mkdtemp(tmpl.data());
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// Builds TIFF-structured EXIF data in either byte order.
class TiffBuilder {
 public:
  explicit TiffBuilder(bool bigEndian) : big_(bigEndian) {}
  void Put16(std::vector<uint8_t>& v, uint32_t x) const {
    if (big_) { v.push_back(uint8_t(x >> 8)); v.push_back(uint8_t(x)); }
    else { v.push_back(uint8_t(x)); v.push_back(uint8_t(x >> 8)); }
  }
  void Put32(std::vector<uint8_t>& v, uint32_t x) const {
    if (big_) { Put16(v, x >> 16); Put16(v, x & 0xFFFF); }
    else { Put16(v, x & 0xFFFF); Put16(v, x >> 16); }
  }
  struct Entry { uint16_t tag, type; uint32_t count; std::vector<uint8_t> value; };
  Entry Short(uint16_t tag, uint16_t v) const { std::vector<uint8_t> b; Put16(b, v); return {tag, 3, 1, b}; }
  Entry Long(uint16_t tag, uint32_t v) const { std::vector<uint8_t> b; Put32(b, v); return {tag, 4, 1, b}; }
  Entry Rational(uint16_t tag, uint32_t n, uint32_t d, uint16_t type = 5) const {
    std::vector<uint8_t> b; Put32(b, n); Put32(b, d); return {tag, type, 1, b};
  }
  Entry Ascii(uint16_t tag, const std::string& s, bool nul = true) const {
    std::vector<uint8_t> b(s.begin(), s.end()); if (nul) b.push_back(0);
    return {tag, 2, uint32_t(b.size()), b};
  }
  Entry Undefined(uint16_t tag, const std::vector<uint8_t>& b) const { return {tag, 7, uint32_t(b.size()), b}; }

  // Lays out a directory at `at` (offset from the TIFF start) with its
  // out-of-line values right after it; returns the end offset.
  uint32_t Directory(std::vector<uint8_t>& tiff, uint32_t at, const std::vector<Entry>& entries,
                     uint32_t next) const {
    if (tiff.size() < at) tiff.resize(at, 0);
    std::vector<uint8_t> dir, extra;
    uint32_t extraAt = at + 2 + 12 * uint32_t(entries.size()) + 4;
    Put16(dir, uint32_t(entries.size()));
    for (const Entry& e : entries) {
      Put16(dir, e.tag); Put16(dir, e.type); Put32(dir, e.count);
      if (e.value.size() <= 4) {
        std::vector<uint8_t> v = e.value; v.resize(4, 0);
        dir.insert(dir.end(), v.begin(), v.end());
      } else {
        Put32(dir, extraAt + uint32_t(extra.size()));
        extra.insert(extra.end(), e.value.begin(), e.value.end());
      }
    }
    Put32(dir, next);
    tiff.resize(at);
    tiff.insert(tiff.end(), dir.begin(), dir.end());
    tiff.insert(tiff.end(), extra.begin(), extra.end());
    return uint32_t(tiff.size());
  }
  std::vector<uint8_t> Header(uint32_t firstIfd = 8) const {
    std::vector<uint8_t> h = big_ ? std::vector<uint8_t>{'M', 'M'} : std::vector<uint8_t>{'I', 'I'};
    Put16(h, 42); Put32(h, firstIfd);
    return h;
  }

 private:
  bool big_;
};

// A minimal JPEG stream: SOI, the given segments, SOF0, SOS and EOI. The
// section reader stops at the start of scan, so no real scan data is needed.
struct Segment { uint8_t marker; std::vector<uint8_t> body; };
inline std::vector<uint8_t> JpegWithSegments(const std::vector<Segment>& segments,
                                             uint16_t width = 64, uint16_t height = 48,
                                             uint8_t components = 3) {
  std::vector<uint8_t> out{0xFF, 0xD8};
  auto add = [&](uint8_t marker, const std::vector<uint8_t>& body) {
    out.push_back(0xFF); out.push_back(marker);
    uint32_t len = uint32_t(body.size()) + 2;
    out.push_back(uint8_t(len >> 8)); out.push_back(uint8_t(len));
    out.insert(out.end(), body.begin(), body.end());
  };
  for (const Segment& s : segments) add(s.marker, s.body);
  std::vector<uint8_t> sof{8, uint8_t(height >> 8), uint8_t(height), uint8_t(width >> 8), uint8_t(width), components};
  for (uint8_t c = 1; c <= components; ++c) { sof.push_back(c); sof.push_back(0x11); sof.push_back(0); }
  add(0xC0, sof);
  std::vector<uint8_t> sos{components};
  for (uint8_t c = 1; c <= components; ++c) { sos.push_back(c); sos.push_back(0); }
  sos.push_back(0); sos.push_back(63); sos.push_back(0);
  add(0xDA, sos);
  out.push_back(0xFF); out.push_back(0xD9);
  return out;
}

inline std::vector<uint8_t> App1Exif(const std::vector<uint8_t>& tiff) {
  std::vector<uint8_t> b{'E', 'x', 'i', 'f', 0, 0};
  b.insert(b.end(), tiff.begin(), tiff.end());
  return b;
}

// A binary PNM (P5 or P6) as written by djpeg and ImageMagick.
struct Pnm {
  int width = 0, height = 0, channels = 0;
  std::vector<uint8_t> data;  // top row first
};
inline Pnm ParsePnm(const std::vector<uint8_t>& bytes) {
  Pnm p;
  size_t pos = 0;
  auto token = [&]() {
    std::string t;
    while (pos < bytes.size()) {
      char c = char(bytes[pos]);
      if (c == '#') { while (pos < bytes.size() && bytes[pos] != '\n') ++pos; continue; }
      if (isspace(static_cast<unsigned char>(c))) { ++pos; if (!t.empty()) break; continue; }
      t += c; ++pos;
    }
    return t;
  };
  std::string magic = token();
  if (magic != "P5" && magic != "P6") return p;
  p.channels = magic == "P5" ? 1 : 3;
  p.width = std::stoi(token());
  p.height = std::stoi(token());
  token();  // maximum value, 255
  p.data.assign(bytes.begin() + long(pos), bytes.end());
  return p;
}

// Runs a command that writes one file to stdout and returns its bytes.
inline std::vector<uint8_t> RunBytes(const std::string& command) {
  std::string s = RunCapture(command);
  return std::vector<uint8_t>(s.begin(), s.end());
}

// The picture's colours, top row first, red-green-blue per pixel.
inline std::vector<uint8_t> TopDownRgb(const PxImage& image) {
  std::vector<uint8_t> out;
  const int32_t w = int32_t(image.Width()), h = int32_t(image.Height());
  out.reserve(size_t(w) * size_t(h) * 3);
  for (int32_t r = 0; r < h; ++r)
    for (int32_t x = 0; x < w; ++x) {
      RGBQUAD c = image.PixelColorAt(x, h - 1 - r, false);
      out.push_back(c.rgbRed); out.push_back(c.rgbGreen); out.push_back(c.rgbBlue);
    }
  return out;
}

inline std::vector<uint8_t> TopDownGrey(const PxImage& image) {
  std::vector<uint8_t> rgb = TopDownRgb(image), out;
  for (size_t i = 0; i < rgb.size(); i += 3) out.push_back(rgb[i]);
  return out;
}

// Index of the first differing byte, or -1.
inline long FirstDifference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  if (a.size() != b.size()) return 0;
  for (size_t i = 0; i < a.size(); ++i) if (a[i] != b[i]) return long(i);
  return -1;
}

inline std::wstring Wide(const std::filesystem::path& p) {
  std::string s = p.string();
  return std::wstring(s.begin(), s.end());
}

}  // namespace pwtest
