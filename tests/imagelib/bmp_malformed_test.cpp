// Malformed BMP files: every one ends in a clean result (a failure with a
// text, or a picture bounded by its own size), never a read or write out of
// bounds or a hang. Run under AddressSanitizer in CI.
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <random>

#include "TestSupport.h"
#include "imagelib/PxImage.h"
#include "platform/byteorder.h"

namespace {

std::vector<uint8_t> Encoded(uint32_t w, uint32_t h, uint32_t bpp) {
  PxImage img(w, h, bpp, 0);
  pxtest::FillPattern(img);
  PxMemFile mem;
  mem.Open();
  img.Encode(&mem, kFormatBmp);
  return std::vector<uint8_t>(mem.Buffer(), mem.Buffer() + mem.DataSize());
}

// 8-bit RLE file of w x h whose compressed data is given.
std::vector<uint8_t> Rle(uint32_t compression, uint16_t bpp, int32_t w, int32_t h, std::vector<uint8_t> data) {
  const uint32_t paletteBytes = 4u << bpp;
  std::vector<uint8_t> f(14 + 40 + paletteBytes, 0);
  f[0] = 'B';
  f[1] = 'M';
  pw::StoreLE32(&f[10], uint32_t(f.size()));
  pw::StoreLE32(&f[14], 40);
  pw::StoreLE32(&f[18], uint32_t(w));
  pw::StoreLE32(&f[22], uint32_t(h));
  pw::StoreLE16(&f[26], 1);
  pw::StoreLE16(&f[28], bpp);
  pw::StoreLE32(&f[30], compression);
  f.insert(f.end(), data.begin(), data.end());
  return f;
}

struct Outcome {
  bool ok;
  std::string text;
  bool damaged;
};

Outcome DecodeBytes(std::vector<uint8_t> bytes) {
  // Exactly the bytes given, in a buffer of their own size, so ASan sees
  // every read past the end.
  std::unique_ptr<uint8_t[]> exact(new uint8_t[bytes.size() ? bytes.size() : 1]);
  if (!bytes.empty()) std::memcpy(exact.get(), bytes.data(), bytes.size());
  PxMemFile file(exact.get(), int32_t(bytes.size()));
  PxImage img;
  bool ok = img.Decode(&file, kFormatBmp);
  if (ok && img.ImageBytes() < (size_t{1} << 22)) {
    // Touch every pixel: the picture must be as large as it says.
    uint64_t sum = 0;
    for (size_t i = 0; i < img.ImageBytes(); ++i) sum += img.info.pixels[i];
    if (img.alpha) for (size_t i = 0; i < size_t{img.Width()} * img.Height(); ++i) sum += img.alpha[i];
    (void)sum;
  }
  return Outcome{ok, img.LastError(), img.IsDamaged()};
}

struct Mutation {
  const char* name;
  std::vector<uint8_t> (*make)();
  bool ok;
  // Expected text; null: any non-empty text when failing. A decode that
  // succeeds with a text is a damaged one.
  const char* text;
};

std::vector<uint8_t> Truncated(size_t keep, uint32_t bpp = 8) {
  std::vector<uint8_t> f = Encoded(7, 5, bpp);
  f.resize(keep);
  return f;
}

std::vector<uint8_t> With32(std::vector<uint8_t> f, size_t at, uint32_t v) {
  pw::StoreLE32(&f[at], v);
  return f;
}
std::vector<uint8_t> With16(std::vector<uint8_t> f, size_t at, uint16_t v) {
  pw::StoreLE16(&f[at], v);
  return f;
}

const Mutation kMutations[] = {
    {"empty file", [] { return std::vector<uint8_t>{}; }, false, "Not a BMP"},
    {"file header cut", [] { return Truncated(10); }, false, "Not a BMP"},
    {"info header cut", [] { return Truncated(30); }, false, "Error reading BMP info"},
    {"palette cut", [] { return Truncated(54 + 500); }, false, "Error reading BMP info"},
    {"pixels cut", [] { return Truncated(54 + 1024 + 20); }, false, "Error reading BMP info"},
    {"24-bit pixels cut", [] { return Truncated(54 + 30, 24); }, false, "Error reading BMP info"},
    {"one byte missing", [] { auto f = Encoded(7, 5, 24); f.pop_back(); return f; }, false, "Error reading BMP info"},
    {"colours used beyond the palette", [] { return With32(Encoded(7, 5, 8), 46, 300); }, true, ""},
    {"colours used huge", [] { return With32(Encoded(7, 5, 8), 46, 0xFFFFFFFFu); }, false, "Error reading BMP info"},
    {"colours used 1 on 4 bits", [] { return With32(Encoded(7, 5, 4), 46, 1); }, true, ""},
    {"huge dimensions", [] { return With32(With32(Encoded(7, 5, 24), 18, 100000), 22, 100000); }, false,
     "PXIMAGE_MAX_MEMORY exceeded"},
    {"width just over the limit", [] { return With32(Encoded(7, 5, 8), 18, 0x10000000); }, false,
     "PXIMAGE_MAX_MEMORY exceeded"},
    {"negative width", [] { return With32(Encoded(7, 5, 24), 18, uint32_t(-7)); }, false,
     "PXIMAGE_MAX_MEMORY exceeded"},
    {"zero width", [] { return With32(Encoded(7, 5, 24), 18, 0); }, false,
     "PxImage::Create : width and height must be greater than zero"},
    {"most negative height", [] { return With32(Encoded(7, 5, 24), 22, 0x80000000u); }, false,
     "PXIMAGE_MAX_MEMORY exceeded"},
    {"header size 0", [] { return With32(Encoded(7, 5, 24), 14, 0); }, false, "Error reading BMP info"},
    {"header size 39", [] { return With32(Encoded(7, 5, 24), 14, 39); }, false, "Error reading BMP info"},
    {"header size huge", [] { return With32(With32(Encoded(7, 5, 24), 14, 0xFFFFFF00u), 46, 0); }, false, nullptr},
    {"pixel offset beyond the end", [] { return With32(Encoded(7, 5, 24), 10, 100000); }, false,
     "Error reading BMP info"},
    {"pixel offset huge", [] { return With32(Encoded(7, 5, 24), 10, 0xFFFFFFF0u); }, false,
     "Error reading BMP info"},
    {"bit count 0", [] { return With16(Encoded(7, 5, 24), 28, 0); }, false, "BMP: unsupported bit depth 0"},
    {"bit count 64", [] { return With16(Encoded(7, 5, 24), 28, 64); }, false, "BMP: unsupported bit depth 64"},
    {"bit count 0 with embedded PNG", [] { return With32(With16(Encoded(7, 5, 24), 28, 0), 30, 5); }, false,
     "BMP: embedded PNG data is not supported"},
    {"8 bits with bit fields", [] { return With32(Encoded(7, 5, 8), 30, 3); }, false, "compression type not supported"},
    {"24 bits with RLE", [] { return With32(Encoded(7, 5, 24), 30, 1); }, false, "unknown compression"},
    {"32 bits compression 5", [] {
       auto f = With16(Encoded(7, 5, 24), 28, 32);
       return With32(f, 30, 5);
     }, false, "unknown compression"},
    // Nothing is allocated beyond the picture itself for pixels the file
    // cannot hold (the 32-bit scratch block would be 324 MB here).
    {"32 bits, 9000 x 9000 in a 54-byte file", [] {
       auto f = With16(Encoded(1, 1, 24), 28, 32);
       f = With32(With32(f, 18, 9000), 22, 9000);
       f.resize(54);
       return f;
     }, false, "Error reading BMP info"},
    {"16-bit masks cut", [] {
       auto f = Encoded(1, 1, 24);
       f = With16(f, 28, 16);
       f = With32(f, 30, 3);
       f.resize(58);
       return f;
     }, false, "Error reading BMP info"},
    {"RLE8 run past the row and image", [] {
       return Rle(1, 8, 4, 2, {255, 7, 255, 7, 255, 7, 0, 0, 255, 9, 0, 0, 0, 0, 255, 1, 0, 1});
     }, true, ""},
    // A stream that ends before its end-of-bitmap code leaves rows missing.
    {"RLE8 delta far outside", [] { return Rle(1, 8, 4, 2, {0, 2, 255, 255, 3, 5, 0, 2, 0, 255, 2, 5}); }, true,
     "RLE data ends early"},
    {"RLE8 absolute run too long and cut", [] { return Rle(1, 8, 4, 2, {0, 200, 1, 2, 3}); }, true,
     "RLE data ends early"},
    {"RLE8 no end code", [] { return Rle(1, 8, 4, 2, {2, 9}); }, true, "RLE data ends early"},
    {"RLE8 cut inside a delta", [] { return Rle(1, 8, 4, 2, {2, 9, 0, 2, 1}); }, true, "RLE data ends early"},
    {"RLE8 end code after the last row", [] { return Rle(1, 8, 4, 2, {4, 9, 0, 0, 4, 8, 0, 0, 0, 1}); }, true, ""},
    {"RLE4 run past the row", [] { return Rle(2, 4, 3, 2, {255, 0x12, 0, 0, 255, 0x34, 0, 1}); }, true, ""},
    {"RLE4 absolute run too long", [] { return Rle(2, 4, 3, 2, {0, 255, 1, 2, 3, 4}); }, true, "RLE data ends early"},
    {"RLE4 delta far outside", [] { return Rle(2, 4, 3, 2, {0, 2, 255, 255, 5, 0x11}); }, true,
     "RLE data ends early"},
    {"RLE4 no end code", [] { return Rle(2, 4, 3, 2, {3, 0x12, 0, 0}); }, true, "RLE data ends early"},
    {"RLE8 in a 4-bit picture", [] { return Rle(1, 4, 5, 2, {255, 3, 0, 0, 0, 9, 1, 2, 3, 4, 5, 6, 7, 8, 9, 0}); }, true,
     "RLE data ends early"},
    {"RLE4 in an 8-bit picture", [] { return Rle(2, 8, 5, 2, {255, 0x12, 0, 0, 0, 9, 1, 2, 3, 4, 5}); }, true,
     "RLE data ends early"},
};

TEST(BmpMalformed, EachCaseEndsCleanly) {
  for (const Mutation& m : kMutations) {
    Outcome o = DecodeBytes(m.make());
    EXPECT_EQ(o.ok, m.ok) << m.name << ": " << o.text;
    if (!m.ok) {
      if (m.text) EXPECT_EQ(o.text, m.text) << m.name;
      else EXPECT_FALSE(o.text.empty()) << m.name;
    } else {
      EXPECT_EQ(o.damaged, *m.text != '\0') << m.name;
      if (*m.text) {
        EXPECT_EQ(o.text, m.text) << m.name;
      }
    }
  }
}

// The oversized "colours used" is stepped over: the pixels still come from
// where the file header says.
TEST(BmpMalformed, ColoursUsedBeyondThePaletteKeepsThePicture) {
  std::vector<uint8_t> good = Encoded(7, 5, 8);
  std::vector<uint8_t> bad = With32(good, 46, 300);
  PxMemFile a(good.data(), int32_t(good.size())), b(bad.data(), int32_t(bad.size()));
  PxImage x, y;
  ASSERT_TRUE(x.Decode(&a, kFormatBmp));
  ASSERT_TRUE(y.Decode(&b, kFormatBmp));
  EXPECT_EQ(std::memcmp(x.dib + 40, y.dib + 40, 1024 + x.ImageBytes()), 0);
}

// Headers of 52 and 56 bytes hold their masks inside the header; the pixel
// data right after the header is pixels, not masks.
TEST(BmpMalformed, MasksOfShortV3HeadersComeFromTheHeader) {
  for (uint32_t size : {52u, 56u}) {
    std::vector<uint8_t> f(14 + size, 0);
    f[0] = 'B';
    f[1] = 'M';
    pw::StoreLE32(&f[10], 14 + size);
    pw::StoreLE32(&f[14], size);
    pw::StoreLE32(&f[18], 2);
    pw::StoreLE32(&f[22], 1);
    pw::StoreLE16(&f[26], 1);
    pw::StoreLE16(&f[28], 16);
    pw::StoreLE32(&f[30], 3);
    pw::StoreLE32(&f[54], 0xF800);
    pw::StoreLE32(&f[58], 0x07E0);
    pw::StoreLE32(&f[62], 0x001F);
    for (uint16_t v : {uint16_t(0x001F), uint16_t(0x07E0)}) {
      f.push_back(uint8_t(v));
      f.push_back(uint8_t(v >> 8));
    }
    // With the offset unset (a bare reading), position alone must be right.
    pw::StoreLE32(&f[10], 0);
    PxMemFile file(f.data(), int32_t(f.size()));
    PxImage img;
    ASSERT_TRUE(img.Decode(&file, kFormatBmp)) << size << " " << img.LastError();
    EXPECT_EQ(pxtest::Rgb(img, 0, 0), 0x0000FFu) << size;
    EXPECT_EQ(pxtest::Rgb(img, 1, 0), 0x00FF00u) << size;
  }
}

// A bit count the reader has no pixels for is refused, never read as a flat
// picture: ImageMagick writes the file, one header byte is changed, and
// Pillow (which refuses each of them too) is asked as a witness. The size the
// header claims is not allocated either.
TEST(BmpMalformed, UnreadableBitCountsAreRefused) {
  pxtest::ScratchDir dir;
  const std::string good = dir.File("good.bmp");
  ASSERT_EQ(pxtest::Run("convert-im6.q16 -size 31x7 gradient:red-blue -type TrueColor bmp3:'" + good + "'"), 0);
  const std::vector<uint8_t> base = pxtest::ReadBytes(good);
  ASSERT_EQ(base.size(), 54u + 96 * 7);
  ASSERT_EQ(pw::LoadLE16(&base[28]), 24);
  const uint16_t counts[] = {0, 3, 5, 7, 12, 20, 33, 48, 64, 154, 255};
  std::string names;
  for (uint16_t count : counts) {
    const std::string path = dir.File("depth" + std::to_string(count) + ".bmp");
    pxtest::WriteBytes(path, With16(base, 28, count));
    names += " '" + path + "'";
  }
  const std::string opened = pxtest::Capture(
      "/usr/bin/python3 -c 'import sys\nfrom PIL import Image\nfor n in sys.argv[1:]:\n"
      "  try:\n    Image.open(n).load(); print(n)\n  except Exception: pass' " + names);
  EXPECT_EQ(opened, "") << "Pillow read these";
  for (uint16_t count : counts) {
    SCOPED_TRACE(count);
    const std::string text = "BMP: unsupported bit depth " + std::to_string(count);
    for (ImageFormatId id : {kFormatBmp, kFormatUnknown}) {
      PxImage img;
      EXPECT_FALSE(img.LoadFile(pxtest::Wide(dir.File("depth" + std::to_string(count) + ".bmp")), id));
      EXPECT_EQ(std::string(img.LastError()), text);
      EXPECT_FALSE(img.HasPixels());
    }
  }

  // Six flipped bits of a 126-byte 1 x 1 file: height 257, bit count 154.
  // Bit count 0 and height -16,777,205 in the 726-byte 31 x 7 file. With a
  // bit count the reader knows, the same claims are damage: the file cannot
  // hold those rows (or the picture is beyond the memory limit).
  PxImage one(1, 1, 24, 0);
  PxMemFile mem;
  mem.Open();
  ASSERT_TRUE(one.Encode(&mem, kFormatBmp));
  std::vector<uint8_t> tiny(mem.Buffer(), mem.Buffer() + mem.DataSize());
  tiny.resize(126, 0);
  struct Claim {
    std::vector<uint8_t> bytes;
    int32_t height;
  };
  const Claim claims[] = {{tiny, 257}, {base, -16777205}};
  for (const Claim& c : claims) {
    for (uint16_t count : {uint16_t(154), uint16_t(0), uint16_t(1), uint16_t(4), uint16_t(8), uint16_t(16),
                           uint16_t(24), uint16_t(32)}) {
      SCOPED_TRACE(std::to_string(c.height) + " rows at " + std::to_string(count) + " bits");
      Outcome o = DecodeBytes(With16(With32(c.bytes, 22, uint32_t(c.height)), 28, count));
      EXPECT_FALSE(o.ok);
      if (count == 154 || count == 0) EXPECT_EQ(o.text, "BMP: unsupported bit depth " + std::to_string(count));
      else EXPECT_TRUE(o.text == "Error reading BMP info" || o.text == "PXIMAGE_MAX_MEMORY exceeded") << o.text;
    }
  }
}

// Random damage to good files of every depth and encoding: whatever happens
// must stay inside the buffers (checked by the sanitizer build).
TEST(BmpMalformed, RandomDamageStaysInBounds) {
  std::vector<std::vector<uint8_t>> bases = {
      Encoded(9, 6, 1), Encoded(9, 6, 4), Encoded(9, 6, 8), Encoded(9, 6, 24),
      Rle(1, 8, 6, 4, {3, 1, 0, 3, 4, 5, 6, 0, 0, 0, 2, 1, 1, 2, 7, 0, 1}),
      Rle(2, 4, 6, 4, {3, 0x12, 0, 5, 0x45, 0x67, 0x80, 0, 0, 0, 0, 2, 1, 1, 2, 0x77, 0, 1}),
  };
  std::mt19937 rng(12345);
  for (const auto& base : bases) {
    for (int round = 0; round < 200; ++round) {
      std::vector<uint8_t> f = base;
      const int flips = 1 + int(rng() % 4);
      for (int k = 0; k < flips; ++k) f[rng() % f.size()] = uint8_t(rng());
      if (rng() % 3 == 0) f.resize(rng() % f.size());
      Outcome o = DecodeBytes(f);
      if (!o.ok) {
        EXPECT_FALSE(o.text.empty());
      }
    }
  }
}

// The process's peak of mapped memory, in KiB (VmPeak). A forked child
// starts with its peak at what it maps now, so a child's growth is its own.
long PeakKiB() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmPeak:", 0) == 0) return std::stol(line.substr(7));
  }
  return -1;
}

// A header that claims a picture within the memory limit over a file that
// holds a few bytes is refused before the picture is allocated: a batch run
// over damaged files must not map a quarter of a gigabyte for each one.
TEST(BmpMalformed, AShortFileIsRefusedBeforeItsPictureIsAllocated) {
  // 8000 x 8000 at 32 bits: 244 MiB, under the 256 MiB limit.
  const std::vector<uint8_t> claim = With32(With32(Encoded(7, 5, 32), 18, 8000), 22, 8000);
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    close(fds[0]);
    const long before = PeakKiB();
    const Outcome o = DecodeBytes(claim);
    const std::string report = std::to_string(PeakKiB() - before) + " " + std::to_string(o.ok) + " " + o.text;
    (void)!write(fds[1], report.data(), report.size());
    _exit(0);
  }
  close(fds[1]);
  std::string report;
  char chunk[256];
  for (ssize_t n; (n = read(fds[0], chunk, sizeof chunk)) > 0;) report.append(chunk, size_t(n));
  close(fds[0]);
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status)) << report;
  long grownKiB = -1;
  char ok = '?';
  std::string text;
  std::istringstream in(report);
  in >> grownKiB >> ok;
  std::getline(in >> std::ws, text);
  EXPECT_EQ(ok, '0') << report;
  EXPECT_EQ(text, "Error reading BMP info");
  EXPECT_GE(grownKiB, 0) << report;
  EXPECT_LT(grownKiB, 64 * 1024) << "the decode mapped " << grownKiB << " KiB for a file of " << claim.size()
                                 << " bytes";
}

}  // namespace
