// Damaged documents: every fixture cut short at many offsets and with bytes
// changed at many places gives a status, never a crash, a hang or a leak
// (the sanitizer build checks the last two).
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "imagelib/PxImagePSD.h"
#include "psd_fixtures.h"
#include "psd_test_support.h"

using namespace psdtest;

namespace {

// A layered RGB document that carries every kind of block the decoder reads.
Bytes RichDocument() {
  W res;
  res.raw(Resource(1005, W().u32(72 << 16).u16(1).u16(1).u32(72 << 16).u16(1).u16(1).b));
  res.raw(Resource(1006, W().u8(5).str("Alpha").b));
  res.raw(Resource(1045, Unicode("Alpha")));
  res.raw(Resource(1053, W().u32(7).b));
  res.raw(Resource(1036, W().u32(1).u32(4).u32(3).u32(12).u32(36).u32(4).u16(24).u16(1).u32(0xFFD8FFD9).b));
  res.raw(Resource(1057, W().u32(1).u8(1).raw(Unicode("W")).raw(Unicode("R")).u32(1).b));
  res.raw(Resource(1026, {0, 1, 0, 2}));

  Layer a;
  a.bottom = 3;
  a.right = 4;
  a.channels = {{-1, RawChannel(Bytes(12, 200))},
                {0, W().u16(2).raw(Deflate(Bytes(12, 9))).b},
                {1, W().u16(3).raw(Deflate(Bytes(12, 1))).b},
                {2, W().u16(1).u16(2).u16(2).u16(2).u8(0xFD).u8(5).u8(0xFD).u8(6).u8(0xFD).u8(7).b},
                {-2, RawChannel(Bytes(4, 128))}};
  a.mask = W().u32(0).u32(0).u32(2).u32(2).u8(255).u8(0).u8(0).u8(0).u32(0).u32(0).u32(2).u32(2).b;
  a.blending_set = true;
  a.blending = W().u16(0).u16(0xFFFF).u16(0).u16(0xFFFF).u16(0).u16(0xFFFF).u16(0).u16(0xFFFF).b;
  a.name = "Layer one";
  W blocks;
  blocks.raw(Block("luni", Unicode("Layer one")));
  blocks.raw(Block("lyid", W().u32(3).b));
  blocks.raw(Block("lrFX", W().u16(0).u16(2).str("8BIM").str("cmnS").u32(7).u32(0).u8(1).u16(0)
                               .str("8BIM").str("sofi").u32(34).u32(2).str("8BIM").str("norm")
                               .u16(0).u16(0x0A00).zeros(6).u8(200).u8(1).u16(0).zeros(8).b));
  blocks.raw(Block("lfx2", Lfx2({Item("Scl ", "UntF", UnitDouble("#Prc", 100)),
                                 Item("masterFXSwitch", "bool", Bool(true)),
                                 Item("DrSh", "Objc", Descriptor("DrSh", {
                                     Item("Clr ", "Objc", RgbColor(1, 2, 3)),
                                     Item("TrnS", "Objc", Contour({{0, 0}, {128, 200}, {255, 255}}))})),
                                 Item("FrFX", "Objc", Descriptor("FrFX", {
                                     Item("Grad", "Objc", Descriptor("Grdn", {Item("Nm  ", "TEXT", Unicode("g"))})),
                                     Item("Ptrn", "Objc", Descriptor("Ptrn", {Item("Idnt", "TEXT", Unicode("x"))}))}))})));
  blocks.raw(Block("SoCo", W().u32(16).raw(Unicode("")).raw(Id("null")).u32(1).raw(Id("Clr "))
                               .str("Objc").raw(RgbColor(9, 8, 7)).b));
  blocks.raw(Block("thrs", {0, 100, 0, 0}));
  blocks.raw(Block("tySh", W().u16(1).zeros(48).u16(6).u16(1).u16(1).u32(0).u8(1).str("A").u8(0).u8(0)
                               .u16(0).u32(1).u32(5).u16(6).u16(1).zeros(27).u16(0).zeros(24).u16(1)
                               .u32(1).zeros(8).u16(0).zeros(8).u8(1).b));
  a.blocks = blocks.b;

  Layer folder;
  folder.bottom = folder.right = 0;
  folder.name = "Group";
  folder.blocks = Block("lsct", W().u32(1).str("8BIM").str("pass").b);
  Layer divider;
  divider.bottom = divider.right = 0;
  divider.blocks = Block("lsct", W().u32(3).b);

  W patt;
  patt.raw(Pattern(1, 3, 2, 2, {{1, 2, 3, 4}, {5, 6, 7, 8}, {9, 10, 11, 12}}, 2));
  W global;
  global.raw(Block("Patt", patt.b));
  W mask;
  mask.u16(0).zeros(8).u16(50).u8(1).u8(0);

  // The merged image, PackBits: four channels of three rows.
  W image;
  image.u16(1);
  for (int i = 0; i < 12; ++i) image.u16(2);
  for (int i = 0; i < 12; ++i) image.u8(0xFD).u8(uint32_t(i * 20));
  return Document(Header(4, 3, 4, 8, 3), {}, res.b,
                  LayerSection(LayerInfo({divider, a, folder}), mask.b, global.b), image.b);
}

Bytes ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

std::vector<Bytes> Fixtures() {
  std::vector<Bytes> out = {RichDocument()};
  std::string pattern = (std::filesystem::temp_directory_path() / "pw_psd_XXXXXX").string();
  const std::string dir = mkdtemp(pattern.data());
  const char* makes[] = {
      "-seed 1 -size 9x7 plasma:fractal -depth 8 \\( -size 4x3 xc:red -alpha set \\) -compress RLE",
      "-size 6x5 gradient:white-black -colorspace Gray -alpha set -depth 16 -compress Zip",
      "-seed 2 -size 5x4 plasma:fractal -colorspace CMYK -depth 8 -compress None",
  };
  int n = 0;
  for (const char* make : makes) {
    std::string file = dir + "/" + std::to_string(n++) + ".psd";
    std::string command = std::string("convert-im6.q16 ") + make + " " + file + " 2>/dev/null";
    if (std::system(command.c_str()) == 0) out.push_back(ReadFile(file));
  }
  std::system(("rm -rf " + dir).c_str());
  return out;
}

void DecodeEveryWay(const Bytes& bytes) {
  for (int32_t mode : {psd_load_everything, psd_load_layers, psd_load_merged_and_extra_channels}) {
    auto d = Decode(bytes, mode);
    EXPECT_LE(d->status, 0);
    if (d->status == 0 && d->ctx.merged_image) {
      EXPECT_GT(d->ctx.width, 0);
      EXPECT_GT(d->ctx.height, 0);
    }
  }
  Bytes copy = bytes;
  PxMemFile file(copy.data(), int32_t(copy.size()));
  PxImagePSD image;
  if (image.Decode(&file)) {
    EXPECT_TRUE(image.HasPixels());
  } else {
    EXPECT_STRNE(image.LastError(), "");
  }
}

TEST(PsdRobustness, FixturesDecodeCleanly) {
  int index = 0;
  for (const Bytes& f : Fixtures()) {
    auto d = Decode(f);
    ASSERT_EQ(d->status, 0) << "fixture " << index++;
    ASSERT_NE(d->ctx.merged_image, nullptr);
  }
  auto rich = Decode(RichDocument());
  ASSERT_EQ(rich->status, 0);
  EXPECT_EQ(rich->ctx.layer_count, 3);
  EXPECT_EQ(rich->ctx.pattern_count, 1);
  EXPECT_EQ(rich->ctx.layers[1].adjustment_count, 5);
  EXPECT_EQ(rich->ctx.layers[2].layer_kind, psd_layer_folder);
  EXPECT_EQ(rich->ctx.layers[1].layer_kind, psd_layer_threshold);  // only pixel layers join folders
}

TEST(PsdRobustness, TruncatedAtManyOffsets) {
  for (const Bytes& f : Fixtures()) {
    const size_t steps = 40;
    for (size_t k = 0; k < steps; ++k) {
      size_t cut = f.size() * k / steps;
      DecodeEveryWay(Bytes(f.begin(), f.begin() + cut));
    }
  }
}

TEST(PsdRobustness, BytesChangedAtManyPlaces) {
  uint32_t seed = 12345;
  auto next = [&seed] { return seed = seed * 1103515245u + 12345u; };
  const uint8_t values[] = {0x00, 0xFF, 0x7F, 0x80, 0x01};
  for (const Bytes& f : Fixtures()) {
    for (int k = 0; k < 60; ++k) {
      Bytes damaged = f;
      size_t at = (next() >> 8) % damaged.size();
      damaged[at] = k % 2 ? uint8_t(damaged[at] ^ 0xFF) : values[(next() >> 8) % 5];
      DecodeEveryWay(damaged);
    }
  }
}

}  // namespace
