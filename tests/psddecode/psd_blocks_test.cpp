// Descriptors, fill and adjustment layers, type layers, effects and patterns.
#include <gtest/gtest.h>

#include "psd_fixtures.h"
#include "psd_test_support.h"
#include "psddecode/psd_internal.h"

using namespace psdtest;

namespace {

Bytes Doc(const Bytes& section) {
  return Document(Header(3, 1, 1, 8, 3), {}, {}, section, RawImage({{1}, {2}, {3}}));
}

Layer WithBlocks(const Bytes& blocks) {
  Layer l;
  l.bottom = l.right = 1;
  l.channels = {{0, RawChannel({1})}, {1, RawChannel({2})}, {2, RawChannel({3})}};
  l.blocks = blocks;
  return l;
}

// Decodes a document whose single layer carries the blocks.
std::unique_ptr<Decoded> WithLayerBlocks(const Bytes& blocks) {
  return Decode(Doc(LayerSection(LayerInfo({WithBlocks(blocks)}))));
}

template <typename T>
const T* Record(const Decoded& d, int32_t index = 0) {
  return static_cast<const T*>(d.ctx.layers[0].adjustments[index].record);
}

// ---- descriptors -------------------------------------------------------

TEST(PsdDescriptor, EveryItemTypeIsSkippedExactly) {
  W list;
  list.u32(2).str("long").u32(5).str("Objc").raw(Descriptor("null", {Item("x   ", "VlLs", W().u32(1).str("bool").u8(1).b)}));
  W reference;
  reference.u32(7);
  reference.str("Clss").raw(Unicode("c")).raw(Id("Clss"));
  reference.str("Enmr").raw(Unicode("e")).raw(Id("a   ")).raw(Id("b   ")).raw(Id("cccccc"));
  reference.str("Idnt").u32(1).str("indx").u32(2).str("name").raw(Unicode("nm"));
  reference.str("prop").raw(Unicode("p")).raw(Id("k   ")).raw(Id("l   "));
  reference.str("rele").raw(Unicode("r")).raw(Id("m   ")).u32(3);
  Bytes d = Descriptor("Test", {
      Item("bool", "bool", Bool(true)), Item("doub", "doub", Double(1.5)),
      Item("long", "long", Long(7)), Item("untf", "UntF", UnitDouble("#Prc", 3)),
      Item("enum", "enum", Enum("BlnM", "longerValue")), Item("text", "TEXT", Unicode("hi")),
      Item("alis", "alis", W().u32(3).str("abc").b), Item("type", "type", W().raw(Unicode("k")).raw(Id("Clss")).b),
      Item("glbc", "GlbC", W().raw(Unicode("")).raw(Id("Clss")).b),
      Item("objc", "Objc", Descriptor("Nest", {Item("in  ", "long", Long(1))})),
      Item("glbo", "GlbO", Descriptor("Nest", {})), Item("list", "VlLs", list.b),
      Item("refr", "obj ", reference.b)});
  W doc;
  doc.raw(d).u32(0xCAFEBABE);
  auto ctx = Open(doc.b);
  psd_skip_descriptor(&ctx->ctx);
  EXPECT_EQ(psd_get_be32(&ctx->ctx), 0xCAFEBABEu);
}

TEST(PsdDescriptor, UnknownTypeLeavesItsBytes) {
  W w;
  w.str("zzzz").u32(0x12345678);
  auto ctx = Open(w.b);
  psd_skip_item(psd_key("zzzz"), &ctx->ctx);
  EXPECT_EQ(psd_get_be32(&ctx->ctx), psd_key("zzzz"));
}

TEST(PsdDescriptor, DeepNestingStopsAtTheLimit) {
  // 200 nested objects would recurse 200 deep; the reader stops early and
  // returns without crashing.
  Bytes inner = Descriptor("leaf", {});
  for (int i = 0; i < 200; ++i) inner = Descriptor("node", {Item("kid ", "Objc", inner)});
  auto ctx = Open(inner);
  psd_skip_descriptor(&ctx->ctx);
  EXPECT_EQ(ctx->ctx.descriptor_depth, 0);
  EXPECT_GT(ctx->ctx.consumed, 0);
}

TEST(PsdDescriptor, HugeCountsAtTheEndOfTheDataEndQuickly) {
  W w;
  w.raw(Unicode("")).raw(Id("null")).u32(0x7FFFFFFF).raw(Id("list")).str("VlLs").u32(0x7FFFFFFF);
  auto ctx = Open(w.b);
  psd_skip_descriptor(&ctx->ctx);
  EXPECT_GE(ctx->ctx.consumed, int32_t(w.size()));
}

TEST(PsdDescriptor, ValueReaders) {
  auto c = Open(RgbColor(255.9, 0.4, 128.0));
  EXPECT_EQ(psd_read_rgb_color(&c->ctx), 0xFFFF0080u);

  W enums;
  enums.raw(Id("linearBurn")).raw(Id("linearburn")).raw(Id("H   ")).raw(Id("Scrn"));
  auto e = Open(enums.b);
  EXPECT_EQ(psd_read_blend_enum(&e->ctx), 5);
  EXPECT_EQ(psd_read_blend_enum(&e->ctx), 0);
  EXPECT_EQ(psd_read_blend_enum(&e->ctx), 19);
  EXPECT_EQ(psd_read_blend_enum(&e->ctx), 7);

  auto point = Open(Descriptor("Pnt ", {Item("Hrzn", "UntF", UnitDouble("#Pxl", 10.7)),
                                        Item("Vrtc", "doub", Double(20.2)),
                                        Item("Othr", "long", Long(1))}));
  int32_t x = 0, y = 0;
  psd_read_point(&x, &y, &point->ctx);
  EXPECT_EQ(x, 10);
  EXPECT_EQ(y, 20);
}


TEST(PsdDescriptor, Contours) {
  auto identity = Open(Contour({{0, 0}, {255, 255}}));
  uint8_t table[256];
  std::memset(table, 0x77, sizeof table);
  psd_read_contour(table, &identity->ctx);
  for (int i = 0; i < 256; ++i) ASSERT_NEAR(table[i], i, 1) << i;
  auto falling = Open(Contour({{0, 255}, {255, 0}}));
  psd_read_contour(table, &falling->ctx);
  EXPECT_EQ(table[0], 255);
  EXPECT_EQ(table[255], 0);
  for (int i = 1; i < 256; ++i) ASSERT_LE(table[i], table[i - 1]) << i;
}

// ---- fill, adjustment and type layers -------------------------------------

TEST(PsdAdjustments, FixedLayoutBlocks) {
  W blocks;
  blocks.raw(Block("thrs", {0, 128, 0, 0}));
  blocks.raw(Block("post", {0, 4, 0, 0}));
  blocks.raw(Block("brit", W().u16(10).u16(0xFFF6).u16(127).u8(1).b));
  W balance;
  for (int i = 0; i < 9; ++i) balance.u16(uint32_t(i));
  balance.u8(0).u8(1);
  blocks.raw(Block("blnc", balance.b));
  W hue;
  hue.u16(2).u8(1).u8(0);
  for (int i = 0; i < 6 + 42; ++i) hue.u16(uint32_t(i));
  blocks.raw(Block("hue2", hue.b));
  W selective;
  selective.u16(1).u16(1);
  for (int i = 0; i < 40; ++i) selective.u16(uint32_t(i));
  blocks.raw(Block("selc", selective.b));
  W mixer;
  mixer.u16(1).u8(0).u8(1);
  for (int i = 0; i < 20; ++i) mixer.u16(uint32_t(i));
  blocks.raw(Block("mixr", mixer.b));
  blocks.raw(Block("phfl", W().u16(3).u32(0x100).u32(0x200).u32(0x300).u32(25).u8(1).u8(0).b));
  blocks.raw(Block("nvrt", {}));
  auto d = WithLayerBlocks(blocks.b);
  ASSERT_EQ(d->status, 0);
  const psd_layer_record& l = d->ctx.layers[0];
  ASSERT_EQ(l.adjustment_count, 9);
  EXPECT_EQ(l.adjustments[0].type, psd_adjust_threshold);
  EXPECT_EQ(Record<psd_threshold>(*d, 0)->level, 128);
  EXPECT_EQ(Record<psd_posterize>(*d, 1)->levels, 4);
  EXPECT_EQ(Record<psd_brightness_contrast>(*d, 2)->contrast, -10);
  EXPECT_TRUE(Record<psd_brightness_contrast>(*d, 2)->lab_only);
  EXPECT_EQ(Record<psd_color_balance>(*d, 3)->magenta_green[1], 4);
  EXPECT_TRUE(Record<psd_color_balance>(*d, 3)->preserve_luminosity);
  const auto* h = Record<psd_hue_saturation>(*d, 4);
  EXPECT_TRUE(h->colorize);
  EXPECT_EQ(h->master_lightness, 5);
  EXPECT_EQ(h->ranges[4], 13);   // second range starts after 4 values and 3 settings
  EXPECT_EQ(h->settings[0], 10);
  EXPECT_EQ(Record<psd_selective_color>(*d, 5)->black[9], 39);
  EXPECT_EQ(Record<psd_channel_mixer>(*d, 6)->values[4], 1);  // value 0 of set 1
  EXPECT_EQ(Record<psd_photo_filter>(*d, 7)->z, 3);
  EXPECT_EQ(l.adjustments[8].type, psd_adjust_invert);
  EXPECT_EQ(l.adjustments[8].record, nullptr);
  EXPECT_EQ(l.layer_kind, psd_layer_invert);
  EXPECT_TRUE(l.is_adjustment);
}

Bytes Levels(int version, bool extra, size_t trailing = 0) {
  W w;
  w.u16(uint32_t(version));
  for (int i = 0; i < 29; ++i) w.u16(0).u16(255).u16(0).u16(255).u16(100);
  if (extra) {
    w.str("Lvls").u16(3).u16(31);
    for (int i = 0; i < 2; ++i) w.u16(1).u16(2).u16(3).u16(4).u16(150);
  }
  w.zeros(trailing);
  return w.b;
}

TEST(PsdAdjustments, Levels) {
  auto plain = WithLayerBlocks(Block("levl", Levels(2, false)));
  ASSERT_EQ(plain->status, 0);
  EXPECT_FLOAT_EQ(Record<psd_levels>(*plain)->entries[28].gamma, 1.0f);
  EXPECT_EQ(plain->ctx.layers[0].layer_kind, psd_layer_levels);
  auto extra = WithLayerBlocks(Block("levl", Levels(2, true)));
  ASSERT_EQ(extra->status, 0);
  ASSERT_EQ(Record<psd_levels>(*extra)->extra_count, 2);
  EXPECT_FLOAT_EQ(Record<psd_levels>(*extra)->extra_entries[1].gamma, 1.5f);
  EXPECT_EQ(WithLayerBlocks(Block("levl", Levels(1, false)))->status, -503);
  EXPECT_EQ(WithLayerBlocks(Block("levl", Levels(2, false, 2)))->status, -506);
  EXPECT_EQ(WithLayerBlocks(Block("levl", Levels(2, false, 8)))->status, -505);
}

Bytes Curves(bool second_copy, bool differ) {
  W w;
  w.u8(0).u16(1).u32(5);
  for (int c = 0; c < 2; ++c) w.u16(2).u16(0).u16(0).u16(255).u16(255);
  if (second_copy) {
    w.str("Crv ").u16(4).u32(2);
    w.u16(0).u16(2).u16(0).u16(0).u16(255).u16(255);
    w.u16(2).u16(2).u16(0).u16(0).u16(differ ? 200 : 255).u16(255);
  }
  return w.b;
}

TEST(PsdAdjustments, Curves) {
  auto d = WithLayerBlocks(Block("curv", Curves(true, false)));
  ASSERT_EQ(d->status, 0);
  const auto* r = Record<psd_curves>(*d);
  ASSERT_EQ(r->curve_count, 2);
  EXPECT_EQ(r->curves[0].channel_index, 0);
  EXPECT_EQ(r->curves[1].channel_index, 2);
  EXPECT_EQ(r->curves[1].output_value[1], 255);
  EXPECT_TRUE(d->ctx.layers[0].is_adjustment);
  auto differ = WithLayerBlocks(Block("curv", Curves(true, true)));
  ASSERT_EQ(differ->status, 0);
  EXPECT_FALSE(differ->ctx.layers[0].is_adjustment);
  EXPECT_EQ(Record<psd_curves>(*differ)->curve_count, 2);
  EXPECT_EQ(WithLayerBlocks(Block("curv", W().u8(0).u16(2).b))->status, -508);
}

TEST(PsdAdjustments, GradientMapAndVersions) {
  W g;
  g.u16(1).u8(1).u8(0).raw(Unicode("Map")).u16(2);
  for (int i = 0; i < 2; ++i) g.u32(uint32_t(i * 4096)).u32(50).u16(0).u16(0xFF00).u16(0).u16(0).u16(0).u16(0);
  g.u16(1).u32(0).u32(50).u16(100).u16(1).u16(0).u16(32).u16(1).u32(7).u16(0).u16(0).u32(10).u16(3);
  g.u16(0).zeros(8).u16(0).zeros(8);
  auto d = WithLayerBlocks(Block("grdm", g.b));
  ASSERT_EQ(d->status, 0);
  const auto* r = Record<psd_gradient_map>(*d);
  EXPECT_TRUE(r->reversed);
  EXPECT_EQ(r->name_length, 3);
  ASSERT_EQ(r->color_stop_count, 2);
  EXPECT_EQ(r->color_stops[1].location, 4096);
  EXPECT_EQ(r->color_stops[0].color, 0xFFFF0000u);
  EXPECT_EQ(r->transparency_stops[0].opacity, 100);
  EXPECT_EQ(r->random_seed, 7);
  EXPECT_EQ(r->color_model, 3);
  const std::pair<const char*, psd_status> versions[] = {
      {"hue2", -511}, {"selc", -512}, {"mixr", -513}, {"phfl", -514}, {"grdm", -515}};
  for (auto [key, status] : versions)
    EXPECT_EQ(WithLayerBlocks(Block(key, {0, 9, 0, 0}))->status, status) << key;
}

Bytes FillHeader(uint32_t version) { return W().u32(version).raw(Unicode("")).raw(Id("null")).b; }

TEST(PsdAdjustments, DescriptorFills) {
  W solid;
  solid.raw(FillHeader(16)).u32(1).raw(Id("Clr ")).str("Objc").raw(RgbColor(10, 20, 30));
  auto s = WithLayerBlocks(Block("SoCo", solid.b));
  ASSERT_EQ(s->status, 0);
  EXPECT_EQ(Record<psd_solid_fill>(*s)->color, 0xFF0A141Eu);
  EXPECT_EQ(Record<psd_solid_fill>(*s)->class_key, psd_key("null"));
  EXPECT_EQ(s->ctx.layers[0].layer_kind, psd_layer_solid_color);
  EXPECT_EQ(WithLayerBlocks(Block("SoCo", FillHeader(17)))->status, -525);
  EXPECT_EQ(WithLayerBlocks(Block("GdFl", FillHeader(17)))->status, -526);
  EXPECT_EQ(WithLayerBlocks(Block("PtFl", FillHeader(17)))->status, -530);

  W stops;
  stops.u32(1).str("Objc").raw(Descriptor("Clrt", {Item("Clr ", "Objc", RgbColor(1, 2, 3)),
                                                  Item("Type", "enum", Enum("Clry", "UsrS")),
                                                  Item("Lctn", "long", Long(2048)),
                                                  Item("Mdpn", "long", Long(50))}));
  W trans;
  trans.u32(1).str("Objc").raw(Descriptor("TrnS", {Item("Opct", "UntF", UnitDouble("#Prc", 80)),
                                                  Item("Lctn", "long", Long(4096)),
                                                  Item("Mdpn", "long", Long(50))}));
  Bytes gradient = Descriptor("Grdn", {Item("Nm  ", "TEXT", Unicode("G")),
                                       Item("GrdF", "enum", Enum("GrdF", "CstS")),
                                       Item("Intr", "doub", Double(4096)),
                                       Item("Clrs", "VlLs", stops.b), Item("Trns", "VlLs", trans.b)});
  W fill;
  fill.raw(FillHeader(16)).u32(7);
  fill.raw(Item("Unkn", "long", Long(9)));
  fill.raw(Item("Angl", "UntF", UnitDouble("#Ang", 45.5)));
  fill.raw(Item("Type", "enum", Enum("GrdT", "Rdl ")));
  fill.raw(Item("Scl ", "UntF", UnitDouble("#Prc", 150)));
  fill.raw(Item("Rvrs", "bool", Bool(true)));
  fill.raw(Item("Algn", "bool", Bool(false)));
  fill.raw(Item("Grad", "Objc", gradient));
  auto g = WithLayerBlocks(Block("GdFl", fill.b));
  ASSERT_EQ(g->status, 0);
  const auto* r = Record<psd_gradient_fill>(*g);
  EXPECT_DOUBLE_EQ(r->angle, 45.5);
  EXPECT_EQ(r->gradient_type, 1);
  EXPECT_EQ(r->scale, 150);
  EXPECT_TRUE(r->reverse);
  EXPECT_FALSE(r->align);
  EXPECT_EQ(r->gradient.interpolation, 4096);
  EXPECT_EQ(r->gradient.name_length, 1);
  ASSERT_EQ(r->gradient.color_stop_count, 1);
  EXPECT_EQ(r->gradient.color_stops[0].color, 0xFF010203u);
  EXPECT_EQ(r->gradient.color_stops[0].kind, 2);
  EXPECT_EQ(r->gradient.color_stops[0].location, 2048);
  ASSERT_EQ(r->gradient.transparency_stop_count, 1);
  EXPECT_EQ(r->gradient.transparency_stops[0].opacity, 80);
  EXPECT_EQ(r->gradient.transparency_stops[0].location, 4096);

  W pattern;
  pattern.raw(FillHeader(16)).u32(2);
  pattern.raw(Item("Ptrn", "Objc", Descriptor("Ptrn", {Item("Nm  ", "TEXT", Unicode("Dots")),
                                                       Item("Idnt", "TEXT", Unicode("id-1"))})));
  pattern.raw(Item("Scl ", "UntF", UnitDouble("#Prc", 50)));
  auto p = WithLayerBlocks(Block("PtFl", pattern.b));
  ASSERT_EQ(p->status, 0);
  EXPECT_STREQ(Record<psd_pattern_fill>(*p)->pattern.identifier, "id-1");
  EXPECT_EQ(Record<psd_pattern_fill>(*p)->pattern.name_length, 4);
  EXPECT_EQ(Record<psd_pattern_fill>(*p)->scale, 50);
}

TEST(PsdAdjustments, TypeTool) {
  W t;
  t.u16(1);
  for (int i = 0; i < 6; ++i) t.f64(i + 0.5);
  t.u16(6).u16(1).u16(1).u32(2).u8(5).str("Arial").u8(0).u8(4).str("Bold").u16(0).u32(2).u32(7).u32(8);
  t.u16(6).u16(1).u16(1).u16(1).u32(12).u32(0).u32(0).u32(0).u32(0).u8(1).u8(0).u8(1);
  t.u16(0).u32(1).u32(5).u32(0).u32(0).u32(0).u32(5);
  t.u16(1).u32(5).u16(0).u16(0).u16(0).u16(1);
  t.u16(0).u16(0xFF00).u16(0).u16(0).u16(0).u8(1);
  auto d = WithLayerBlocks(Block("tySh", t.b));
  ASSERT_EQ(d->status, 0);
  const auto* r = Record<psd_type_tool>(*d);
  EXPECT_DOUBLE_EQ(r->transform_ty, 5.5);
  ASSERT_EQ(r->face_count, 1);
  EXPECT_STREQ(r->faces[0].font_name, "Arial");
  EXPECT_STREQ(r->faces[0].font_style_name, "Bold");
  ASSERT_EQ(r->faces[0].design_axes_count, 2);
  EXPECT_EQ(r->faces[0].design_vector[1], 8);
  ASSERT_EQ(r->style_count, 1);
  EXPECT_EQ(r->styles[0].size, 12);
  EXPECT_TRUE(r->styles[0].rotate);
  EXPECT_EQ(r->character_count, 5);
  ASSERT_EQ(r->line_count, 1);
  EXPECT_EQ(r->lines[0].style, 1);
  EXPECT_EQ(r->color, 0xFFFF0000u);
  EXPECT_TRUE(r->anti_alias);
  EXPECT_EQ(d->ctx.layers[0].layer_kind, psd_layer_normal);
}

TEST(PsdAdjustments, MoreBlocksThanTheListHoldsAreSkipped) {
  W blocks;
  for (int i = 0; i < 25; ++i) blocks.raw(Block("thrs", {0, uint8_t(i), 0, 0}));
  auto d = WithLayerBlocks(blocks.b);
  ASSERT_EQ(d->status, 0);
  EXPECT_EQ(d->ctx.layers[0].adjustment_count, psd_max_adjustments);
}

// ---- effects -----------------------------------------------------------

TEST(PsdEffects, FixedLayoutEffects) {
  W fx;
  fx.u16(0).u16(7);
  fx.str("8BIM").str("cmnS").u32(7).u32(0).u8(1).u16(0);
  fx.str("8BIM").str("dsdw").u32(51).u32(0).u32(5).u32(0).u32(120).u32(5);
  fx.u16(0).u16(0x1000).u16(0).u16(0).u16(0).str("8BIM").str("mul ").u8(1).u8(1).u8(191);
  fx.str("8BIM").str("isdw").u32(61).u32(2).u32(3).u32(1).u32(90).u32(4);
  fx.u16(0).zeros(8).str("8BIM").str("norm").u8(1).u8(0).u8(100).u16(0).u16(0xFF00).zeros(6);
  fx.str("8BIM").str("oglw").u32(42).u32(2).u32(7).u32(1).u16(0).zeros(8).str("8BIM").str("scrn").u8(1).u8(50);
  fx.u16(0).u16(0x0100).zeros(6);
  fx.str("8BIM").str("iglw").u32(43).u32(2).u32(6).u32(1).u16(0).zeros(8).str("8BIM").str("scrn").u8(1).u8(50);
  fx.u8(1).u16(0).zeros(8);
  fx.str("8BIM").str("bevl").u32(78).u32(2).u32(90).u32(8).u32(2);
  fx.str("8BIM").str("scrn").str("8BIM").str("mul ").u16(0).zeros(8).u16(0).zeros(8);
  fx.u8(2).u8(100).u8(120).u8(1).u8(0).u8(1).u16(0).u16(0x0500).zeros(6).u16(0).zeros(8);
  fx.str("8BIM").str("sofi").u32(34).u32(2).str("8BIM").str("norm").u16(0).u16(0x0A00).zeros(6);
  fx.u8(200).u8(1).u16(0).u16(0x0B00).zeros(6);
  auto d = WithLayerBlocks(Block("lrFX", fx.b));
  ASSERT_EQ(d->status, 0);
  const auto* e = Record<psd_layer_effects>(*d);
  EXPECT_EQ(d->ctx.layers[0].adjustments[0].type, psd_adjust_lrfx);
  EXPECT_TRUE(e->visible);
  EXPECT_EQ(e->drop_shadow.size, 5);
  EXPECT_EQ(e->drop_shadow.spread, 0);
  EXPECT_EQ(e->drop_shadow.angle, 120);
  EXPECT_EQ(e->drop_shadow.distance, 5);
  EXPECT_EQ(e->drop_shadow.color, 0xFF100000u);
  EXPECT_EQ(e->drop_shadow.native_color, 0xFF000000u);
  EXPECT_EQ(e->drop_shadow.blend_mode, 3);
  EXPECT_TRUE(e->present[psd_effect_drop_shadow]);
  EXPECT_EQ(e->inner_shadow.native_color, 0xFFFF0000u);
  EXPECT_FALSE(e->inner_shadow.use_global_light);
  EXPECT_EQ(e->outer_glow.native_color, 0xFF010000u);
  EXPECT_EQ(e->inner_glow.source, 0);
  EXPECT_EQ(e->bevel.angle, 90);
  EXPECT_EQ(e->bevel.style, 2);
  EXPECT_EQ(e->bevel.highlight_native_color, 0xFF050000u);
  EXPECT_EQ(e->color_overlay.color, 0xFF0A0000u);
  EXPECT_EQ(e->color_overlay.native_color, 0xFF0B0000u);
  EXPECT_EQ(e->color_overlay.opacity, 200);
}

TEST(PsdEffects, FixedLayoutStatuses) {
  EXPECT_EQ(WithLayerBlocks(Block("lrFX", {0, 1, 0, 1}))->status, -516);
  auto none = WithLayerBlocks(Block("lrFX", {0, 0, 0, 0}));
  ASSERT_EQ(none->status, 0);
  EXPECT_EQ(Record<psd_layer_effects>(*none)->effect_count, 0);
  EXPECT_EQ(WithLayerBlocks(Block("lrFX", W().u16(0).u16(1).str("8BIM").str("what").u32(0).b))->status, -518);
  EXPECT_EQ(WithLayerBlocks(Block("lrFX", W().u16(0).u16(2).str("8BIM").str("cmnS").u32(7).u32(0).u8(1).u16(0).b))->status,
            -517);
  EXPECT_EQ(WithLayerBlocks(Block("lrFX", W().u16(0).u16(1).str("8BIM").str("cmnS").u32(7).u32(1).u8(1).u16(0).b))->status,
            -519);
}


TEST(PsdEffects, DescriptorEffects) {
  Bytes drop = Descriptor("DrSh", {Item("enab", "bool", Bool(true)), Item("Md  ", "enum", Enum("BlnM", "Mltp")),
                                   Item("Clr ", "Objc", RgbColor(1, 2, 3)),
                                   Item("Opct", "UntF", UnitDouble("#Prc", 75)), Item("Xtra", "long", Long(4)),
                                   Item("lagl", "UntF", UnitDouble("#Ang", 30)),
                                   Item("layerConceals", "bool", Bool(true)),
                                   Item("TrnS", "Objc", Contour({{0, 0}, {255, 255}}))});
  Bytes stroke = Descriptor("FrFX", {Item("Scl ", "UntF", UnitDouble("#Prc", 60)),
                                     Item("PntT", "enum", Enum("FrFl", "GrFl")),
                                     Item("Styl", "enum", Enum("FStl", "InsF")),
                                     Item("Sz  ", "UntF", UnitDouble("#Pxl", 7))});
  Bytes bevel = Descriptor("ebbl", {Item("bvlS", "enum", Enum("BESl", "Embs")),
                                    Item("bvlT", "enum", Enum("bvlT", "PrBL")),
                                    Item("hglC", "Objc", RgbColor(9, 9, 9)),
                                    Item("useTexture", "bool", Bool(true)),
                                    Item("phase", "Objc", Descriptor("Pnt ", {Item("Hrzn", "doub", Double(3)),
                                                                              Item("Vrtc", "doub", Double(4))}))});
  Bytes pattern = Descriptor("patternFill", {Item("phase", "Objc", Descriptor("Pnt ", {Item("Hrzn", "doub", Double(10)),
                                                                                       Item("Vrtc", "doub", Double(20))})),
                                             Item("Opct", "UntF", UnitDouble("#Prc", 100))});
  Bytes glow = Descriptor("IrGl", {Item("glwS", "enum", Enum("IGSr", "SrcC")),
                                   Item("GlwT", "enum", Enum("BETE", "Slmt")),
                                   Item("Grad", "Objc", Descriptor("Grdn", {Item("Intr", "doub", Double(1))}))});
  Bytes satin = Descriptor("ChFX", {Item("Invr", "bool", Bool(false)), Item("Dstn", "UntF", UnitDouble("#Pxl", 3))});
  Bytes overlay = Descriptor("SoFi", {Item("Clr ", "Objc", RgbColor(4, 5, 6))});
  Bytes gradient = Descriptor("GrFl", {Item("Type", "enum", Enum("GrdT", "Dmnd")),
                                       Item("Ofst", "Objc", Descriptor("Pnt ", {Item("Hrzn", "doub", Double(-2))}))});
  Bytes outer = Descriptor("OrGl", {Item("Ckmt", "UntF", UnitDouble("#Pxl", 8))});
  Bytes inner_shadow = Descriptor("IrSh", {Item("Dstn", "UntF", UnitDouble("#Pxl", 9))});
  auto d = WithLayerBlocks(Block(
      "lfx2", Lfx2({Item("Scl ", "UntF", UnitDouble("#Prc", 100)), Item("masterFXSwitch", "bool", Bool(true)),
                    Item("DrSh", "Objc", drop), Item("FrFX", "Objc", stroke), Item("ebbl", "Objc", bevel),
                    Item("patternFill", "Objc", pattern), Item("IrGl", "Objc", glow),
                    Item("ChFX", "Objc", satin), Item("SoFi", "Objc", overlay), Item("GrFl", "Objc", gradient),
                    Item("OrGl", "Objc", outer), Item("IrSh", "Objc", inner_shadow),
                    Item("Unkn", "long", Long(1))})));
  ASSERT_EQ(d->status, 0);
  const auto* e = Record<psd_layer_effects>(*d);
  EXPECT_EQ(d->ctx.layers[0].adjustments[0].type, psd_adjust_lfx2);
  EXPECT_TRUE(e->visible);
  EXPECT_EQ(e->effect_count, 10);
  EXPECT_TRUE(e->drop_shadow.enabled);
  EXPECT_EQ(e->drop_shadow.blend_mode, 3);
  EXPECT_EQ(e->drop_shadow.color, 0xFF010203u);
  EXPECT_EQ(e->drop_shadow.native_color, 0xFF010203u);
  EXPECT_EQ(e->drop_shadow.opacity, 191);
  EXPECT_EQ(e->drop_shadow.angle, 30);
  EXPECT_TRUE(e->drop_shadow.layer_conceals);
  EXPECT_EQ(e->stroke.fill_type, 1);
  EXPECT_EQ(e->stroke.gradient_scale, 100);  // "Scl " came before "PntT"
  EXPECT_EQ(e->stroke.position, 1);
  EXPECT_EQ(e->stroke.size, 7);
  EXPECT_EQ(e->bevel.style, 2);
  EXPECT_EQ(e->bevel.technique, 1);
  EXPECT_EQ(e->bevel.highlight_native_color, 0xFF090909u);
  EXPECT_TRUE(e->bevel.use_texture);
  EXPECT_EQ(e->bevel.phase_y, 4);
  EXPECT_EQ(e->pattern_overlay.phase_x, 10);
  EXPECT_EQ(e->pattern_overlay.phase_y, 20);
  EXPECT_EQ(e->pattern_overlay.opacity, 255);
  EXPECT_EQ(e->inner_glow.source, 0);
  EXPECT_EQ(e->inner_glow.technique, 2);
  EXPECT_TRUE(e->inner_glow.uses_gradient);
  EXPECT_EQ(e->inner_glow.gradient.interpolation, 1);
  EXPECT_FALSE(e->satin.invert);
  EXPECT_EQ(e->satin.distance, 3);
  EXPECT_EQ(e->color_overlay.native_color, 0xFF040506u);
  EXPECT_EQ(e->gradient_overlay.gradient_type, 4);
  EXPECT_EQ(e->gradient_overlay.offset_x, -2);
  EXPECT_EQ(e->outer_glow.spread, 8);
  EXPECT_EQ(e->inner_shadow.distance, 9);
  for (int k = 0; k < psd_effect_kinds; ++k) EXPECT_TRUE(e->present[k]) << k;

  EXPECT_EQ(WithLayerBlocks(Block("lfx2", W().u32(0).u32(17).b))->status, -516);
}

// A malformed effects descriptor (a text item claiming more characters than
// its block holds) ends with its block: the blocks after it and the next
// layer's record are read as they stand.
TEST(PsdEffects, MalformedLfx2StaysInsideItsBlock) {
  for (const bool malformed : {false, true}) {
    SCOPED_TRACE(malformed ? "malformed" : "well-formed");
    const Bytes text = malformed ? W().u32(400).u16('a').u16('b').b : Unicode("ab");
    W blocks;
    blocks.raw(Block("lfx2", Lfx2({Item("Scl ", "UntF", UnitDouble("#Prc", 100)), Item("Note", "TEXT", text),
                                   Item("masterFXSwitch", "bool", Bool(true))})));
    blocks.raw(Block("lyid", Long(77)));
    Layer first = WithBlocks(blocks.b);
    first.name = "First";
    Layer second = WithBlocks(Block("lyid", Long(88)));
    second.name = "Second";
    auto d = Decode(Doc(LayerSection(LayerInfo({first, second}))));
    ASSERT_EQ(d->status, 0);
    ASSERT_EQ(d->ctx.layer_count, 2);
    EXPECT_STREQ(d->ctx.layers[0].name, "First");
    EXPECT_EQ(d->ctx.layers[0].layer_id, 77);
    EXPECT_EQ(d->ctx.layers[0].adjustments[0].type, psd_adjust_lfx2);
    EXPECT_STREQ(d->ctx.layers[1].name, "Second");
    EXPECT_EQ(d->ctx.layers[1].layer_id, 88);
    EXPECT_EQ(d->ctx.read_end, 0) << "the block's window outlived its reader";
  }
}

// ---- patterns ------------------------------------------------------------


TEST(PsdPatterns, BlockOfPatterns) {
  W patt;
  patt.raw(Pattern(1, 3, 2, 1, {{10, 20}, {30, 40}, {50, 60}}));
  patt.raw(Pattern(2, 3, 2, 1, {{1, 1}, {1, 1}, {1, 1}}));  // wrong version: skipped
  patt.raw(Pattern(1, 1, 2, 1, {{7, 8}}, 2));
  patt.raw(Pattern(1, 2, 1, 1, {{5}}));
  patt.raw(Pattern(1, 3, 1, 1, {{1}, {2}, {3}}));
  patt.raw(Pattern(1, 5, 1, 1, {{1}}));  // mode 5: refused
  W global;
  global.raw(Block("Patt", patt.b));
  Bytes empty_info = W().u32(0).b;
  auto d = Decode(Doc(LayerSection(empty_info, {}, global.b)));
  EXPECT_EQ(d->status, psd_status_unsupported_color_mode);  // the last pattern's status
  ASSERT_EQ(d->ctx.pattern_count, 4);
  EXPECT_EQ(d->ctx.pattern_capacity, 8);
  const psd_pattern& rgb = d->ctx.patterns[0];
  EXPECT_EQ(rgb.width, 2);
  EXPECT_EQ(rgb.name_length, 3);
  EXPECT_STREQ(rgb.identifier, "abcd");
  EXPECT_EQ(rgb.channels_read, 3);
  ASSERT_NE(rgb.pixels, nullptr);
  EXPECT_EQ(rgb.pixels[1], 0xFF14283Cu);
  EXPECT_EQ(d->ctx.patterns[1].pixels[1], 0xFF080808u);
  EXPECT_EQ(d->ctx.patterns[2].pixels[0], 0xFF050000u);
  // The failed last pattern ends the layer stage, so no merged image follows.
  EXPECT_EQ(d->ctx.merged_image, nullptr);
}

TEST(PsdPatterns, ChannelsBeyondTheModeArePassedOver) {
  W patt;
  patt.raw(Pattern(1, 1, 1, 1, {{1}, {2}, {3}, {4}, {5}, {6}}));
  W global;
  global.raw(Block("Pat2", patt.b));
  auto d = Decode(Doc(LayerSection(W().u32(0).b, {}, global.b)));
  ASSERT_EQ(d->status, 0);
  ASSERT_EQ(d->ctx.pattern_count, 1);
  EXPECT_EQ(d->ctx.patterns[0].channels_read, 2);
  EXPECT_EQ(d->ctx.patterns[0].pixels[0], 0x02010101u);
}

}  // namespace
