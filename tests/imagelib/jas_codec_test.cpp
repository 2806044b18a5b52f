// The JPEG-2000 family (JP2, J2K, PGX, PNM, Sun raster): files written at
// test time by ImageMagick and Pillow, pixels compared with ImageMagick's
// reading of the same file; our writers read back by ImageMagick; hostile
// headers and the component rules on files built here.
#include <gtest/gtest.h>
#include <openjpeg.h>

#include <algorithm>
#include <cstring>
#include <thread>

#include "imagelib/JasAdapter.h"
#include "imagelib/PxImageJAS.h"
#include "TestSupport.h"
#include "tests/platform/temp_tree.h"
#include "tiff_test_support.h"

using namespace tifftest;

namespace {

// Encodes `img` losslessly into a JP2 file with OpenJPEG itself, then frees it.
bool WriteJp2WithOpenJpeg(opj_image_t* img, const std::string& path, int resolutions) {
  opj_cparameters_t params;
  opj_set_default_encoder_parameters(&params);
  params.numresolution = resolutions;
  params.tcp_numlayers = 1;
  params.tcp_rates[0] = 0;
  params.cp_disto_alloc = 1;
  opj_codec_t* codec = opj_create_compress(OPJ_CODEC_JP2);
  opj_stream_t* stream = opj_stream_create_default_file_stream(path.c_str(), OPJ_FALSE);
  const bool ok = codec && stream && opj_setup_encoder(codec, &params, img) &&
                  opj_start_compress(codec, img, stream) && opj_encode(codec, stream) &&
                  opj_end_compress(codec, stream);
  if (stream) opj_stream_destroy(stream);
  if (codec) opj_destroy_codec(codec);
  opj_image_destroy(img);
  return ok;
}

class Jas : public ::testing::Test {
 protected:
  void SetUp() override {
    WritePpm(dir_ / "card.ppm", 61, 47);
    WritePgm(dir_ / "grey.pgm", 61, 47, 255);
    WritePgm(dir_ / "grey16.pgm", 61, 47, 65535);
  }
  std::string Path(const std::string& name) const { return dir_ / name; }
  pwtest::TempTree dir_;
};

std::string Expand(std::string command, const std::string& in, const std::string& out) {
  for (auto [key, value] : {std::pair<std::string, std::string>{"{in}", in}, {"{out}", out}}) {
    for (size_t at; (at = command.find(key)) != std::string::npos;) command.replace(at, key.size(), Quote(value));
  }
  return command;
}

struct PeerCase {
  const char* name;
  const char* file;     // name of the file written (its extension picks the format)
  const char* command;  // {in} = source card, {out} = the file
  const char* source;
  int tolerance;
  uint32_t depth;
  ImageFormatId id;
};

#define IM "convert-im6.q16 {in} "
#define PIL "/usr/bin/python3 -c \"import sys; from PIL import Image; "
const PeerCase kPeerCases[] = {
    {"im_jp2", "a.jp2", IM "{out}", "card.ppm", 1, 24, kFormatJp2},
    {"im_jp2_lossy", "b.jp2", IM "-quality 40 {out}", "card.ppm", 2, 24, kFormatJp2},
    {"im_j2k", "c.j2k", IM "{out}", "card.ppm", 1, 24, kFormatJpc},
    {"im_jp2_grey", "d.jp2", IM "{out}", "grey.pgm", 1, 8, kFormatJp2},
    {"im_jp2_rgb16", "e.jp2", IM "-depth 16 {out}", "card.ppm", 1, 24, kFormatJp2},
    {"im_pgx", "f.pgx", IM "{out}", "grey.pgm", 0, 8, kFormatPgx},
    {"im_p1", "g.pbm", IM "-threshold 50% -compress none {out}", "grey.pgm", 0, 1, kFormatPnm},
    {"im_p2", "h.pgm", IM "-compress none {out}", "grey.pgm", 0, 8, kFormatPnm},
    {"im_p3", "i.ppm", IM "-compress none {out}", "card.ppm", 0, 24, kFormatPnm},
    {"im_p4", "j.pbm", IM "-threshold 50% {out}", "grey.pgm", 0, 1, kFormatPnm},
    {"im_p5", "k.pgm", IM "{out}", "grey.pgm", 0, 8, kFormatPnm},
    {"im_p5_16", "l.pgm", IM "-depth 16 {out}", "grey16.pgm", 1, 8, kFormatPnm},
    {"im_p6", "m.ppm", IM "{out}", "card.ppm", 0, 24, kFormatPnm},
    {"im_p6_16", "n.ppm", IM "-depth 16 {out}", "card.ppm", 0, 24, kFormatPnm},
    {"im_ras", "o.ras", IM "{out}", "card.ppm", 0, 24, kFormatRas},
    {"im_ras_rle", "p.ras", IM "-compress RLE {out}", "card.ppm", 0, 24, kFormatRas},
    {"im_ras_palette", "q.ras", IM "-colors 40 -type Palette {out}", "card.ppm", 0, 24, kFormatRas},
    {"im_ras_palette_rle", "r.ras", IM "-colors 40 -type Palette -compress RLE {out}", "card.ppm", 0, 24, kFormatRas},
    {"im_ras_odd", "u.ras", IM "-crop 13x7+0+0 {out}", "card.ppm", 0, 24, kFormatRas},
    {"pil_ppm", "v.ppm", PIL "Image.open(sys.argv[1]).save(sys.argv[2])\" {in} {out}", "card.ppm", 0, 24, kFormatPnm},
    {"pil_pgm", "w.pgm", PIL "Image.open(sys.argv[1]).save(sys.argv[2])\" {in} {out}", "grey.pgm", 0, 8, kFormatPnm},
    {"pil_pbm", "x.pbm", PIL "Image.open(sys.argv[1]).convert('1').save(sys.argv[2])\" {in} {out}", "grey.pgm", 0, 1, kFormatPnm},
    {"pil_jp2", "y.jp2", PIL "Image.open(sys.argv[1]).save(sys.argv[2])\" {in} {out}", "card.ppm", 1, 24, kFormatJp2},
    {"pil_j2k_lossy", "z.j2k", PIL "Image.open(sys.argv[1]).save(sys.argv[2], quality_mode='rates', quality_layers=[20], irreversible=True)\" {in} {out}", "card.ppm", 2, 24, kFormatJpc},
    {"pil_jp2_grey", "za.jp2", PIL "Image.open(sys.argv[1]).save(sys.argv[2])\" {in} {out}", "grey.pgm", 1, 8, kFormatJp2},
};
#undef IM
#undef PIL

void PrintTo(const PeerCase& c, std::ostream* os) { *os << c.name; }

class JasPeer : public Jas, public ::testing::WithParamInterface<PeerCase> {};

// Each file loads through LoadFile with no format named (so the signature
// is what finds it) and with its own id, and matches ImageMagick.
TEST_P(JasPeer, PixelsMatchImageMagick) {
  const PeerCase& c = GetParam();
  const std::string out = Path(c.file);
  ASSERT_TRUE(Sh(Expand(c.command, Path(c.source), out))) << c.command;
  const Reference ref = MagickRgb(out);
  ASSERT_FALSE(ref.rgb.empty());
  for (ImageFormatId asked : {ImageFormatId{kFormatUnknown}, c.id}) {
    auto image = Load(out, 0, asked);
    ASSERT_TRUE(image) << c.name << " asked " << asked;
    EXPECT_EQ(image->info.formatId, c.id);
    EXPECT_EQ(image->Bpp(), c.depth);
    EXPECT_LE(MaxDifference(*image, ref), c.tolerance) << c.name;
  }
}

INSTANTIATE_TEST_SUITE_P(Peers, JasPeer, ::testing::ValuesIn(kPeerCases),
                         [](const auto& info) { return std::string(info.param.name); });

bool DecodeBytes(PxImage& image, const std::string& bytes, ImageFormatId id = kFormatPnm) {
  std::vector<uint8_t> data(bytes.begin(), bytes.end());
  PxMemFile file(data.data(), static_cast<int32_t>(data.size()));
  return image.Decode(&file, id);
}

// Components are scaled from their own range: maxval 100 and 5-bit data
// reach white, signed data is lifted by half its range instead of wrapping.
TEST_F(Jas, SamplesAreScaledFromTheirOwnRange) {
  struct Case {
    const char* name;
    std::string bytes;
    uint8_t first, last;  // grey of the first and the last pixel
  };
  std::string signedPgx = "PG ML - 8 2 1\n";
  signedPgx += static_cast<char>(0x80);  // -128: black
  signedPgx += static_cast<char>(0x7F);  // 127: white
  std::string pgx5 = "PG LM + 5 2 1\n";
  pgx5 += '\0';
  pgx5 += static_cast<char>(31);
  std::string pgx12 = "PG LM +12 2 1\n";  // little-endian 16-bit samples
  pgx12 += std::string("\x00\x00\xff\x0f", 4);
  // Sun raster without a colour map: a set bit is black; 32 bits are
  // pad, blue, green, red in the standard type.
  const std::string rasHead("\x59\xa6\x6a\x95\x00\x00\x00\x02\x00\x00\x00\x01", 12);
  const std::string rasKind("\x00\x00\x00\x00\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00\x00", 16);
  const std::string ras1 = rasHead + std::string("\0\0\0\x01", 4) + rasKind + std::string("\x80\0", 2);
  const std::string ras32 = rasHead + std::string("\0\0\0\x20", 4) + rasKind +
                            std::string("\0\0\0\0\0\xff\xff\xff", 8);
  const std::string ras8 = rasHead + std::string("\0\0\0\x08", 4) + rasKind + std::string("\x00\xff", 2);
  const Case cases[] = {
      {"ras 1 bit", ras1, 0, 255},
      {"ras 8 bit", ras8, 0, 255},
      {"ras 32 bit", ras32, 0, 255},
      {"maxval 100", "P2\n# comment\n2 1\n100\n0 100\n", 0, 255},
      {"maxval 100 raw", std::string("P5 2 1 100\n") + '\0' + 'd', 0, 255},
      {"signed pgx", signedPgx, 0, 255},
      {"5-bit pgx", pgx5, 0, 255},
      {"12-bit pgx", pgx12, 0, 255},
      {"bitmap 1 is black", "P1\n2 1\n10", 0, 255},
      {"bitmap digits run together", "P1 2 1 01", 255, 0},
  };
  for (const Case& c : cases) {
    PxImage image;
    ASSERT_TRUE(DecodeBytes(image, c.bytes, kFormatUnknown)) << c.name << ": " << image.LastError();
    EXPECT_EQ(pxtest::Rgb(image, 0, 0) & 0xFF, c.first) << c.name;
    EXPECT_EQ(pxtest::Rgb(image, 1, 0) & 0xFF, c.last) << c.name;
  }
}

TEST_F(Jas, HostileHeadersFailCleanly) {
  struct Case {
    const char* name;
    std::string bytes;
    const char* error;
  };
  std::string rasHuge("\x59\xa6\x6a\x95\x00\x01\x00\x00\x00\x01\x00\x00\x00\x00\x00\x18"
                      "\x00\x00\x00\x00\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00\x00", 32);
  std::string rasShort("\x59\xa6\x6a\x95\x00\x00\x00\x10\x00\x00\x00\x10\x00\x00\x00\x08"
                       "\x00\x00\x00\x00\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00\x00", 32);
  std::string rasBadMap("\x59\xa6\x6a\x95\x00\x00\x00\x01\x00\x00\x00\x01\x00\x00\x00\x08"
                        "\x00\x00\x00\x00\x00\x00\x00\x01\x00\x00\x00\x01\xff\xff\xff\xff", 32);
  std::string rasRleShort("\x59\xa6\x6a\x95\x00\x00\x10\x00\x00\x00\x10\x00\x00\x00\x00\x08"
                          "\x00\x00\x00\x00\x00\x00\x00\x02\x00\x00\x00\x00\x00\x00\x00\x00\x80\xff\x01", 35);
  const Case cases[] = {
      {"pnm huge", "P6 65535 65535 255\n", "PXIMAGE_MAX_MEMORY exceeded"},
      {"pnm short", "P6 100 100 255\nabc", "error: cannot load image data"},
      {"pnm no size", "P5 12\n", "error: cannot load image data"},
      {"pnm maxval too big", "P5 1 1 65536\nab", "error: cannot load image data"},
      {"pnm ascii ends early", "P2 3 1 255\n1 2", "error: cannot load image data"},
      {"pnm ascii garbage", "P3 1 1 255\n1 x 2 3 4 5 6", "error: cannot load image data"},
      {"pgx 17 bits", "PG ML + 17 1 1\nabcd", "error: cannot load image data"},
      {"pgx short", "PG ML + 16 4 4\nab", "error: cannot load image data"},
      {"ras huge", rasHuge, "PXIMAGE_MAX_MEMORY exceeded"},
      {"ras short", rasShort, "error: cannot load image data"},
      {"ras map too long", rasBadMap, "error: cannot load image data"},
      {"ras rle short", rasRleShort, "error: cannot load image data"},
      {"jp2 box only", std::string("\0\0\0\x0cjP  \r\n\x87\n", 12), nullptr},
      {"j2k marker only", "\xff\x4f\xff\x51", nullptr},
  };
  for (const Case& c : cases) {
    PxImage image;
    EXPECT_FALSE(DecodeBytes(image, c.bytes, kFormatPnm)) << c.name;
    if (c.error) {
      EXPECT_STREQ(image.LastError(), c.error) << c.name;
    }
    EXPECT_FALSE(image.HasPixels()) << c.name;
  }
}

TEST_F(Jas, DimensionsOnlyReadsTheHeader) {
  const std::string jp2 = Path("a.jp2");
  ASSERT_TRUE(Sh("convert-im6.q16 " + Quote(Path("card.ppm")) + " " + Quote(jp2)));
  for (const std::string& file : {jp2, Path("card.ppm"), Path("grey.pgm")}) {
    PxImage image;
    image.info.escape = -1;
    ASSERT_TRUE(image.LoadFile(pw::NarrowToWide(file), kFormatPnm)) << file;
    EXPECT_EQ(image.Width(), 61u);
    EXPECT_EQ(image.Height(), 47u);
    EXPECT_EQ(image.info.formatId, file == jp2 ? kFormatJp2 : kFormatPnm);
    EXPECT_STREQ(image.LastError(), "output dimensions returned");
  }
  // A PNM header whose data is missing still tells its size.
  PxImage header;
  header.info.escape = -1;
  EXPECT_TRUE(DecodeBytes(header, "P6 4000 3000 255\n"));
  EXPECT_EQ(header.Width(), 4000u);
  PxImage text;
  text.info.escape = -1;
  EXPECT_FALSE(DecodeBytes(text, "hello, world"));
  EXPECT_STREQ(text.LastError(), "error: unknowm format");
}

// Grey with alpha in a bare code stream, where nothing marks the second
// component as opacity: two grey frames.
TEST_F(Jas, UnmarkedComponentsAreFrames) {
  const std::string file = Path("ga.j2k");
  ASSERT_TRUE(Sh("convert-im6.q16 " + Quote(Path("grey.pgm")) +
                 " -alpha set -channel A -fx 'i/w' +channel -type GrayscaleAlpha " + Quote(file)));
  auto first = Load(file, 0, kFormatJpc);
  ASSERT_TRUE(first);
  EXPECT_EQ(first->info.frameCount, 2);
  EXPECT_EQ(first->Bpp(), 8u);
  EXPECT_EQ(first->alpha, nullptr);
  EXPECT_LE(MaxDifference(*first, MagickRgb(file, "-alpha off")), 1);
  auto second = Load(file, 1, kFormatJpc);
  ASSERT_TRUE(second);
  // The alpha frame rises from left to right.
  EXPECT_LT(pxtest::Rgb(*second, 0, 0) & 0xFF, 10u);
  EXPECT_GT(pxtest::Rgb(*second, 60, 0) & 0xFF, 240u);
  PxImage missing;
  missing.info.frame = 2;
  EXPECT_FALSE(missing.LoadFile(pw::NarrowToWide(file), kFormatJpc));
  EXPECT_STREQ(missing.LastError(), "wrong frame!");
}

// The largest difference between a picture's alpha plane and ImageMagick's
// reading of the file's alpha (top-down grey).
int AlphaDifference(const PxImage& image, const std::string& file) {
  const Reference ref = MagickRgb(file, "-alpha extract");
  if (!image.alpha || ref.width != static_cast<int>(image.Width()) || ref.height != static_cast<int>(image.Height()))
    return 256;
  int worst = 0;
  for (int y = 0; y < ref.height; ++y)
    for (int x = 0; x < ref.width; ++x) {
      const int ours = image.alpha[static_cast<size_t>(ref.height - 1 - y) * ref.width + x];
      worst = std::max(worst, std::abs(ours - ref.rgb[(static_cast<size_t>(y) * ref.width + x) * 3]));
    }
  return worst;
}

// Colour with alpha at 8 and 16 bits, and grey with alpha, where the JP2
// marks the alpha: one picture in colour (or grey) with its alpha plane.
TEST_F(Jas, MarkedAlphaBecomesTheAlphaPlane) {
  struct Case {
    const char* file;
    const char* options;
    const char* source;
    uint32_t depth;
  };
  const Case cases[] = {
      {"rgba8.jp2", "", "card.ppm", 24},
      {"rgba16.jp2", "-depth 16", "card.ppm", 24},
      {"ga8.jp2", "-type GrayscaleAlpha", "grey.pgm", 8},
      {"ga16.jp2", "-type GrayscaleAlpha -depth 16", "grey16.pgm", 8},
  };
  for (const Case& c : cases) {
    const std::string file = Path(c.file);
    ASSERT_TRUE(Sh("convert-im6.q16 " + Quote(Path(c.source)) + " -alpha set -channel A -fx 'i/w' +channel " +
                   c.options + " " + Quote(file)));
    auto image = Load(file, 0, kFormatJp2);
    ASSERT_TRUE(image) << c.file;
    EXPECT_EQ(image->Bpp(), c.depth) << c.file;
    EXPECT_LE(MaxDifference(*image, MagickRgb(file, "-alpha off")), 1) << c.file;
    EXPECT_LE(AlphaDifference(*image, file), 1) << c.file;
  }
}

// Pillow writes RGBA and grey+alpha JP2 files without a channel-definition
// box: the last component is opacity, as Pillow itself reads it back. The
// reference is Pillow's own reading of each file, as top-down RGBA bytes.
TEST_F(Jas, UndescribedAlphaOfJp2IsTheLastComponent) {
  for (const char* mode : {"RGBA", "LA"}) {
    SCOPED_TRACE(mode);
    const std::string file = Path(std::string(mode) + ".jp2"), dump = Path(std::string(mode) + ".rgba");
    ASSERT_TRUE(Sh("/usr/bin/python3 -c \"import sys; from PIL import Image; "
                   "card = Image.open(sys.argv[1]); "
                   "a = Image.linear_gradient('L').resize(card.size).rotate(90); "
                   "p = card.convert('RGB' if sys.argv[3] == 'RGBA' else 'L'); p.putalpha(a); "
                   "p.save(sys.argv[2]); "
                   "open(sys.argv[4], 'wb').write(Image.open(sys.argv[2]).convert('RGBA').tobytes())\" " +
                   Quote(Path("card.ppm")) + " " + Quote(file) + " " + mode + " " + Quote(dump)));
    const std::vector<uint8_t> bytes = pxtest::ReadBytes(file);
    ASSERT_EQ(std::search(bytes.begin(), bytes.end(), "cdef", "cdef" + 4), bytes.end()) << "the box is left out";
    const std::vector<uint8_t> peer = pxtest::ReadBytes(dump);
    auto image = Load(file, 0, kFormatJp2);
    ASSERT_TRUE(image);
    const bool colour = std::string(mode) == "RGBA";
    if (!colour) {
      EXPECT_EQ(image->info.frameCount, 1);  // one picture, not two grey frames
    }
    EXPECT_EQ(image->Bpp(), colour ? 24u : 8u);
    ASSERT_NE(image->alpha, nullptr);
    const uint32_t w = image->Width(), h = image->Height();
    ASSERT_EQ(peer.size(), size_t{w} * h * 4);
    std::vector<uint8_t> ours;
    for (uint32_t y = h; y-- > 0;)
      for (uint32_t x = 0; x < w; ++x) {
        const RGBQUAD c = image->PixelColorAt(static_cast<int32_t>(x), static_cast<int32_t>(y), false);
        ours.insert(ours.end(), {c.rgbRed, c.rgbGreen, c.rgbBlue, image->alpha[size_t{y} * w + x]});
      }
    EXPECT_EQ(ours, peer);
  }
}

// Three colour components of different depths (5, 6 and 5 bits) are one
// colour picture, each scaled from its own range.
TEST_F(Jas, ColourOfMixedDepthsIsColour) {
  const uint32_t w = 8, h = 4;
  const OPJ_UINT32 precision[3] = {5, 6, 5};
  opj_image_cmptparm_t parms[3];
  std::memset(parms, 0, sizeof parms);
  for (int i = 0; i < 3; ++i) {
    parms[i].dx = parms[i].dy = 1;
    parms[i].w = w;
    parms[i].h = h;
    parms[i].prec = precision[i];
  }
  opj_image_t* img = opj_image_create(3, parms, OPJ_CLRSPC_SRGB);
  ASSERT_NE(img, nullptr);
  img->x1 = w;
  img->y1 = h;
  for (uint32_t i = 0; i < w * h; ++i) {  // left half orange (full red, half green), right half blue
    const bool left = i % w < w / 2;
    img->comps[0].data[i] = left ? 31 : 0;
    img->comps[1].data[i] = left ? 32 : 0;
    img->comps[2].data[i] = left ? 0 : 31;
  }
  const std::string path = Path("565.jp2");
  ASSERT_TRUE(WriteJp2WithOpenJpeg(img, path, 2));
  auto image = Load(path, 0, kFormatJp2);
  ASSERT_TRUE(image);
  EXPECT_EQ(image->Bpp(), 24u);
  EXPECT_EQ(image->info.frameCount, 0);
  EXPECT_EQ(pxtest::Rgb(*image, 1, 1), 0xFF8200u);  // 32 of 63 is 130 of 255
  EXPECT_EQ(pxtest::Rgb(*image, 6, 1), 0x0000FFu);
}

// A blank one-component code stream of w x h in tiles of tw x th, with one
// tile's worth of empty packets: about a hundred bytes whatever it claims.
std::string BlankCodeStream(uint32_t w, uint32_t h, uint32_t tw, uint32_t th) {
  std::string out;
  auto u8 = [&](unsigned v) { out += static_cast<char>(v & 0xFF); };
  auto u16 = [&](unsigned v) { u8(v >> 8); u8(v); };
  auto u32 = [&](uint32_t v) { u16(v >> 16); u16(v & 0xFFFF); };
  u16(0xFF4F);
  u16(0xFF51), u16(41), u16(0), u32(w), u32(h), u32(0), u32(0), u32(tw), u32(th), u32(0), u32(0), u16(1);
  u8(7), u8(1), u8(1);
  u16(0xFF52), u16(12), u8(0), u8(0), u16(1), u8(0), u8(5), u8(4), u8(4), u8(0), u8(1);  // 5 levels, reversible
  u16(0xFF5C), u16(19), u8(0x40);
  for (int i = 0; i < 16; ++i) u8(0x48);
  u16(0xFF90), u16(10), u16(0), u32(12 + 2 + 6), u8(0), u8(1);
  u16(0xFF93);
  for (int i = 0; i < 6; ++i) u8(0);  // six empty packets
  u16(0xFFD9);
  return out;
}

std::string Box(const char* type, const std::string& body) {
  const uint32_t n = static_cast<uint32_t>(body.size() + 8);
  std::string out{static_cast<char>(n >> 24), static_cast<char>(n >> 16), static_cast<char>(n >> 8),
                  static_cast<char>(n)};
  return out + type + body;
}

std::string Jp2Around(const std::string& stream, uint32_t w, uint32_t h) {
  auto be = [](uint32_t v, int bytes) {
    std::string s;
    for (int i = bytes - 1; i >= 0; --i) s += static_cast<char>(v >> (8 * i));
    return s;
  };
  const std::string ihdr = be(h, 4) + be(w, 4) + be(1, 2) + be(7, 1) + be(7, 1) + be(0, 1) + be(0, 1);
  const std::string colr = be(1, 1) + be(0, 1) + be(0, 1) + be(17, 4);
  return std::string("\0\0\0\x0cjP  \r\n\x87\n", 12) + Box("ftyp", "jp2 " + be(0, 4) + "jp2 ") +
         Box("jp2h", Box("ihdr", ihdr) + Box("colr", colr)) + Box("jp2c", stream);
}

// A stream may not claim more tiles than it has bytes for, nor (beyond 2^24
// samples) more than 65536 samples per byte: such claims are refused before
// the codec allocates anything, in code streams and JP2 files alike. A blank
// picture within the bound still reads.
TEST_F(Jas, ClaimsBeyondTheDataAreRefused) {
  struct Case {
    const char* name;
    std::string bytes;
    bool reads;
  };
  const std::string huge = BlankCodeStream(16384, 16384, 16384, 16384);
  const std::string tiles = BlankCodeStream(255, 255, 1, 1);
  const std::string blank = BlankCodeStream(4096, 4096, 4096, 4096);
  const Case cases[] = {
      {"16384 square", huge, false},
      {"16384 square in a JP2", Jp2Around(huge, 16384, 16384), false},
      {"65025 tiles", tiles, false},
      {"65025 tiles in a JP2", Jp2Around(tiles, 255, 255), false},
      {"4096 square", blank, true},
      {"4096 square in a JP2", Jp2Around(blank, 4096, 4096), true},
  };
  for (const Case& c : cases) {
    PxImage image;
    EXPECT_EQ(DecodeBytes(image, c.bytes, kFormatJp2), c.reads) << c.name << ": " << image.LastError();
    if (c.reads) {
      EXPECT_EQ(image.Width(), 4096u) << c.name;
      EXPECT_EQ(pxtest::Rgb(image, 4095, 0), 0x808080u) << c.name;  // zero, lifted by the DC shift
    } else {
      EXPECT_STREQ(image.LastError(), "error: cannot load image data") << c.name;
    }
  }
  // The size alone is cheap: a dimensions-only read still tells it.
  PxImage size;
  size.info.escape = -1;
  ASSERT_TRUE(DecodeBytes(size, huge, kFormatJpc)) << size.LastError();
  EXPECT_EQ(size.Width(), 16384u);
}

// A JP2 in sYCC with chroma planes at half size, written here through
// OpenJPEG: it must come out in colour, at full size.
TEST_F(Jas, SubsampledYccBecomesRgb) {
  const uint32_t w = 32, h = 16;
  opj_image_cmptparm_t parms[3];
  std::memset(parms, 0, sizeof parms);
  for (int i = 0; i < 3; ++i) {
    parms[i].dx = parms[i].dy = i == 0 ? 1 : 2;
    parms[i].w = i == 0 ? w : w / 2;
    parms[i].h = i == 0 ? h : h / 2;
    parms[i].prec = 8;
  }
  opj_image_t* img = opj_image_create(3, parms, OPJ_CLRSPC_SYCC);
  ASSERT_NE(img, nullptr);
  img->x1 = w;
  img->y1 = h;
  // Left half pure red (Y 76, Cb 85, Cr 255), right half pure blue (Y 29, Cb 255, Cr 107).
  for (uint32_t y = 0; y < h; ++y)
    for (uint32_t x = 0; x < w; ++x) img->comps[0].data[y * w + x] = x < w / 2 ? 76 : 29;
  for (uint32_t y = 0; y < h / 2; ++y)
    for (uint32_t x = 0; x < w / 2; ++x) {
      img->comps[1].data[y * (w / 2) + x] = x < w / 4 ? 85 : 255;
      img->comps[2].data[y * (w / 2) + x] = x < w / 4 ? 255 : 107;
    }
  const std::string path = Path("ycc.jp2");
  ASSERT_TRUE(WriteJp2WithOpenJpeg(img, path, 3));

  auto image = Load(path, 0, kFormatJp2);
  ASSERT_TRUE(image);
  EXPECT_EQ(image->Width(), w);
  EXPECT_EQ(image->Height(), h);
  EXPECT_EQ(image->Bpp(), 24u);
  const uint32_t red = pxtest::Rgb(*image, 3, 3), blue = pxtest::Rgb(*image, 28, 12);
  EXPECT_GE(red >> 16, 250u);
  EXPECT_LE(red & 0xFFFF, 0x0505u);
  EXPECT_LE(blue >> 8, 0x0505u);
  EXPECT_GE(blue & 0xFF, 250u);
}

bool EncodeTo(PxImage& image, const std::string& path, ImageFormatId id) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  PxIOFile file(f);
  const bool ok = image.Encode(&file, id);
  std::fclose(f);
  return ok;
}

// Our writers, read back by ImageMagick and by our reader; small pictures
// too (a 1 x 1 code stream needs a single resolution level).
TEST_F(Jas, WrittenFilesReadBackInImageMagick) {
  auto colour = Load(Path("card.ppm"), 0, kFormatPnm);
  auto grey = Load(Path("grey.pgm"), 0, kFormatPnm);
  ASSERT_TRUE(colour && grey);
  PxImage tiny(5, 3, 24, kFormatPnm);
  pxtest::FillPattern(tiny);
  PxImage dot(1, 1, 24, kFormatPnm);
  pxtest::FillPattern(dot);
  struct Case {
    const char* file;
    PxImage* image;
    ImageFormatId id;
    int tolerance;
  };
  const Case cases[] = {
      {"w.jp2", colour.get(), kFormatJp2, 0},  {"w.j2k", colour.get(), kFormatJpc, 0},
      {"wg.jp2", grey.get(), kFormatJp2, 0},   {"w.pgx", grey.get(), kFormatPgx, 0},
      {"w.ppm", colour.get(), kFormatPnm, 0},  {"wg.pgm", grey.get(), kFormatPnm, 0},
      {"w.ras", colour.get(), kFormatRas, 0},  {"wg.ras", grey.get(), kFormatRas, 0},
      {"tiny.jp2", &tiny, kFormatJp2, 0},      {"dot.j2k", &dot, kFormatJpc, 0},
      {"odd.ras", &tiny, kFormatRas, 0},
  };
  for (const Case& c : cases) {
    c.image->info.jpegQuality = 100;  // rate 1: lossless
    const std::string out = Path(c.file);
    ASSERT_TRUE(EncodeTo(*c.image, out, c.id)) << c.file << ": " << c.image->LastError();
    const Reference ref = MagickRgb(out);
    EXPECT_LE(MaxDifference(*c.image, ref), c.tolerance) << c.file;
    auto back = Load(out, 0, c.id);
    ASSERT_TRUE(back) << c.file;
    EXPECT_EQ(back->info.formatId, c.id);
    EXPECT_EQ(MaxDifference(*back, ref), 0) << c.file;
  }
}

// Alpha is written where the format can mark it (JP2, J2K) and read back
// by ImageMagick and by us; colour and grey alike.
TEST_F(Jas, AlphaIsWritten) {
  auto colour = Load(Path("card.ppm"), 0, kFormatPnm);
  auto grey = Load(Path("grey.pgm"), 0, kFormatPnm);
  ASSERT_TRUE(colour && grey);
  for (PxImage* image : {colour.get(), grey.get()}) {
    ASSERT_TRUE(image->CreateAlphaPlane());
    for (uint32_t i = 0; i < image->Width() * image->Height(); ++i) image->alpha[i] = static_cast<uint8_t>(i * 7);
    image->info.jpegQuality = 100;
  }
  struct Case {
    const char* file;
    PxImage* image;
    ImageFormatId id;
  };
  const Case cases[] = {
      {"a.jp2", colour.get(), kFormatJp2},
      {"a.j2k", colour.get(), kFormatJpc},
      {"ga.jp2", grey.get(), kFormatJp2},
  };
  for (const Case& c : cases) {
    const std::string out = Path(c.file);
    ASSERT_TRUE(EncodeTo(*c.image, out, c.id)) << c.file << ": " << c.image->LastError();
    if (c.id == kFormatJp2) {  // a code stream cannot say which component is alpha
      EXPECT_EQ(AlphaDifference(*c.image, out), 0) << c.file;
    }
    EXPECT_EQ(MaxDifference(*c.image, MagickRgb(out, "-alpha off")), 0) << c.file;
    auto back = Load(out, 0, c.id);
    ASSERT_TRUE(back) << c.file;
    EXPECT_EQ(back->Bpp(), c.image->Bpp()) << c.file;
    ASSERT_NE(back->alpha, nullptr) << c.file;
    EXPECT_EQ(std::memcmp(back->alpha, c.image->alpha, size_t{c.image->Width()} * c.image->Height()), 0) << c.file;
  }
}

// Pictures of 1 and 4 bits whose palettes are grey but not the 256-step
// ramp (a PBM read by this library; sixteen greys in no order) are written
// to every grey format with the grey each pixel shows.
TEST_F(Jas, AnyGreyPaletteIsGrey) {
  ASSERT_TRUE(Sh("convert-im6.q16 " + Quote(Path("grey.pgm")) + " -threshold 50% " + Quote(Path("b.pbm"))));
  auto bitmap = Load(Path("b.pbm"), 0, kFormatPnm);
  ASSERT_TRUE(bitmap);
  ASSERT_EQ(bitmap->Bpp(), 1u);
  PxImage sixteen(23, 9, 4, 0);
  for (uint32_t i = 0; i < 16; ++i) {
    const uint8_t level = static_cast<uint8_t>((i * 7 % 16) * 17);
    sixteen.StorePaletteEntry(static_cast<uint8_t>(i), level, level, level);
  }
  pxtest::FillPattern(sixteen);
  for (uint32_t i = 0; i < 16; ++i) {  // FillPattern sets its own colours: make them grey again
    const uint8_t level = static_cast<uint8_t>((i * 7 % 16) * 17);
    sixteen.StorePaletteEntry(static_cast<uint8_t>(i), level, level, level);
  }
  for (PxImage* image : {bitmap.get(), &sixteen}) {
    image->info.jpegQuality = 100;
    for (ImageFormatId id : {kFormatPnm, kFormatRas, kFormatPgx, kFormatJp2}) {
      const std::string out = Path("grey" + std::to_string(image->Bpp()) + "." + std::to_string(id));
      ASSERT_TRUE(EncodeTo(*image, out, id)) << image->Bpp() << " bits, format " << id << ": " << image->LastError();
      auto back = Load(out, 0, id);
      ASSERT_TRUE(back) << out;
      int worst = 0;
      for (int y = 0; y < static_cast<int>(image->Height()); ++y)
        for (int x = 0; x < static_cast<int>(image->Width()); ++x)
          worst = std::max(worst, std::abs(static_cast<int>(pxtest::Rgb(*back, x, y) & 0xFF) -
                                           static_cast<int>(pxtest::Rgb(*image, x, y) & 0xFF)));
      EXPECT_EQ(worst, 0) << out;
    }
  }
}

TEST_F(Jas, LossyRateAndQualityZero) {
  auto colour = Load(Path("card.ppm"), 0, kFormatPnm);
  ASSERT_TRUE(colour);
  colour->info.jpegQuality = 100;
  ASSERT_TRUE(EncodeTo(*colour, Path("full.jp2"), kFormatJp2));
  colour->info.jpegQuality = 10;
  ASSERT_TRUE(EncodeTo(*colour, Path("tenth.jp2"), kFormatJp2));
  colour->info.jpegQuality = 0;
  ASSERT_TRUE(EncodeTo(*colour, Path("zero.jp2"), kFormatJp2)) << colour->LastError();
  const size_t full = pxtest::ReadBytes(Path("full.jp2")).size();
  const size_t tenth = pxtest::ReadBytes(Path("tenth.jp2")).size();
  const size_t raw = 61 * 47 * 3;
  EXPECT_LT(tenth, full);
  EXPECT_LE(tenth, raw / 10 + 400);  // a tenth of the raw size, and the boxes
  auto back = Load(Path("zero.jp2"), 0, kFormatJp2);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->Width(), 61u);
}

// Decodes and encodes share nothing: the batch tools run them on several
// threads at once.
TEST_F(Jas, ParallelCodecsAgree) {
  const std::string jp2 = Path("p.jp2");
  ASSERT_TRUE(Sh("convert-im6.q16 " + Quote(Path("card.ppm")) + " -quality 60 " + Quote(jp2)));
  auto reference = Load(jp2, 0, kFormatJp2);
  ASSERT_TRUE(reference);
  std::vector<std::thread> workers;
  int failures[6] = {};
  for (int t = 0; t < 6; ++t) {
    workers.emplace_back([&, t] {
      for (int round = 0; round < 5; ++round) {
        auto image = Load(jp2, 0, kFormatJp2);
        if (!image || image->ImageBytes() != reference->ImageBytes() ||
            std::memcmp(image->PixelRows(), reference->PixelRows(), reference->ImageBytes()) != 0)
          ++failures[t];
        PxMemFile out;
        out.Open();
        if (!image || !image->Encode(&out, t % 2 ? kFormatJpc : kFormatJp2)) ++failures[t];
      }
    });
  }
  for (auto& w : workers) w.join();
  for (int f : failures) EXPECT_EQ(f, 0);
}

TEST_F(Jas, WriterRefusals) {
  PxImage colour(4, 4, 24, 0);
  pxtest::FillPattern(colour);
  PxImage palette(4, 4, 8, 0);
  pxtest::FillPattern(palette);
  PxImage grey(4, 4, 8, 0);
  grey.MakeGrayPalette();
  PxMemFile out;
  out.Open();
  EXPECT_FALSE(colour.Encode(&out, kFormatPgx));
  EXPECT_STREQ(colour.LastError(), "PGX can save only GrayScale images");
  EXPECT_FALSE(palette.Encode(&out, kFormatJp2));
  EXPECT_STREQ(palette.LastError(), "JasPer can save only RGB or GrayScale images");
  EXPECT_FALSE(colour.Encode(nullptr, kFormatJp2));
  EXPECT_STREQ(colour.LastError(), "null file handler");
  PxImage empty;
  EXPECT_FALSE(empty.Encode(&out, kFormatRas));
  EXPECT_STREQ(empty.LastError(), "null image!!!");
  EXPECT_TRUE(grey.Encode(&out, kFormatPgx)) << grey.LastError();
}

}  // namespace
