// BMP against ImageMagick 6: files it writes in every common flavour decode
// to exactly the pixels it reads from them, and files we write read back in
// ImageMagick as exactly our pixels.
#include <cstring>

#include "TestSupport.h"
#include "imagelib/PxImage.h"
#include "imagelib/PxImageBMP.h"
#include "imagelib/WidenToByte.h"
#include "platform/byteorder.h"

namespace {

using pxtest::Capture;

using pxtest::ScratchDir;

const char kConvert[] = "convert-im6.q16";

// A 13 x 7 true-colour picture with no symmetry, written as a PPM or (with a
// varying alpha) as a PAM for ImageMagick to start from.
void WriteSource(const std::string& path, bool withAlpha) {
  const int w = 13, h = 7;
  std::string head = withAlpha ? "P7\nWIDTH 13\nHEIGHT 7\nDEPTH 4\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\n"
                               : "P6\n13 7\n255\n";
  std::vector<uint8_t> bytes(head.begin(), head.end());
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      bytes.push_back(uint8_t(x * 19));
      bytes.push_back(uint8_t(y * 37));
      bytes.push_back(uint8_t(x * y * 5 + 11));
      if (withAlpha) bytes.push_back(uint8_t(255 - (x + y) * 9));
    }
  }
  pxtest::WriteBytes(path, bytes);
}

// What ImageMagick sees in a file: top-down rows of RGB or RGBA bytes.
std::vector<uint8_t> PeerPixels(const std::string& path, bool withAlpha) {
  std::string out = Capture(std::string(kConvert) + " '" + path + "' -depth 8 " + (withAlpha ? "rgba:-" : "rgb:-"));
  return std::vector<uint8_t>(out.begin(), out.end());
}

std::vector<uint8_t> OurPixels(const PxImage& img, bool withAlpha) {
  std::vector<uint8_t> out;
  for (int y = int(img.Height()) - 1; y >= 0; --y) {
    for (int x = 0; x < int(img.Width()); ++x) {
      RGBQUAD c = img.PixelColorAt(x, y, true);
      out.push_back(c.rgbRed);
      out.push_back(c.rgbGreen);
      out.push_back(c.rgbBlue);
      if (withAlpha) out.push_back(img.alpha ? img.alpha[size_t(y) * img.Width() + size_t(x)] : 255);
    }
  }
  return out;
}

bool LoadBmp(const std::string& path, PxImage* img) {
  return img->LoadFile(pxtest::Wide(path), kFormatBmp);
}

struct Flavour {
  const char* name;
  const char* options;  // ImageMagick options and output prefix
  bool alphaSource;
  uint32_t headerSize;  // as stored in the file
  uint16_t bitCount;
  uint32_t compression;
  uint32_t ourBpp;
  bool hasAlpha;
};

const Flavour kFlavours[] = {
    {"BMP3 24-bit", "BMP3:", false, 40, 24, 0, 24, false},
    {"BMP2 24-bit core header", "BMP2:", false, 12, 24, 0, 24, false},
    {"BMP2 8-bit core palette", "-type Palette -compress None BMP2:", false, 12, 8, 0, 8, false},
    {"v5 24-bit", "BMP:", false, 124, 24, 0, 24, false},
    {"v5 RGBA bit fields", "BMP:", true, 124, 32, 3, 24, true},
    {"v5 RGB565", "-define bmp:subtype=RGB565 BMP:", false, 124, 16, 3, 24, false},
    {"v5 RGB555", "-define bmp:subtype=RGB555 BMP:", false, 124, 16, 3, 24, false},
    {"BMP3 8-bit palette", "-type Palette -compress None BMP3:", false, 40, 8, 0, 8, false},
    {"BMP3 4-bit palette", "-colors 12 BMP3:", false, 40, 4, 0, 4, false},
    {"BMP3 1-bit", "-type Bilevel BMP3:", false, 40, 1, 0, 1, false},
    {"BMP3 RLE8", "-type Palette -compress RLE BMP3:", false, 40, 8, 1, 8, false},
    {"BMP3 RLE8 few colours", "-colors 5 -compress RLE BMP3:", false, 40, 8, 1, 8, false},
};

TEST(BmpPeer, ImageMagickFlavoursDecodeToTheSamePixels) {
  ScratchDir dir;
  WriteSource(dir.File("src.ppm"), false);
  WriteSource(dir.File("src.pam"), true);
  for (const Flavour& f : kFlavours) {
    SCOPED_TRACE(f.name);
    const std::string out = dir.File("f.bmp");
    std::remove(out.c_str());
    const std::string src = f.alphaSource ? dir.File("src.pam") : dir.File("src.ppm");
    ASSERT_EQ(pxtest::Run(std::string(kConvert) + " '" + src + "' " + f.options + "'" + out + "'"), 0);
    std::vector<uint8_t> file = pxtest::ReadBytes(out);
    ASSERT_GT(file.size(), 54u);
    // The flavour is what it claims to be.
    EXPECT_EQ(pw::LoadLE32(&file[14]), f.headerSize);
    const uint16_t bits = f.headerSize == 12 ? pw::LoadLE16(&file[24]) : pw::LoadLE16(&file[28]);
    EXPECT_EQ(bits, f.bitCount);
    if (f.headerSize > 12) {
      EXPECT_EQ(pw::LoadLE32(&file[30]), f.compression);
    }

    PxImage img;
    ASSERT_TRUE(LoadBmp(out, &img)) << img.LastError();
    EXPECT_EQ(img.info.formatId, kFormatBmp);
    EXPECT_EQ(img.Width(), 13u);
    EXPECT_EQ(img.Height(), 7u);
    EXPECT_EQ(img.Bpp(), f.ourBpp);
    EXPECT_EQ(img.alpha != nullptr, f.hasAlpha);
    // 16-bit components are widened as ImageMagick widens them, exactly.
    EXPECT_EQ(OurPixels(img, false), PeerPixels(out, false));
    if (f.hasAlpha) {
      EXPECT_EQ(OurPixels(img, true), PeerPixels(out, true));
    }
  }
}

// A version-4 (108-byte) header: ImageMagick 6 no longer writes one, so its
// version-5 files are cut down to the version-4 layout; the colour and alpha
// masks come from inside the header.
TEST(BmpPeer, Version4HeaderMasks) {
  ScratchDir dir;
  WriteSource(dir.File("src.ppm"), false);
  WriteSource(dir.File("src.pam"), true);
  for (bool rgba : {false, true}) {
    SCOPED_TRACE(rgba ? "RGBA" : "RGB565");
    const std::string out = dir.File("v4.bmp");
    const std::string command = rgba ? " '" + dir.File("src.pam") + "' BMP:'"
                                     : " '" + dir.File("src.ppm") + "' -define bmp:subtype=RGB565 BMP:'";
    ASSERT_EQ(pxtest::Run(std::string(kConvert) + command + out + "'"), 0);
    std::vector<uint8_t> file = pxtest::ReadBytes(out);
    ASSERT_EQ(pw::LoadLE32(&file[14]), 124u);
    file.erase(file.begin() + 14 + 108, file.begin() + 14 + 124);
    pw::StoreLE32(&file[14], 108);
    pw::StoreLE32(&file[10], pw::LoadLE32(&file[10]) - 16);
    pw::StoreLE32(&file[2], uint32_t(file.size()));
    pxtest::WriteBytes(out, file);
    PxImage img;
    ASSERT_TRUE(LoadBmp(out, &img)) << img.LastError();
    std::vector<uint8_t> peer = PeerPixels(out, rgba);
    ASSERT_EQ(peer.size(), 13u * 7 * (rgba ? 4 : 3));
    if (rgba) {
      ASSERT_NE(img.alpha, nullptr);
    }
    EXPECT_EQ(OurPixels(img, rgba), peer);
  }
}

// Bit fields of any width and place: each colour comes from its own mask.
// ImageMagick writes 4-4-4-4; the 6-5-5 and 10-10-10 files are its own
// 16- and 32-bit files with their masks and pixels rewritten, and it reads
// them too, as the peer to agree with.
TEST(BmpPeer, BitFieldsOfAnyWidthKeepTheirTopBits) {
  ScratchDir dir;
  WriteSource(dir.File("src.ppm"), false);
  WriteSource(dir.File("src.pam"), true);
  auto colour = [](int x, int y, int channel) {
    return channel == 0 ? uint8_t(x * 19) : channel == 1 ? uint8_t(y * 37) : uint8_t(x * y * 5 + 11);
  };
  struct Case {
    const char* name;
    const char* options;  // ImageMagick's file to start from
    bool alphaSource;
    uint16_t bpp;
    uint32_t masks[3];    // red, green, blue
    bool rewrite;         // masks and pixels replaced by ours
  } cases[] = {
      {"ARGB4444 by ImageMagick", "-define bmp:subtype=ARGB4444 BMP:", true, 16, {0x0F00, 0x00F0, 0x000F}, false},
      {"6-5-5 in 16 bits", "-define bmp:subtype=RGB565 BMP:", false, 16, {0xFC00, 0x03E0, 0x001F}, true},
      {"10-10-10 in 32 bits", "BMP:", true, 32, {0x3FF00000, 0x000FFC00, 0x000003FF}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string out = dir.File("f.bmp");
    std::remove(out.c_str());
    const std::string src = c.alphaSource ? dir.File("src.pam") : dir.File("src.ppm");
    ASSERT_EQ(pxtest::Run(std::string(kConvert) + " '" + src + "' " + c.options + "'" + out + "'"), 0);
    std::vector<uint8_t> file = pxtest::ReadBytes(out);
    ASSERT_GT(file.size(), 14u + 124u);
    ASSERT_EQ(pw::LoadLE32(&file[14]), 124u);
    ASSERT_EQ(pw::LoadLE16(&file[28]), c.bpp);
    ASSERT_EQ(pw::LoadLE32(&file[30]), 3u);  // bit fields
    if (c.rewrite) {
      for (int i = 0; i < 3; ++i) pw::StoreLE32(&file[54 + 4 * i], c.masks[i]);
      pw::StoreLE32(&file[66], 0);  // no alpha field
      const uint32_t offset = pw::LoadLE32(&file[10]);
      const size_t stride = (size_t{13} * c.bpp / 8 + 3) / 4 * 4;
      ASSERT_EQ(file.size(), offset + stride * 7);
      for (int row = 0; row < 7; ++row) {
        const int y = 6 - row;  // rows are stored bottom-up
        for (int x = 0; x < 13; ++x) {
          uint32_t pixel = 0;
          for (int ch = 0; ch < 3; ++ch) {
            const uint32_t mask = c.masks[ch];
            const int low = __builtin_ctz(mask), bits = __builtin_popcount(mask);
            const uint32_t v8 = colour(x, y, ch);
            // The 8-bit value spread over the field (10 bits: v8 * 1023 / 255).
            const uint32_t v = bits >= 8 ? (v8 << (bits - 8)) | (v8 >> (16 - bits)) : v8 >> (8 - bits);
            pixel |= v << low;
          }
          uint8_t* p = &file[offset + size_t(row) * stride + size_t(x) * (c.bpp / 8)];
          if (c.bpp == 16) pw::StoreLE16(p, uint16_t(pixel));
          else pw::StoreLE32(p, pixel);
        }
      }
      pxtest::WriteBytes(out, file);
    }
    PxImage img;
    ASSERT_TRUE(LoadBmp(out, &img)) << img.LastError();
    ASSERT_EQ(img.Bpp(), 24u);
    // ImageMagick widens the fields of these masks by moving their bits up
    // (compare the bits the file holds), where it widens 5-5-5 and 5-6-5 as
    // we do; wide fields it rounds its own way (within one step).
    std::vector<uint8_t> peer = PeerPixels(out, false);
    const std::vector<uint8_t> ours = OurPixels(img, false);
    ASSERT_EQ(peer.size(), 13u * 7 * 3);
    ASSERT_EQ(ours.size(), peer.size());
    int differ = 0;
    for (size_t i = 0; i < peer.size(); ++i) {
      const int bits = __builtin_popcount(c.masks[i % 3]);
      if (bits < 8) differ += (ours[i] & uint8_t(0xFF << (8 - bits))) != (peer[i] & uint8_t(0xFF << (8 - bits)));
      else differ += std::abs(int(ours[i]) - int(peer[i])) > 1;
    }
    EXPECT_EQ(differ, 0);
    if (c.rewrite) {
      // And they are the colours that were written.
      std::vector<uint8_t> written;
      for (int y = 0; y < 7; ++y)
        for (int x = 0; x < 13; ++x)
          for (int ch = 0; ch < 3; ++ch) {
            const int bits = __builtin_popcount(c.masks[ch]);
            written.push_back(bits < 8 ? WidenToByte(colour(x, y, ch) >> (8 - bits), bits) : colour(x, y, ch));
          }
      EXPECT_EQ(OurPixels(img, false), written);
    }
  }
}

// An alpha mask anywhere in the pixel: its field is found by the mask, here
// the low byte under colours in the three high ones (a version-5 header).
TEST(BmpCodec, AlphaMaskInTheLowByte) {
  std::vector<uint8_t> f(14 + 124, 0);
  f[0] = 'B';
  f[1] = 'M';
  pw::StoreLE32(&f[10], 14 + 124);
  pw::StoreLE32(&f[14], 124);
  pw::StoreLE32(&f[18], 2);
  pw::StoreLE32(&f[22], 1);
  pw::StoreLE16(&f[26], 1);
  pw::StoreLE16(&f[28], 32);
  pw::StoreLE32(&f[30], 3);  // bit fields
  const uint32_t masks[4] = {0xFF000000, 0x00FF0000, 0x0000FF00, 0x000000FF};
  for (int i = 0; i < 4; ++i) pw::StoreLE32(&f[54 + 4 * i], masks[i]);
  for (uint32_t pixel : {0x0A141E28u, 0xC86432FFu}) {  // red, green, blue, alpha
    f.resize(f.size() + 4);
    pw::StoreLE32(&f[f.size() - 4], pixel);
  }
  PxMemFile file(f.data(), int32_t(f.size()));
  PxImage img;
  ASSERT_TRUE(img.Decode(&file, kFormatBmp)) << img.LastError();
  ASSERT_NE(img.alpha, nullptr);
  EXPECT_EQ(pxtest::Rgb(img, 0, 0), 0x0A141Eu);
  EXPECT_EQ(pxtest::Rgb(img, 1, 0), 0xC86432u);
  EXPECT_EQ(img.alpha[0], 0x28);
  EXPECT_EQ(img.alpha[1], 0xFF);
}

// A 32-bit file without bit fields keeps its fourth bytes as alpha; all-zero
// fourth bytes mean an opaque picture.
TEST(BmpPeer, ThirtyTwoBitAlpha) {
  ScratchDir dir;
  WriteSource(dir.File("src.pam"), true);
  const std::string out = dir.File("a.bmp");
  ASSERT_EQ(pxtest::Run(std::string(kConvert) + " '" + dir.File("src.pam") + "' -define bmp3:alpha=true BMP3:'" + out + "'"), 0);
  std::vector<uint8_t> file = pxtest::ReadBytes(out);
  ASSERT_EQ(pw::LoadLE16(&file[28]), 32);
  ASSERT_EQ(pw::LoadLE32(&file[30]), 0u);
  PxImage img;
  ASSERT_TRUE(LoadBmp(out, &img)) << img.LastError();
  ASSERT_NE(img.alpha, nullptr);
  EXPECT_EQ(OurPixels(img, true), PeerPixels(dir.File("src.pam"), true));

  // Zero every fourth byte: fully opaque.
  const uint32_t offset = pw::LoadLE32(&file[10]);
  for (size_t i = offset + 3; i < file.size(); i += 4) file[i] = 0;
  pxtest::WriteBytes(out, file);
  PxImage opaque;
  ASSERT_TRUE(LoadBmp(out, &opaque));
  ASSERT_NE(opaque.alpha, nullptr);
  for (uint32_t i = 0; i < 13 * 7; ++i) ASSERT_EQ(opaque.alpha[i], 255);
}

// Top-down rows (negative height): ImageMagick writes none, so flip a file
// it wrote and let it read the result too.
TEST(BmpPeer, TopDownRowsComeOutUpright) {
  ScratchDir dir;
  WriteSource(dir.File("src.ppm"), false);
  for (const char* options : {"BMP3:", "-type Palette -compress None BMP3:", "-colors 12 BMP3:"}) {
    const std::string out = dir.File("td.bmp");
    ASSERT_EQ(pxtest::Run(std::string(kConvert) + " '" + dir.File("src.ppm") + "' " + options + "'" + out + "'"), 0);
    std::vector<uint8_t> file = pxtest::ReadBytes(out);
    const uint32_t offset = pw::LoadLE32(&file[10]);
    const int32_t height = int32_t(pw::LoadLE32(&file[22]));
    const size_t stride = (file.size() - offset) / size_t(height);
    std::vector<uint8_t> flipped(file.begin(), file.begin() + offset);
    for (int32_t r = height - 1; r >= 0; --r) {
      flipped.insert(flipped.end(), file.begin() + offset + r * stride, file.begin() + offset + (r + 1) * stride);
    }
    pw::StoreLE32(&flipped[22], uint32_t(-height));
    pxtest::WriteBytes(out, flipped);
    PxImage img;
    ASSERT_TRUE(LoadBmp(out, &img)) << img.LastError();
    EXPECT_EQ(img.Height(), 7u);
    EXPECT_EQ(OurPixels(img, false), PeerPixels(out, false)) << options;
    if (std::string(options) == "BMP3:") {
      EXPECT_EQ(OurPixels(img, false), PeerPixels(dir.File("src.ppm"), false));
    }
  }
}

// RLE4: ImageMagick reads it but does not write it, so the file is built
// here with every kind of run and checked against ImageMagick's reading.
TEST(BmpPeer, Rle4MatchesImageMagick) {
  const int w = 13, h = 5;
  std::vector<uint8_t> data = {
      // row 0: encoded runs, one crossing the half-byte boundary
      5, 0x12, 4, 0x34, 4, 0x56, 0, 0,
      // row 1: an absolute run of 7 pixels (4 bytes, padded to an even count), then 6 encoded
      0, 7, 0xAB, 0xCD, 0xEF, 0x10, 6, 0x77, 0, 0,
      // row 2: an absolute run of 3 pixels (2 bytes, no padding), then end of line
      0, 3, 0x98, 0x70, 0, 0,
      // row 3: a delta of two pixels right, then a run
      0, 2, 2, 0, 3, 0x9A,
      0, 0,
      // row 4: an absolute run of 13 pixels (7 bytes + 1 padding)
      0, 13, 0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0x00,
      0, 1};
  std::vector<uint8_t> file(14 + 40 + 64, 0);
  file[0] = 'B';
  file[1] = 'M';
  pw::StoreLE32(&file[10], 14 + 40 + 64);
  pw::StoreLE32(&file[14], 40);
  pw::StoreLE32(&file[18], w);
  pw::StoreLE32(&file[22], h);
  pw::StoreLE16(&file[26], 1);
  pw::StoreLE16(&file[28], 4);
  pw::StoreLE32(&file[30], 2);
  pw::StoreLE32(&file[34], uint32_t(data.size()));
  pw::StoreLE32(&file[46], 16);
  for (int i = 0; i < 16; ++i) {
    file[54 + 4 * i] = uint8_t(i * 16);
    file[54 + 4 * i + 1] = uint8_t(255 - i * 16);
    file[54 + 4 * i + 2] = uint8_t(i * 7);
  }
  file.insert(file.end(), data.begin(), data.end());
  pw::StoreLE32(&file[2], uint32_t(file.size()));
  ScratchDir dir;
  pxtest::WriteBytes(dir.File("rle4.bmp"), file);
  PxImage img;
  ASSERT_TRUE(LoadBmp(dir.File("rle4.bmp"), &img)) << img.LastError();
  EXPECT_EQ(img.Bpp(), 4u);
  EXPECT_EQ(OurPixels(img, false), PeerPixels(dir.File("rle4.bmp"), false));
}

// Our output, in every depth and with alpha, reads back in ImageMagick as
// exactly our pixels, and in our own reader as the same picture.
TEST(BmpPeer, RoundTripsReadBackByImageMagick) {
  ScratchDir dir;
  for (uint32_t bpp : {1u, 4u, 8u, 24u}) {
    PxImage img(17, 9, bpp, 0);
    pxtest::FillPattern(img);
    img.SetHorizontalDpi(300);
    img.SetVerticalDpi(72);
    const std::string out = dir.File("rt.bmp");
    PxIOFile file;
    ASSERT_TRUE(file.Open(out.c_str(), "wb"));
    ASSERT_TRUE(img.Encode(&file, kFormatBmp)) << img.LastError();
    ASSERT_TRUE(file.CloseFile());
    const std::vector<uint8_t> bytes = pxtest::ReadBytes(out);
    EXPECT_EQ(bytes.size(), 54 + 4 * img.PaletteSize() + img.ImageBytes()) << bpp;
    EXPECT_EQ(OurPixels(img, false), PeerPixels(out, false)) << bpp;
    std::string density = Capture(std::string("identify-im6.q16 -units PixelsPerInch -format '%x %y' '") + out + "'");
    EXPECT_EQ(density.substr(0, 3), "300") << density;

    PxImage back;
    ASSERT_TRUE(LoadBmp(out, &back));
    EXPECT_EQ(back.Bpp(), bpp);
    EXPECT_EQ(back.info.xDpi, 300);
    EXPECT_EQ(back.info.yDpi, 72);
    EXPECT_EQ(OurPixels(back, false), OurPixels(img, false));
  }

  // True colour with alpha: a 32-bit file of 54 + width * 4 * height bytes.
  PxImage rgba(17, 9, 24, 0);
  pxtest::FillPattern(rgba);
  ASSERT_TRUE(rgba.CreateAlphaPlane());
  for (uint32_t i = 0; i < 17 * 9; ++i) rgba.alpha[i] = uint8_t(i * 5 + 1);
  const std::string out = dir.File("rgba.bmp");
  PxIOFile file;
  ASSERT_TRUE(file.Open(out.c_str(), "wb"));
  ASSERT_TRUE(rgba.Encode(&file, kFormatBmp));
  ASSERT_TRUE(file.CloseFile());
  EXPECT_EQ(pxtest::ReadBytes(out).size(), 54u + 17 * 4 * 9);
  EXPECT_EQ(OurPixels(rgba, false), PeerPixels(out, false));
  PxImage back;
  ASSERT_TRUE(LoadBmp(out, &back));
  ASSERT_NE(back.alpha, nullptr);
  EXPECT_EQ(std::memcmp(back.alpha, rgba.alpha, 17 * 9), 0);
}

TEST(BmpCodec, BareBitmapAndOddDepths) {
  // A bare bitmap: info header, palette, pixels; no file header.
  PxImage img(6, 3, 8, 0);
  pxtest::FillPattern(img);
  PxMemFile mem;
  ASSERT_TRUE(mem.Open());
  ASSERT_TRUE(img.Encode(&mem, kFormatBmp));
  std::vector<uint8_t> bare(mem.Buffer() + 14, mem.Buffer() + mem.DataSize());
  PxMemFile bareFile(bare.data(), int32_t(bare.size()));
  PxImage back;
  ASSERT_TRUE(back.Decode(&bareFile, kFormatBmp)) << back.LastError();
  EXPECT_EQ(OurPixels(back, false), OurPixels(img, false));

  // A 2-bit bitmap (four colours; neither ImageMagick nor Pillow reads
  // one) decodes to a 4-bit picture of its own colours: pixel (x, y) of
  // this 7 x 3 one has colour (x + y) % 4.
  std::vector<uint8_t> twoBit(bare.begin(), bare.begin() + 40);
  pw::StoreLE32(&twoBit[4], 7);
  pw::StoreLE32(&twoBit[8], 3);
  pw::StoreLE16(&twoBit[14], 2);
  pw::StoreLE32(&twoBit[32], 4);
  const uint32_t colours[4] = {0x0000FF, 0x00FF00, 0xFF0000, 0xFFFFFF};
  for (uint32_t c : colours) twoBit.insert(twoBit.end(), {uint8_t(c), uint8_t(c >> 8), uint8_t(c >> 16), 0});
  for (int y = 0; y < 3; ++y) {  // rows bottom-up, 4 bytes each
    uint8_t row[4] = {};
    for (int x = 0; x < 7; ++x) row[x / 4] |= uint8_t(((x + y) % 4) << (6 - 2 * (x % 4)));
    twoBit.insert(twoBit.end(), row, row + 4);
  }
  PxMemFile twoFile(twoBit.data(), int32_t(twoBit.size()));
  PxImage two;
  ASSERT_TRUE(two.Decode(&twoFile, kFormatBmp)) << two.LastError();
  EXPECT_EQ(two.Bpp(), 4u);
  EXPECT_FALSE(two.IsDamaged());
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 7; ++x) EXPECT_EQ(pxtest::Rgb(two, x, y), colours[(x + y) % 4]) << x << "," << y;
  // Its rows must all be in the file.
  twoBit.resize(twoBit.size() - 2);
  PxMemFile cutFile(twoBit.data(), int32_t(twoBit.size()));
  PxImage cut;
  EXPECT_FALSE(cut.Decode(&cutFile, kFormatBmp));

  // A 16-bit bitmap without masks is 5-5-5.
  std::vector<uint8_t> sixteen(54, 0);
  sixteen[0] = 'B';
  sixteen[1] = 'M';
  pw::StoreLE32(&sixteen[10], 54);
  pw::StoreLE32(&sixteen[14], 40);
  pw::StoreLE32(&sixteen[18], 2);
  pw::StoreLE32(&sixteen[22], 1);
  pw::StoreLE16(&sixteen[26], 1);
  pw::StoreLE16(&sixteen[28], 16);
  for (uint16_t v : {uint16_t(0x7C00), uint16_t(0x03E0)}) {
    sixteen.push_back(uint8_t(v));
    sixteen.push_back(uint8_t(v >> 8));
  }
  PxMemFile sixteenFile(sixteen.data(), int32_t(sixteen.size()));
  PxImage s;
  ASSERT_TRUE(s.Decode(&sixteenFile, kFormatBmp)) << s.LastError();
  // Five bits widened by repeating their high bits: the full value is 255.
  EXPECT_EQ(pxtest::Rgb(s, 0, 0), 0xFF0000u);
  EXPECT_EQ(pxtest::Rgb(s, 1, 0), 0x00FF00u);
}

TEST(BmpCodec, EncoderTexts) {
  PxImageBMP bmp;
  EXPECT_FALSE(bmp.Encode(nullptr));
  EXPECT_STREQ(bmp.LastError(), "null file handler");
  PxMemFile mem;
  ASSERT_TRUE(mem.Open());
  EXPECT_FALSE(bmp.Encode(&mem));
  EXPECT_STREQ(bmp.LastError(), "null image!!!");
  EXPECT_FALSE(bmp.Decode(nullptr));

  // A full disk (a read-only stream) is a failure, not a success.
  ScratchDir dir;
  pxtest::WriteBytes(dir.File("ro.bmp"), {1});
  FILE* ro = std::fopen(dir.File("ro.bmp").c_str(), "rb");
  ASSERT_NE(ro, nullptr);
  PxIOFile readOnly(ro);
  PxImage img(4, 4, 24, 0);
  EXPECT_FALSE(img.Encode(&readOnly, kFormatBmp));
  EXPECT_STRNE(img.LastError(), "");
  std::fclose(ro);
}

// A small picture fits the stream's buffer, so a full disk only shows when
// the buffer is flushed: the save must still fail, in both writer branches.
TEST(BmpCodec, FullDiskFailsTheSave) {
  PxImage palette(5, 3, 8, 0);
  PxImage withAlpha(5, 3, 24, 0);
  ASSERT_TRUE(withAlpha.CreateAlphaPlane());
  for (PxImage* img : {&palette, &withAlpha}) {
    FILE* full = std::fopen("/dev/full", "wb");
    ASSERT_NE(full, nullptr);
    PxIOFile file(full);
    EXPECT_FALSE(img->Encode(&file, kFormatBmp)) << img->Bpp();
    EXPECT_STREQ(img->LastError(), "error writing BMP file");
    std::fclose(full);
  }
}

}  // namespace
