// The merged image: compression methods, colour modes and depths, extra
// channels and the synthesised layer; and the colour helpers.
#include <gtest/gtest.h>

#include "psd_test_support.h"

using namespace psdtest;

namespace {

Bytes Concat(const std::vector<Bytes>& parts) {
  Bytes out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

Bytes Compressed(uint16_t method, const Bytes& payload) {
  return W().u16(method).raw(payload).b;
}

// Row-delta encoding of 8-bit rows.
Bytes Predict8(const Bytes& planes, size_t width) {
  Bytes out = planes;
  for (size_t row = 0; row < out.size(); row += width)
    for (size_t i = width - 1; i > 0; --i) out[row + i] = uint8_t(planes[row + i] - planes[row + i - 1]);
  return out;
}

TEST(PsdImageData, ZipAndZipWithPrediction) {
  const Bytes r = {10, 20, 30, 40, 50, 60}, g = {1, 2, 3, 4, 5, 6}, b = {200, 100, 0, 255, 7, 8};
  const Bytes planes = Concat({r, g, b});
  for (uint16_t method : {2, 3}) {
    Bytes payload = Deflate(method == 3 ? Predict8(planes, 3) : planes);
    auto d = Decode(Document(Header(3, 2, 3, 8, 3), {}, {}, {}, Compressed(method, payload)));
    ASSERT_EQ(d->status, 0) << method;
    for (int i = 0; i < 6; ++i)
      EXPECT_EQ(d->ctx.merged_image[i],
                0xFF000000u | uint32_t(r[i]) << 16 | uint32_t(g[i]) << 8 | b[i])
          << method << " " << i;
  }
}

TEST(PsdImageData, Prediction16CarriesIntoTheHighByte) {
  Bytes row = {0x00, 0x01, 0xFF, 0xFF};  // 0x0001, then +0xFFFF
  Bytes out(4);
  Bytes packed = Deflate(row);
  ASSERT_EQ(psd_inflate_predicted(packed.data(), int64_t(packed.size()), out.data(), 4, 2, 16), 0);
  EXPECT_EQ(out, (Bytes{0x00, 0x01, 0x00, 0x00}));
}

TEST(PsdImageData, InflateEndsEarlyOrFails) {
  Bytes half = Deflate({1, 2, 3});
  Bytes out(6, 0xEE);
  EXPECT_EQ(psd_inflate(half.data(), int64_t(half.size()), out.data(), 6), 0);
  EXPECT_EQ(out, (Bytes{1, 2, 3, 0xEE, 0xEE, 0xEE}));
  Bytes junk = {0x78, 0x9C, 0xFF, 0xFF, 0xFF, 0xFF};
  EXPECT_EQ(psd_inflate(junk.data(), 6, out.data(), 6), psd_status_inflate_failed);
  auto d = Decode(Document(Header(1, 1, 6, 8, 1), {}, {}, {}, Compressed(2, junk)));
  EXPECT_EQ(d->status, psd_status_inflate_failed);
}

TEST(PsdImageData, PackBitsRuns) {
  // Row counts: 5, 0, -1, 4. Row 1: 0x80 no-op, 0xFF repeat twice, 0x00 copy one.
  W w;
  w.u16(5).u16(0).u16(0xFFFF).u16(4);
  w.u8(0x80).u8(0xFF).u8(7).u8(0x00).u8(9);
  w.u8(0x01).u8(1).u8(2).u8(0x80);
  Bytes out(8, 0xEE);
  EXPECT_EQ(psd_unpack_rows(w.b.data(), int64_t(w.size()), out.data(), 8, 4), 5);
  EXPECT_EQ(out, (Bytes{7, 7, 9, 1, 2, 0xEE, 0xEE, 0xEE}));
  // Output stops at the plane's end whatever the runs claim.
  W big;
  big.u16(2).u8(0x81).u8(5);
  Bytes small(3);
  EXPECT_EQ(psd_unpack_rows(big.b.data(), int64_t(big.size()), small.data(), 3, 1), 3);
}

TEST(PsdImageData, UnknownMethodIsAnErrorInTheMergedImage) {
  auto d = Decode(Document(Header(1, 1, 2, 8, 1), {}, {}, {}, Compressed(4, {1, 2})));
  EXPECT_EQ(d->status, psd_status_unsupported_compression);
}

TEST(PsdImageData, ShortRawDataLeavesZeros) {
  auto d = Decode(Document(Header(1, 2, 2, 8, 1), {}, {}, {}, Compressed(0, {0x40})));
  ASSERT_EQ(d->status, 0);
  EXPECT_EQ(d->ctx.merged_image[0], 0xFF404040u);
  EXPECT_EQ(d->ctx.merged_image[3], 0xFF000000u);
}

struct ModeCase {
  const char* name;
  uint16_t mode, depth, channels;
  Bytes planes;  // all planes, one pixel each unless noted
  uint32_t width;
  std::vector<psd_argb> expected;
};

TEST(PsdColour, ModesAndDepths) {
  const ModeCase cases[] = {
      {"grey8", 1, 8, 1, {0x40}, 1, {0xFF404040}},
      {"grey8 alpha after colour", 1, 8, 2, {0x40, 0x80}, 1, {0x80404040}},
      {"duotone", 8, 8, 1, {0x41}, 1, {0xFF414141}},
      {"grey16", 1, 16, 1, {0x80, 0x11}, 1, {0xFF808080}},
      {"rgb16", 3, 16, 3, {0x80, 0, 0x80, 0, 0x80, 0}, 1, {0xFF808080}},
      {"rgba8", 3, 8, 4, {1, 2, 3, 4}, 1, {0x04010203}},
      {"cmyk white", 4, 8, 4, {255, 255, 255, 255}, 1, {0xFFFFFFFF}},
      {"cmyk red", 4, 8, 4, {0, 255, 255, 255}, 1, {0xFF01FFFF}},
      {"cmyk alpha", 4, 8, 5, {255, 255, 255, 255, 9}, 1, {0x09FFFFFF}},
      {"multichannel 3 white", 7, 8, 3, {255, 255, 255}, 1, {0xFFFFFFFF}},
      {"multichannel 3 black", 7, 8, 3, {0, 0, 0}, 1, {0xFF010101}},
      {"multichannel 4", 7, 8, 4, {0, 255, 255, 255}, 1, {0xFF01FFFF}},
      {"bitmap", 0, 1, 1, {0x80}, 3, {0xFF000000, 0xFFFFFFFF, 0xFFFFFFFF}},
      {"indexed", 2, 8, 1, {1}, 1, {0xFF030303}},
  };
  Bytes palette(768);
  for (int i = 0; i < 256; ++i) palette[i] = palette[256 + i] = palette[512 + i] = uint8_t(3 * i);
  for (const auto& c : cases) {
    std::vector<Bytes> planes;
    const size_t plane_bytes = c.planes.size() / c.channels;
    for (size_t k = 0; k < c.channels; ++k)
      planes.emplace_back(c.planes.begin() + k * plane_bytes,
                          c.planes.begin() + (k + 1) * plane_bytes);
    auto d = Decode(Document(Header(c.channels, 1, c.width, c.depth, c.mode),
                             c.mode == 2 ? palette : Bytes{}, {}, {}, RawImage(planes)));
    ASSERT_EQ(d->status, 0) << c.name;
    for (size_t i = 0; i < c.expected.size(); ++i)
      EXPECT_EQ(d->ctx.merged_image[i], c.expected[i]) << c.name << " " << i;
  }
}

TEST(PsdColour, LabStaysInRange) {
  auto d = Decode(Document(Header(3, 1, 2, 8, 9), {}, {}, {},
                           RawImage({{255, 0}, {128, 255}, {128, 0}})));
  ASSERT_EQ(d->status, 0);
  psd_argb white = d->ctx.merged_image[0];
  EXPECT_EQ(white >> 24, 0xFFu);
  EXPECT_GE(white >> 16 & 0xFF, 240u);
  EXPECT_GE(white & 0xFF, 240u);
  EXPECT_EQ(d->ctx.merged_image[1] >> 24, 0xFFu);  // black with extreme a and b, clamped
}

TEST(PsdColour, IndexedTransparentAndCountedEntries) {
  Bytes palette(768, 0x55);
  Bytes res = W().raw(Resource(1047, {0, 0})).raw(Resource(1046, {0, 2})).b;
  auto d = Decode(Document(Header(1, 1, 3, 8, 2), palette, res, {}, RawImage({{0, 1, 2}})));
  ASSERT_EQ(d->status, 0);
  EXPECT_EQ(d->ctx.merged_image[0], 0x00FFFFFFu);  // the transparent index
  EXPECT_EQ(d->ctx.merged_image[1], 0xFF555555u);
  EXPECT_EQ(d->ctx.merged_image[2], 0x00FFFFFFu);  // beyond the counted entries
}

TEST(PsdColour, NoConversionIsAnErrorWithTheImageZeroed) {
  auto d = Decode(Document(Header(1, 1, 2, 16, 7), {}, {}, {}, RawImage({{1, 2, 3, 4}})));
  EXPECT_EQ(d->status, psd_status_unsupported_depth);
  auto e = Decode(Document(Header(1, 1, 2, 8, 0), {}, {}, {}, RawImage({{1, 2}})));
  EXPECT_EQ(e->status, psd_status_unsupported_depth);
}

TEST(PsdColour, RecordConversions) {
  psd_argb v = 0;
  const int16_t hsb[4] = {0, 100, 50, 0};
  ASSERT_EQ(psd_color_to_argb(&v, 1, hsb), 0);
  EXPECT_EQ(v, 0xFFFF0000u);
  const int16_t cmyk[4] = {0, 0, 0, 0};
  ASSERT_EQ(psd_color_to_argb(&v, 2, cmyk), 0);
  EXPECT_EQ(v, 0xFFFFFFFFu);
  const int16_t lab[4] = {100, 0, 0, 0};
  ASSERT_EQ(psd_color_to_argb(&v, 7, lab), 0);
  EXPECT_GE(v & 0xFF, 250u);
  EXPECT_EQ(psd_color_to_argb(&v, 5, lab), psd_status_unknown_color_space);
  EXPECT_EQ(v, 0x00FFFFFFu);
  EXPECT_EQ(psd_hsl_to_argb(0, 0, 0.5), 0xFF7F7F7Fu);
  EXPECT_EQ(psd_hue_component(-60, 0, 1), 0);
}

TEST(PsdImageData, ExtraChannel16KeepsHighBytes) {
  Bytes res = Resource(1006, W().u8(1).str("A").b);
  auto d = Decode(Document(Header(2, 1, 2, 16, 1), {}, res, {},
                           RawImage({{1, 0, 2, 0}, {0xAB, 0xCD, 0x12, 0x34}})));
  ASSERT_EQ(d->status, 0);
  ASSERT_EQ(d->ctx.extra_channel_count, 1);
  EXPECT_EQ(d->ctx.extra_channels[0].plane[0], 0xAB);
  EXPECT_EQ(d->ctx.extra_channels[0].plane[1], 0x12);
  EXPECT_FALSE(psd_merged_has_alpha(&d->ctx));
  EXPECT_EQ(d->ctx.merged_image[0], 0xFF010101u);
}

TEST(PsdImageData, SynthesisedLayerFollowsThePlaneOrder) {
  Bytes doc = Document(Header(4, 1, 1, 8, 3), {}, {}, {}, RawImage({{1}, {2}, {3}, {4}}));
  auto d = Decode(doc);
  ASSERT_EQ(d->status, 0);
  ASSERT_EQ(d->ctx.layer_count, 1);
  const psd_layer_record& l = d->ctx.layers[0];
  ASSERT_EQ(l.channel_count, 4);
  EXPECT_EQ(l.channel_infos[0].id, 0);
  EXPECT_EQ(l.channel_infos[3].id, -1);
  EXPECT_EQ(l.pixels[0], 0x04010203u);
  EXPECT_EQ(l.divider_blend_mode, 23);
  EXPECT_TRUE(l.mask_disabled);
  EXPECT_EQ(l.blend_range_count, 4);
  EXPECT_NE(d->ctx.merged_image, nullptr);

  auto moved = Decode(doc, psd_load_layers);
  ASSERT_EQ(moved->status, 0);
  EXPECT_EQ(moved->ctx.merged_image, nullptr);
  EXPECT_EQ(moved->ctx.layers[0].pixels[0], 0x04010203u);

  auto merged_only = Decode(doc, psd_load_merged_and_extra_channels);
  ASSERT_EQ(merged_only->status, 0);
  EXPECT_EQ(merged_only->ctx.layer_count, 0);
}

// A few bytes cannot hold a 30000 x 30000 picture: refused before any
// gigabyte-sized buffer is made. The same document with its data decodes.
TEST(PsdImageData, SizesTheFileCannotHoldAreRefused) {
  auto d = Decode(Document(Header(3, 30000, 30000, 8, 3), {}, {}, {}, Compressed(0, {1, 2, 3})));
  EXPECT_EQ(d->status, psd_status_no_data);
  EXPECT_EQ(d->ctx.merged_image, nullptr);
  // A small picture with short data still decodes, the rest zeroed.
  auto e = Decode(Document(Header(3, 40, 40, 8, 3), {}, {}, {}, Compressed(0, {1, 2, 3})));
  ASSERT_EQ(e->status, 0);
  EXPECT_EQ(e->ctx.merged_image[1], 0xFF020000u);
  EXPECT_EQ(e->ctx.merged_image[5], 0xFF000000u);
}


}  // namespace
