// The layer and mask section: records, masks, blending ranges, names,
// simple additional-information keys, folders, "Lr16" and global blocks.
#include <gtest/gtest.h>

#include "psd_test_support.h"

using namespace psdtest;

namespace {

Bytes Merged2x2() { return RawImage({{1, 2, 3, 4}, {5, 6, 7, 8}, {9, 10, 11, 12}}); }

Bytes Doc(const Bytes& section) { return Document(Header(3, 2, 2, 8, 3), {}, {}, section, Merged2x2()); }

Layer Pixels(const std::string& name = "L") {
  Layer l;
  l.name = name;
  l.channels = {{-1, RawChannel({255, 255, 0, 0})},
                {0, RawChannel({1, 2, 3, 4})},
                {1, RawChannel({5, 6, 7, 8})},
                {2, RawChannel({9, 10, 11, 12})}};
  return l;
}

TEST(PsdLayers, RecordFieldsAndPixels) {
  Layer l = Pixels("Background");
  l.flags = 0x1A;
  l.opacity = 128;
  l.blend = "mul ";
  auto d = Decode(Doc(LayerSection(LayerInfo({l}))));
  ASSERT_EQ(d->status, 0);
  ASSERT_EQ(d->ctx.layer_count, 1);
  const psd_layer_record& r = d->ctx.layers[0];
  EXPECT_EQ(r.width, 2);
  EXPECT_EQ(r.height, 2);
  EXPECT_EQ(r.blend_mode, 3);
  EXPECT_EQ(r.opacity, 128);
  EXPECT_FALSE(r.visible);
  EXPECT_FALSE(r.transparency_protected);
  EXPECT_FALSE(r.obsolete_flag);
  EXPECT_TRUE(r.pixels_irrelevant);
  EXPECT_STREQ(r.name, "Background");
  EXPECT_EQ(r.blend_range_count, 0);  // an empty blending-ranges block
  ASSERT_NE(r.pixels, nullptr);
  EXPECT_EQ(r.pixels[0], 0xFF010509u);
  EXPECT_EQ(r.pixels[3], 0x0004080Cu);
  // The merged image is still decoded and there is no synthesised layer.
  EXPECT_EQ(d->ctx.merged_image[0], 0xFF010509u);

  Layer only_bit4 = Pixels();
  only_bit4.flags = 0x10;
  auto e = Decode(Doc(LayerSection(LayerInfo({only_bit4}))));
  ASSERT_EQ(e->status, 0);
  EXPECT_FALSE(e->ctx.layers[0].pixels_irrelevant);
  EXPECT_TRUE(e->ctx.layers[0].visible);
}

TEST(PsdLayers, NegativeCountAndEmptyInfo) {
  auto d = Decode(Doc(LayerSection(LayerInfo({Pixels("a"), Pixels("b")}, -2))));
  ASSERT_EQ(d->status, 0);
  EXPECT_EQ(d->ctx.layer_count, 2);
  EXPECT_STREQ(d->ctx.layers[1].name, "b");

  W empty;
  empty.u32(0);
  W mask;
  mask.u16(0).u16(0xFF00).u16(0).u16(0).u16(0).u16(40).u8(1).u8(0);
  auto e = Decode(Doc(LayerSection(empty.b, mask.b)));
  ASSERT_EQ(e->status, 0);
  EXPECT_EQ(e->ctx.layer_count, 1);  // synthesised
  EXPECT_EQ(e->ctx.mask_overlay_color, 0xFFFF0000u);
  EXPECT_EQ(e->ctx.mask_opacity, 40);
  EXPECT_EQ(e->ctx.mask_kind, 1);

  // A layer count of -32768 is 32768 layers as stored, bounded by the data.
  W minimum;
  minimum.u32(2).u16(0x8000);
  auto f = Decode(Doc(LayerSection(minimum.b)));
  ASSERT_EQ(f->status, 0);
  EXPECT_EQ(f->ctx.layer_count, 1);  // none could be read: one is synthesised
}

TEST(PsdLayers, MasksOfTwentyAndThirtySixBytes) {
  Layer short_mask = Pixels();
  short_mask.mask = W().u32(0).u32(0).u32(1).u32(2).u8(200).u8(0x05).u16(0).b;
  Layer long_mask = Pixels();
  long_mask.mask =
      W().u32(0).u32(0).u32(1).u32(1).u8(10).u8(0).u8(0x02).u8(77).u32(0).u32(0).u32(2).u32(2).b;
  short_mask.channels.push_back({-2, RawChannel({50, 60})});
  auto d = Decode(Doc(LayerSection(LayerInfo({short_mask, long_mask}))));
  ASSERT_EQ(d->status, 0);
  const psd_layer_record& a = d->ctx.layers[0];
  EXPECT_EQ(a.mask_width, 2);
  EXPECT_EQ(a.mask_height, 1);
  EXPECT_EQ(a.mask_default_color, 200);
  EXPECT_TRUE(a.mask_relative);
  EXPECT_FALSE(a.mask_disabled);
  EXPECT_TRUE(a.mask_invert);
  ASSERT_NE(a.mask_pixels, nullptr);
  EXPECT_EQ(a.mask_pixels[1], 60);
  const psd_layer_record& b = d->ctx.layers[1];
  EXPECT_EQ(b.mask_default_color, 77);
  EXPECT_TRUE(b.mask_disabled);
  EXPECT_EQ(b.mask_width, 2);  // the real rectangle replaces the first
  EXPECT_EQ(b.mask_bottom, 2);
  const psd_layer_record& none = Decode(Doc(LayerSection(LayerInfo({Pixels()}))))->ctx.layers[0];
  (void)none;
}

TEST(PsdLayers, BlendingRanges) {
  Layer four = Pixels();
  four.blending_set = true;
  W ranges;
  ranges.u16(1).u16(2).u16(3).u16(4);
  for (int i = 0; i < 4; ++i) ranges.u16(10 * i).u16(10 * i + 1).u16(10 * i + 2).u16(10 * i + 3);
  four.blending = ranges.b;
  auto d = Decode(Doc(LayerSection(LayerInfo({four}))));
  ASSERT_EQ(d->status, 0);
  const psd_layer_record& r = d->ctx.layers[0];
  EXPECT_EQ(r.gray_dest_white, 4);
  ASSERT_EQ(r.blend_range_count, 4);
  EXPECT_EQ(r.dest_white[3], 33);

  Layer grey_only = Pixels();
  grey_only.blending_set = true;
  grey_only.blending = W().u16(1).u16(2).u16(3).u16(4).b;
  EXPECT_EQ(Decode(Doc(LayerSection(LayerInfo({grey_only}))))->status,
            psd_status_invalid_blending_channels);
}

TEST(PsdLayers, NamesBlocksAndSimpleKeys) {
  Layer l = Pixels("abcde");  // length 5: 7 more bytes
  W blocks;
  blocks.raw(Block("luni", W().raw(Unicode("Name")).b));
  blocks.raw(Block("lclr", {1, 2, 3, 4, 0, 0, 0, 0}));
  blocks.raw(Block("zzzz", {1, 2, 3, 4, 5}));  // unhandled, odd: 6 bytes
  blocks.raw(Block("brst", W().u32(1).b));
  blocks.raw(Block("clbl", {0, 0, 0, 0}));
  blocks.raw(Block("infx", {1, 0, 0, 0}));
  blocks.raw(Block("knko", {1, 0, 0, 0}));
  blocks.raw(Block("lmgm", {1, 0, 0, 0}));
  blocks.raw(Block("tsly", {0, 0, 0, 0}));
  blocks.raw(Block("vmgm", {1, 0, 0, 0}));
  blocks.raw(Block("iOpa", {99, 0, 0, 0}));
  blocks.raw(Block("lspf", {0, 0, 0, 5}));
  blocks.raw(Block("lnsr", W().str("layr").b));
  blocks.raw(Block("lyid", W().u32(42).b));
  blocks.raw(Block("lyvr", W().u32(3).b));
  blocks.raw(Block("fxrp", W().f64(12.9).f64(-3.5).b));
  l.blocks = blocks.b;
  auto d = Decode(Doc(LayerSection(LayerInfo({l}))));
  ASSERT_EQ(d->status, 0);
  const psd_layer_record& r = d->ctx.layers[0];
  EXPECT_STREQ(r.name, "abcde");
  EXPECT_EQ(r.unicode_name_length, 4);
  EXPECT_EQ(r.unicode_name[0], 0x4E00);  // stored big-endian
  EXPECT_EQ(r.sheet_color, 0xFF010203u);
  EXPECT_TRUE(r.channel_infos[2].blend_restricted);  // id 1
  EXPECT_FALSE(r.channel_infos[1].blend_restricted);
  EXPECT_FALSE(r.blend_clipped);
  EXPECT_TRUE(r.blend_interior);
  EXPECT_TRUE(r.knockout);
  EXPECT_TRUE(r.mask_as_global);
  EXPECT_FALSE(r.transparency_shapes);
  EXPECT_TRUE(r.vector_mask_as_global);
  EXPECT_EQ(r.fill_opacity, 99);
  EXPECT_TRUE(r.protect_transparency);
  EXPECT_FALSE(r.protect_composite);
  EXPECT_TRUE(r.protect_position);
  EXPECT_EQ(r.name_source, 0x6C617972);  // "layr"
  EXPECT_EQ(r.layer_id, 42);
  EXPECT_EQ(r.layer_version, 3);
  EXPECT_EQ(r.reference_x, 12);
  EXPECT_EQ(r.reference_y, -3);
}

TEST(PsdLayers, BadAdditionalSignature) {
  Layer l = Pixels();
  l.blocks = W().str("8BIX").str("lyid").u32(4).u32(1).b;
  EXPECT_EQ(Decode(Doc(LayerSection(LayerInfo({l}))))->status,
            psd_status_additional_signature_mismatch);
  Layer divider = Pixels();
  divider.blocks = Block("lsct", W().u32(1).str("8BIX").str("norm").b);
  EXPECT_EQ(Decode(Doc(LayerSection(LayerInfo({divider}))))->status,
            psd_status_divider_signature_mismatch);
}

TEST(PsdLayers, FoldersFromTheLastRecord) {
  auto with_divider = [](uint32_t type, bool long_form) {
    Layer l = Pixels();
    W body;
    body.u32(type);
    if (long_form) body.str("8BIM").str("diff");
    l.blocks = Block("lsct", body.b);
    return l;
  };
  // First to last: pixel, divider, pixel, pixel, folder.
  std::vector<Layer> layers = {Pixels("p0"), with_divider(3, false), Pixels("p2"), Pixels("p3"),
                               with_divider(1, true)};
  auto d = Decode(Doc(LayerSection(LayerInfo(layers))));
  ASSERT_EQ(d->status, 0);
  const psd_layer_record* l = d->ctx.layers;
  EXPECT_EQ(l[1].layer_kind, psd_layer_hidden);
  EXPECT_EQ(l[1].divider_blend_mode, 23);
  EXPECT_EQ(l[4].layer_kind, psd_layer_folder);
  EXPECT_EQ(l[4].divider_blend_mode, 17);
  EXPECT_EQ(l[3].group, &l[4]);
  EXPECT_EQ(l[2].group, &l[4]);
  EXPECT_EQ(l[0].group, nullptr);
}

TEST(PsdLayers, ChannelCompressionAndSizes) {
  Layer zip = Pixels();
  zip.channels[1].second = W().u16(2).raw(Deflate({21, 22, 23, 24})).b;
  Layer predicted = Pixels();
  predicted.channels[2].second = W().u16(3).raw(Deflate({5, 1, 7, 1})).b;
  Layer rle = Pixels();
  rle.channels[3].second = W().u16(1).u16(2).u16(2).u8(0xFF).u8(9).u8(0xFF).u8(8).b;
  Layer empty;  // no rectangle: the channel bytes are skipped
  empty.bottom = empty.right = 0;
  empty.channels = {{0, W().u16(0).zeros(10).b}};
  auto d = Decode(Doc(LayerSection(LayerInfo({zip, predicted, rle, empty, Pixels("after")}))));
  ASSERT_EQ(d->status, 0);
  EXPECT_EQ(d->ctx.layers[0].pixels[3] >> 16 & 0xFF, 24u);
  EXPECT_EQ(d->ctx.layers[1].pixels[1] >> 8 & 0xFF, 6u);
  EXPECT_EQ(d->ctx.layers[1].pixels[3] >> 8 & 0xFF, 8u);
  EXPECT_EQ(d->ctx.layers[2].pixels[0] & 0xFF, 9u);
  EXPECT_EQ(d->ctx.layers[2].pixels[3] & 0xFF, 8u);
  EXPECT_EQ(d->ctx.layers[3].pixels, nullptr);
  EXPECT_STREQ(d->ctx.layers[4].name, "after");
  EXPECT_EQ(d->ctx.layers[4].pixels[0], 0xFF010509u);

  Layer bad = Pixels();
  bad.channels[1].second = W().u16(4).u16(0).b;
  EXPECT_EQ(Decode(Doc(LayerSection(LayerInfo({bad}))))->status,
            psd_status_unsupported_compression);
  Layer truncated = Pixels();
  truncated.channels[0].first = 0;
  Bytes doc = Doc(LayerSection(LayerInfo({truncated})));
  // Claim more bytes than the file holds for the first channel.
  Layer claims = Pixels();
  claims.channels[0].second = W().u16(0).zeros(2).b;
  Bytes info = LayerInfo({claims});
  info[4 + 2 + 16 + 2 + 2 + 0] = 0x7F;  // length of channel 0, high byte
  EXPECT_EQ(Decode(Doc(LayerSection(info)))->status, psd_status_no_data);
}

TEST(PsdLayers, SixteenBitListReplacesTheFirstAndGlobalBlocksAreWalked) {
  W global;
  global.str("8BIM").str("Lr16").raw(LayerInfo({Pixels("x"), Pixels("y"), Pixels("z")}));
  global.raw(Block("Txt2", Bytes(7, 1)));
  auto d = Decode(Doc(LayerSection(LayerInfo({Pixels("first")}), {}, global.b)));
  ASSERT_EQ(d->status, 0);
  ASSERT_EQ(d->ctx.layer_count, 3);
  EXPECT_STREQ(d->ctx.layers[2].name, "z");
  EXPECT_EQ(d->ctx.merged_image[3], 0xFF04080Cu);
}

TEST(PsdLayers, SkippedInMergedOnlyMode) {
  auto d = Decode(Doc(LayerSection(LayerInfo({Pixels()}))), psd_load_merged_and_extra_channels);
  ASSERT_EQ(d->status, 0);
  EXPECT_EQ(d->ctx.layer_count, 0);
  EXPECT_EQ(d->ctx.merged_image[0], 0xFF010509u);
}

}  // namespace
