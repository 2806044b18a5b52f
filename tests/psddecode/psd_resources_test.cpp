// Colour-mode data and image resources, with the extra-channel records.
#include <gtest/gtest.h>

#include "psd_test_support.h"

using namespace psdtest;

namespace {

Bytes Grey2x1(const Bytes& color_data, const Bytes& resources, uint16_t channels = 1) {
  std::vector<Bytes> planes(channels, Bytes{7, 9});
  return Document(Header(channels, 1, 2, 8, 1), color_data, resources, {}, RawImage(planes));
}

TEST(PsdColorData, PaletteIsPlanarAndTheRemainderIsSkipped) {
  Bytes table(768);
  for (int i = 0; i < 256; ++i) {
    table[i] = uint8_t(i);
    table[256 + i] = uint8_t(255 - i);
    table[512 + i] = 7;
  }
  auto d = Decode(Grey2x1(table, {}));
  ASSERT_EQ(d->status, 0);
  ASSERT_EQ(d->ctx.palette_count, 256);
  EXPECT_EQ(d->ctx.palette[1], 0xFF01FE07u);

  Bytes ten = {1, 2, 3, 4, 5, 6, 7, 8, 9, 99};
  auto e = Decode(Grey2x1(ten, Resource(1037, {0, 0, 0, 45})));
  ASSERT_EQ(e->status, 0);
  ASSERT_EQ(e->ctx.palette_count, 3);
  EXPECT_EQ(e->ctx.palette[0], 0xFF010407u);
  EXPECT_EQ(e->ctx.global_angle, 45);  // the resources started right after byte ten

  auto f = Decode(Grey2x1({}, {}));
  EXPECT_EQ(f->ctx.palette_count, 0);
  EXPECT_EQ(f->ctx.palette, nullptr);
  EXPECT_EQ(f->ctx.global_angle, 0);  // no resources: no defaults
}

TEST(PsdResources, NamesPaddingAndFields) {
  W res;
  res.raw(Resource(1005, W().u32(72 << 16).u16(1).u16(2).u32(300 << 16).u16(1).u16(3).b, "Res"));
  res.raw(Resource(1034, {1, 0, 0}, "ab"));  // odd size 3 pads to 4; even name length skips 3
  res.raw(Resource(1008, W().u8(5).str("hello").b, ""));
  res.raw(Resource(1024, {0, 2}));
  res.raw(Resource(1026, {0, 1, 0, 2, 0, 3}));
  res.raw(Resource(1042, {1}));
  res.raw(Resource(1046, {0, 4}));
  res.raw(Resource(1049, {0, 0, 0, 12}));
  res.raw(Resource(1007, W().u16(0).u16(0xFF00).u16(0x8000).u16(0).u16(0).u16(50).u8(1).u8(0).b));
  res.raw(Resource(1057, W().u32(1).u8(1).raw(Unicode("Writer")).raw(Unicode("Rd")).u32(1).b));
  auto d = Decode(Grey2x1({}, res.b));
  ASSERT_EQ(d->status, 0);
  EXPECT_TRUE(d->ctx.has_resolution);
  EXPECT_FLOAT_EQ(d->ctx.h_resolution, 72.0f);
  EXPECT_FLOAT_EQ(d->ctx.v_resolution, 300.0f);
  EXPECT_EQ(d->ctx.height_unit, 3);
  EXPECT_TRUE(d->ctx.rights_flag);
  EXPECT_STREQ(d->ctx.caption, "hello");
  EXPECT_EQ(d->ctx.target_layer, 2);
  ASSERT_EQ(d->ctx.layer_group_count, 3);
  EXPECT_EQ(d->ctx.layer_group_ids[2], 3);
  EXPECT_TRUE(d->ctx.effects_visible);
  EXPECT_EQ(d->ctx.index_color_count, 4);
  EXPECT_EQ(d->ctx.global_angle, 30);
  EXPECT_EQ(d->ctx.global_altitude, 12);
  EXPECT_EQ(d->ctx.display_color, 0xFFFF8000u);
  EXPECT_EQ(d->ctx.display_opacity, 50);
  EXPECT_EQ(d->ctx.display_kind, 1);
  ASSERT_TRUE(d->ctx.has_version_info);
  EXPECT_TRUE(d->ctx.has_real_merged_data);
  EXPECT_EQ(d->ctx.writer_name_length, 6);
  EXPECT_EQ(d->ctx.reader_name_length, 2);
  EXPECT_EQ(d->ctx.file_version, 1);
}

TEST(PsdResources, ExtraChannelsFromNamesThenIds) {
  W names;
  names.u8(1).str("A").u8(2).str("Bb").u8(3).str("Ccc");
  W ids;
  ids.u32(11).u32(22).u32(33);
  W unicode;
  unicode.raw(Unicode("Alpha")).raw(Unicode("Z"));
  Bytes res = Resource(1006, names.b);
  res = W().raw(res).raw(Resource(1053, ids.b)).raw(Resource(1045, unicode.b)).b;
  auto d = Decode(Grey2x1({}, res, 4));
  ASSERT_EQ(d->status, 0);
  ASSERT_EQ(d->ctx.extra_channel_count, 3);
  EXPECT_EQ(d->ctx.first_extra_channel, 1);
  EXPECT_STREQ(d->ctx.extra_channels[1].name, "Bb");
  EXPECT_EQ(d->ctx.extra_channels[2].channel_id, 33);
  EXPECT_EQ(d->ctx.extra_channels[0].unicode_name_length, 5);
  EXPECT_EQ(d->ctx.extra_channels[1].unicode_name_length, 1);
  EXPECT_EQ(d->ctx.extra_channels[2].unicode_name_length, 0);
  ASSERT_NE(d->ctx.extra_channels[0].plane, nullptr);
  EXPECT_EQ(d->ctx.extra_channels[0].plane[1], 9);
}

TEST(PsdResources, IdsFirstLimitTheRecords) {
  W names;
  names.u8(1).str("A").u8(1).str("B").u8(1).str("C");
  Bytes res = W().raw(Resource(1053, W().u32(5).u32(6).b)).raw(Resource(1006, names.b)).b;
  auto d = Decode(Grey2x1({}, res, 3));
  ASSERT_EQ(d->status, 0);
  ASSERT_EQ(d->ctx.extra_channel_count, 2);
  EXPECT_STREQ(d->ctx.extra_channels[1].name, "B");
}

TEST(PsdResources, ExtraChannelCountIsClampedToTheChannelsPresent) {
  W ids;
  for (int i = 0; i < 10; ++i) ids.u32(uint32_t(i));
  auto d = Decode(Grey2x1({}, Resource(1053, ids.b), 2));
  ASSERT_EQ(d->status, 0);
  EXPECT_EQ(d->ctx.extra_channel_count, 2);
  EXPECT_EQ(d->ctx.first_extra_channel, 0);
}

Bytes Thumbnail(size_t extra) {
  W w;
  w.u32(1).u32(2).u32(3).u32(8).u32(24).u32(uint32_t(extra)).u16(24).u16(1).zeros(extra);
  return w.b;
}

TEST(PsdResources, LoadModesFilterResources) {
  Bytes res = W().raw(Resource(1036, Thumbnail(5))).raw(Resource(1037, {0, 0, 0, 9})).b;
  auto all = Decode(Grey2x1({}, res));
  ASSERT_EQ(all->status, 0);
  EXPECT_TRUE(all->ctx.has_thumbnail);
  EXPECT_EQ(all->ctx.thumb_width, 2);
  EXPECT_EQ(all->ctx.thumb_compressed_size, 5);

  auto layers = Decode(Grey2x1({}, res), psd_load_layers);
  ASSERT_EQ(layers->status, 0);
  EXPECT_FALSE(layers->ctx.has_thumbnail);
  EXPECT_EQ(layers->ctx.global_angle, 9);

  auto thumb = Decode(Grey2x1({}, res), psd_load_thumbnail);
  ASSERT_EQ(thumb->status, 0);
  EXPECT_TRUE(thumb->ctx.has_thumbnail);
  EXPECT_EQ(thumb->ctx.global_angle, 30);
  EXPECT_EQ(thumb->ctx.merged_image, nullptr);
}

TEST(PsdResources, SmallThumbnailIsSkippedAndLaterOneReplacesEarlier) {
  Bytes res = W().raw(Resource(1033, Bytes(10, 1)))
                  .raw(Resource(1036, Thumbnail(3)))
                  .raw(Resource(1036, Thumbnail(7)))
                  .b;
  auto d = Decode(Grey2x1({}, res));
  ASSERT_EQ(d->status, 0);
  EXPECT_EQ(d->ctx.thumb_compressed_size, 7);
}

TEST(PsdResources, BadSignatureAndOverlongBlocks) {
  W bad;
  bad.str("8BIX").u16(1005).u8(0).u8(0).u32(0);
  EXPECT_EQ(Decode(Grey2x1({}, bad.b))->status, psd_status_resource_signature_mismatch);
  // A block that claims far more than the file holds is cut at the end.
  W huge;
  huge.str("8BIM").u16(1006).u16(0).u32(0x7FFFFFF0).u8(3).str("abc");
  auto d = Decode(Grey2x1({}, huge.b));
  EXPECT_LE(d->status, 0);
}

}  // namespace
