// Per-camera corrections of files that are not DNG: what the containers do
// not say (visible size, margins, stored width, pattern, colours, levels,
// daylight multipliers, byte order, loader). The first matching row applies.
// Sizes and margins are 16-bit: a margin of -14 is 65522 and later additions
// wrap, as the stored values do.
#include <strings.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "rawdecode/raw_bits.h"
#include "rawdecode/raw_camera_tables.h"
#include "rawdecode/raw_failure.h"
#include "rawdecode/raw_identify.h"
#include "rawdecode/raw_loaders.h"
#include "rawdecode/raw_output.h"
#include "rawdecode/raw_parsers.h"
#include "rawdecode/raw_stream.h"

namespace {

// ---- content tests of a few cameras that share a file size --------------

bool nikon_data_is_compressed(raw_decode_context* ctx) {
  uint8_t test[256] = {};
  raw_seek(ctx, ctx->raw_data_offset, 0);
  raw_read(ctx, test, 1, 256);
  for (int i = 15; i < 256; i += 16)
    if (test[i]) return true;
  return false;
}

bool nikon_e995_probe(raw_decode_context* ctx) {
  int histogram[256] = {};
  raw_seek(ctx, -2000, 2);
  for (int i = 0; i < 2000; ++i) {
    int c = raw_getc(ctx);
    if (c < 0) break;
    histogram[c]++;
  }
  for (int c : {0x00, 0x55, 0xAA, 0xFF})
    if (histogram[c] < 200) return false;
  return true;
}

bool nikon_e2100_probe(raw_decode_context* ctx) {
  uint8_t t[12];
  raw_seek(ctx, 0, 0);
  for (int i = 0; i < 1024; ++i) {
    memset(t, 0, sizeof t);
    raw_read(ctx, t, 1, 12);
    if ((((t[2] & t[4] & t[7] & t[9]) >> 4) & t[1] & t[6] & t[8] & t[11] & 3) != 3) return false;
  }
  return true;
}

void nikon_3700_probe(raw_decode_context* ctx) {
  uint8_t d[24] = {};
  raw_seek(ctx, 3072, 0);
  raw_read(ctx, d, 1, 24);
  const int key = ((d[8] & 3) << 4) | (d[20] & 3);
  static const struct {
    int key;
    const char *make, *model;
  } names[] = {{0x00, "PENTAX", "Optio 33WR"}, {0x03, "NIKON", "E3200"},
               {0x32, "NIKON", "E3700"},       {0x33, "OLYMPUS", "C740UZ"}};
  for (const auto& n : names)
    if (n.key == key) {
      strcpy(ctx->camera_make, n.make);
      strcpy(ctx->camera_model, n.model);
    }
}

bool minolta_z2_probe(raw_decode_context* ctx) {
  uint8_t tail[424] = {};
  raw_seek(ctx, -424, 2);
  raw_read(ctx, tail, 1, 424);
  int nonzero = 0;
  for (uint8_t b : tail) nonzero += b != 0;
  return nonzero > 20;
}

// ---- the rows -------------------------------------------------------------

struct settings {
  raw_decode_context* ctx;
  const uint8_t* head;
  int64_t fsize;
  uint16_t &h, &w, &rh, &rw, &top, &left;
  uint32_t& cfa;
  float *pre, *cam;

  explicit settings(raw_decode_context* c, const uint8_t* hd, int64_t size)
      : ctx(c), head(hd), fsize(size), h(c->image_height), w(c->image_width),
        rh(c->sensor_height), rw(c->sensor_width), top(c->top_margin), left(c->left_margin),
        cfa(c->cfa_pattern), pre(c->pre_multipliers), cam(c->camera_multipliers) {}

  const char* make() const { return ctx->camera_make; }
  const char* model() const { return ctx->camera_model; }
  bool make_is(const char* m) const { return !strcmp(ctx->camera_make, m); }
  bool is(const char* m) const { return !strcmp(ctx->camera_model, m); }
  bool begins(const char* m) const { return !strncmp(ctx->camera_model, m, strlen(m)); }
  bool contains(const char* m) const { return strstr(ctx->camera_model, m) != nullptr; }
  void set_model(const char* m) { snprintf(ctx->camera_model, sizeof ctx->camera_model, "%s", m); }
  // Replaces the model's text from position `at` (kept inside the field).
  void set_model_tail(size_t at, const char* text) {
    if (at >= sizeof ctx->camera_model) return;
    snprintf(ctx->camera_model + at, sizeof ctx->camera_model - at, "%s", text);
  }
  void loader(raw_load_fn f) { ctx->raw_loader = f; }
  void table_row(const char* make, const char* model) { apply_camera_matrix_table(ctx, make, model); }
  void refuse() { ctx->raw_image_count = 0; }

  void maker_preliminaries();
  void canon_rows();
  bool canon();
  bool nikon();
  bool fuji_minolta();
  bool small_makers();
  bool own_rules();
  void panasonic_widths();
  bool olympus_sony_kodak();
  void kodak_rules();
  void c330_tail();
  void konica_tail() {
    loader(unpacked_load_raw);
    ctx->white_level = 0x3DF;
    ctx->byte_order = 0x4D4D;
  }
  void cr2_crop() {
    h -= top;
    w -= left;
  }
};

void settings::maker_preliminaries() {
  if (make_is("Canon"))
    loader(!memcmp(head + 6, "HEAPCCDR", 8) ? canon_compressed_load_raw : ljpeg_load_raw);
  if (make_is("NIKON")) {
    if (!ctx->raw_loader) loader(packed_12bit_load_raw);
    if (begins("E")) {
      ctx->loader_flags |= 2;
      if (!ctx->raw_data_offset) ctx->loader_flags |= 4;
    }
  }
  if (make_is("CASIO")) {
    loader(packed_12bit_load_raw);
    ctx->white_level = 0xF7F;
  }
}

bool settings::canon() {
  const bool canon_make = make_is("Canon");
  auto canon10 = [&](int hh, int ww, int rhh, int rww, int t, int l) {
    h = uint16_t(hh), w = uint16_t(ww), rh = uint16_t(rhh), rw = uint16_t(rww);
    top = uint16_t(t), left = uint16_t(l);
    loader(canon_10bit_load_raw);
  };
  if (canon_make && ctx->bits_per_sample == 15) {
    if (w == 3344) w = 3272;
    else if (w == 3872) w = 3866;
    loader(canon_sraw_load_raw);
    cfa = 0;
  } else if (is("PowerShot 600")) {
    h = 613, w = 854, rw = 896, ctx->pixel_aspect_ratio = 607 / 628.0;
    ctx->colour_count = 4, cfa = 0xE1E4E1E4, loader(canon_600_load_raw);
  } else if (is("PowerShot A5") || is("PowerShot A5 Zoom")) {
    h = 773, w = 960, rw = 992, ctx->pixel_aspect_ratio = 256 / 235.0;
    ctx->colour_count = 4, cfa = 0x1E4E1E4E, loader(canon_10bit_load_raw);
  } else if (is("PowerShot A50")) {
    h = 968, w = 1290, rw = 1320, ctx->colour_count = 4, cfa = 0x1B4E4B1E;
    loader(canon_10bit_load_raw);
  } else if (is("PowerShot Pro70")) {
    h = 1024, w = 1552, ctx->colour_count = 4, cfa = 0x1E4B4E1B, loader(canon_10bit_load_raw);
  } else if (is("PowerShot SD300")) {
    canon10(1752, 2344, 1766, 2400, 12, 12);
  } else if (is("PowerShot A460")) {
    canon10(1960, 2616, 1968, 2664, 4, 4);
  } else if (is("PowerShot A530")) {
    canon10(1984, 2620, 1992, 2672, 6, 10);
    ctx->raw_colour_flag = 0;
  } else if (is("PowerShot A610")) {
    bool s2 = false;
    for (int k = 0; k < 100 && !s2; ++k) {
      raw_seek(ctx, 3284 + 3340 * k, 0);
      int c = raw_getc(ctx);
      s2 = c > 15;
    }
    if (s2) set_model_tail(10, "S2 IS");
    canon10(1960, 2616, 1968, 2672, 8, 12);
  } else if (is("PowerShot A620")) {
    canon10(2328, 3112, 2340, 3152, 12, 36);
  } else if (is("PowerShot A720")) {
    canon10(2472, 3298, 2480, 3336, 5, 6);
  } else if (is("PowerShot A630")) {
    canon10(2472, 3288, 2484, 3344, 6, 12);
  } else if (is("PowerShot A640")) {
    canon10(2760, 3672, 2772, 3736, 6, 12);
  } else if (is("PowerShot A650")) {
    canon10(3024, 4032, 3048, 4104, 12, 48);
  } else if (is("PowerShot S3 IS")) {
    canon10(2128, 2840, 2136, 2888, 8, 44);
  } else if (is("PowerShot Pro90 IS")) {
    w = 1896, ctx->colour_count = 4, cfa = 0xB4B4B4B4;
  } else if (canon_make && rw == 2144) {
    h = 1550, w = 2088, top = 8, left = 4;
    if (is("PowerShot G1")) ctx->colour_count = 4, cfa = 0xB4B4B4B4;
  } else if (canon_make && rw == 2224) {
    h = 1448, w = 2176, top = 6, left = 48;
  } else if (canon_make && rw == 2376) {
    h = 1720, w = 2312, top = 6, left = 12;
  } else if (canon_make && rw == 2672) {
    h = 1960, w = 2616, top = 6, left = 12;
  } else if (canon_make && rw == 3152) {
    h = 2056, w = 3088, top = 12, left = 64;
    if (ctx->camera_id == 0x80000170) table_row("Canon", "EOS 300D");
  } else if (canon_make && rw == 3160) {
    h = 2328, w = 3112, top = 12, left = 44;
  } else if (canon_make && rw == 3344) {
    h = 2472, w = 3288, top = 6, left = 4;
  } else if (is("EOS D2000C")) {
    cfa = 0x61616161, ctx->black_level = ctx->tone_curve[200];
  } else if (canon_make && rw == 3516) {
    top = 14, left = 42;
    if (ctx->camera_id == 0x80000189) table_row("Canon", "EOS 350D");
    cr2_crop();
  } else if (canon_make && rw == 3596) {
    top = 12, left = 74;
    cr2_crop();
  } else if (canon_make && rw == 3944) {
    h = 2602, w = 3908, top = 18, left = 30;
  } else if (canon_make && rw == 3948) {
    top = 18, left = 42, h -= 2;
    if (ctx->camera_id == 0x80000236) table_row("Canon", "EOS 400D");
    if (ctx->camera_id == 0x80000254) table_row("Canon", "EOS 1000D");
    cr2_crop();
  } else if (canon_make && rw == 3984) {
    top = 20, left = 76, h -= 2;
    cr2_crop();
  } else if (canon_make && rw == 4104) {
    h = 3024, w = 4032, top = 12, left = 48;
  } else if (canon_make && rw == 4312) {
    top = 18, left = 22, h -= 2;
    if (ctx->camera_id == 0x80000176) table_row("Canon", "EOS 450D");
    cr2_crop();
  } else if (canon_make && rw == 4476) {
    top = 34, left = 90;
    cr2_crop();
  } else if (canon_make && rw == 4480) {
    h = 3326, w = 4432, top = 10, left = 12, cfa = 0x49494949;
  } else if (canon_make && (rw == 1208 || rw == 1448)) {
    top = 51, left = rw == 1208 ? 62 : 158;
    w *= 4, rw = w;
    cr2_crop();
  } else if (canon_make && rw == 5108) {
    top = 13, left = 98;
    cr2_crop();
  } else if (canon_make && rw == 5712) {
    h = 3752, w = 5640, top = 20, left = 62;
  } else {
    return false;
  }
  return true;
}

bool settings::nikon() {
  if (is("D1")) {
    cam[0] *= 256 / 527.0f, cam[2] *= 256 / 317.0f;
  } else if (is("D1X")) {
    w -= 4, ctx->pixel_aspect_ratio = 0.5;
  } else if (is("D40X") || is("D60") || is("D80") || is("D3") || is("D700")) {
    h -= 3, w -= 4;
  } else if (begins("D40") || begins("D50") || begins("D70")) {
    w -= 1;
  } else if (is("D90")) {
    w -= 42;
  } else if (is("D100")) {
    if (ctx->compression_code == 34713 && !nikon_data_is_compressed(ctx)) {
      ctx->loader_flags |= 8, loader(packed_12bit_load_raw);
      w += 3, rw = uint16_t(w + 3);
    }
  } else if (is("D200")) {
    left = 1, w -= 4, cfa = 0x94949494;
  } else if (begins("D2H")) {
    left = 6, w -= 14;
  } else if (begins("D2X")) {
    if (w == 3264) w = 3232;
    else w -= 8;
  } else if (is("D300")) {
    w -= 32;
  } else if (is("COOLPIX P6000")) {
    ctx->loader_flags = 1, cfa = 0x94949494;
  } else if (fsize == 1581060) {
    h = 963, w = 1287, rw = 1632, loader(nikon_e900_load_raw), ctx->white_level = 0x3F4;
    ctx->colour_count = 4, cfa = 0x1E1E1E1E;
    apply_builtin_matrix(ctx, 3);
    pre[0] = 1.2085f, pre[1] = 1.0943f, pre[3] = 1.1103f;
  } else if (fsize == 2465792) {
    h = 1203, w = 1616, rw = 2048, loader(nikon_e900_load_raw);
    ctx->colour_count = 4, cfa = 0x4B4B4B4B;
    table_row("NIKON", "E950");
  } else if (fsize == 4771840) {
    h = 1540, w = 2064, ctx->colour_count = 4, cfa = 0xE1E1E1E1;
    loader(packed_12bit_load_raw), ctx->loader_flags = 6;
    if (!ctx->shot_time && nikon_e995_probe(ctx)) set_model("E995");
    if (!is("E995")) {
      cfa = 0xB4B4B4B4;
      apply_builtin_matrix(ctx, 3);
      pre[0] = 1.196f, pre[1] = 1.246f, pre[2] = 1.018f;
    }
  } else if (is("E2100") && (ctx->shot_time || nikon_e2100_probe(ctx))) {
    h = 1206, w = 1616, ctx->loader_flags = 7;
  } else if (is("E2100") || is("E2500")) {
    set_model("E2500");
    h = 1204, w = 1616, ctx->colour_count = 4, cfa = 0x4B4B4B4B;
  } else if (fsize == 4775936) {
    h = 1542, w = 2064, loader(packed_12bit_load_raw), ctx->loader_flags = 7;
    pre[0] = 1.818f, pre[2] = 1.618f;
    if (!ctx->shot_time) nikon_3700_probe(ctx);
    if (begins("E") && atoi(model() + 1) < 3700) cfa = 0x49494949;
    if (is("Optio 33WR")) {
      ctx->orientation_flags = 1, cfa = 0x16161616;
      pre[0] = 1.331f, pre[2] = 1.820f;
    }
  } else if (fsize == 5869568) {
    h = 1710, w = 2288, cfa = 0x16161616;
    if (!ctx->shot_time && minolta_z2_probe(ctx)) {
      strcpy(ctx->camera_make, "Minolta");
      set_model("DiMAGE Z2");
    }
    loader(packed_12bit_load_raw);
    ctx->loader_flags = 6 + (ctx->camera_make[0] == 'M');
  } else if (is("E4500")) {
    h = 1708, w = 2288, ctx->colour_count = 4, cfa = 0xB4B4B4B4;
  } else if (fsize == 7438336) {
    h = 1924, w = 2576, ctx->colour_count = 4, cfa = 0xB4B4B4B4;
  } else if (fsize == 8998912) {
    h = 2118, w = 2832, ctx->white_level = 0xF83, loader(packed_12bit_load_raw);
    ctx->loader_flags = 7;
  } else {
    return false;
  }
  return true;
}

bool settings::fuji_minolta() {
  if (is("FinePix S5100") || is("FinePix S5500")) {
    loader(unpacked_load_raw);
  } else if (make_is("FUJIFILM")) {
    if (strlen(model()) >= 7 && !strcmp(model() + 7, "S2Pro")) {
      set_model_tail(7, " S2Pro");
      h = 2144, w = 2880, ctx->orientation_flags = 6;
    } else {
      ctx->white_level = 0x3E00;
    }
    const int shot = ctx->options.shot_index;
    if (ctx->raw_image_count == 2 && shot) ctx->white_level = 0x2F00;
    top = uint16_t((rh - h) / 2), left = uint16_t((rw - w) / 2);
    if (ctx->raw_image_count == 2) {
      uint64_t step;
      if (ctx->fuji_layout_flag) {
        rw = uint16_t(rw * 2);
        step = rw;
      } else {
        step = uint64_t{rh} * rw * 2;
      }
      const uint64_t data = ctx->raw_data_offset + (shot != 0) * step;
      if (data > uint64_t(fsize)) return refuse(), true;
      ctx->raw_data_offset = uint32_t(data);
    }
    const int layout = ctx->fuji_layout_flag ? 1 : 0;
    const uint32_t diagonal = layout ? w : w >> 1;
    const uint32_t wide = (uint32_t{h} >> layout) + diagonal;
    // The turned picture must fit the 16-bit sizes.
    if (wide > 0xFFFF || wide < 1) return refuse(), true;
    ctx->fuji_diagonal_width = uint16_t(diagonal);
    w = uint16_t(wide);
    rh = h;
    h = uint16_t(wide - 1);
    loader(fuji_load_raw);
    if (!(ctx->fuji_diagonal_width & 1)) cfa = 0x49494949;
  } else if (is("RD175")) {
    h = 986, w = 1534, ctx->raw_data_offset = 513, cfa = 0x61616161;
    loader(minolta_rd175_load_raw);
  } else if (is("KD-400Z")) {
    h = 1712, w = 2312, rw = 2336;
    konica_tail();
  } else if (is("KD-510Z")) {
    h = 1956, w = 2607, rw = 2624;
    ctx->raw_data_offset += 14, cfa = 0x61616161;
    konica_tail();
  } else if (!strcasecmp(make(), "MINOLTA")) {
    loader(unpacked_load_raw);
    if (begins("DiMAGE A")) {
      if (is("DiMAGE A200")) cfa = 0x49494949;
      loader(packed_12bit_load_raw);
    } else if (begins("ALPHA") || begins("DYNAX") || begins("MAXXUM")) {
      const size_t at = begins("M") ? 7 : 6;
      char text[80];
      snprintf(text, sizeof text, "DYNAX %-10s", strlen(model()) > at ? model() + at : "");
      table_row(make(), text);
      loader(packed_12bit_load_raw);
    } else if (begins("DiMAGE G")) {
      const char digit = model()[8];
      if (digit == '4') h = 1716, w = 2304;
      if (digit == '5') h = 1956, w = 2607, rw = 2624;
      if (digit == '6') h = 2136, w = 2848;
      ctx->raw_data_offset += 14, cfa = 0x61616161;
      konica_tail();
    }
  } else {
    return false;
  }
  return true;
}

bool settings::small_makers() {
  auto eight_or_unpacked = [&](int64_t limit) {
    loader(fsize < limit ? eight_bit_load_raw : unpacked_load_raw);
  };
  if (is("*ist DS")) {
    h -= 2;
  } else if (is("K20D")) {
    cfa = 0x16161616;
  } else if (is("Optio S")) {
    if (fsize == 3178560) {
      h = 1540, w = 2064, loader(eight_bit_load_raw);
      cam[0] *= 4, cam[2] *= 4, pre[0] = 1.391f, pre[2] = 1.188f;
    } else {
      h = 1544, w = 2068, rw = 3136, loader(packed_12bit_load_raw), ctx->white_level = 0xF7C;
      pre[0] = 1.137f, pre[2] = 1.453f;
    }
  } else if (fsize == 6114240) {
    h = 1737, w = 2324, rw = 3520, loader(packed_12bit_load_raw), ctx->white_level = 0xF7A;
    pre[0] = 1.98f, pre[2] = 1.57f;
  } else if (is("Optio 750Z")) {
    h = 2302, w = 3072, loader(packed_12bit_load_raw), ctx->loader_flags = 7;
  } else if (is("S85")) {
    h = 2448, w = 3264, rw = uint16_t(fsize / h / 2), ctx->byte_order = 0x4D4D;
    loader(unpacked_load_raw), ctx->white_level = 0xFFFF;
  } else if (is("STV680 VGA")) {
    h = 484, w = 644, loader(eight_bit_load_raw), ctx->orientation_flags = 2;
    cfa = 0x16161616, ctx->black_level = 16, pre[0] = 1.097f, pre[2] = 1.128f;
  } else if (is("KAI-0340")) {
    h = 477, w = 640, ctx->byte_order = 0x4949, ctx->raw_data_offset = 3840;
    loader(unpacked_load_raw), pre[0] = 1.561f, pre[2] = 2.454f;
  } else if (is("N95")) {
    top = 2, h = uint16_t(rh - 2);
  } else if (is("531C")) {
    h = 1200, w = 1600, loader(unpacked_load_raw), cfa = 0x49494949, pre[1] = 1.218f;
  } else if (is("F-080C")) {
    h = 768, w = 1024, loader(eight_bit_load_raw);
  } else if (is("F-145C")) {
    h = 1040, w = 1392, loader(eight_bit_load_raw);
  } else if (is("F-201C")) {
    h = 1200, w = 1600, loader(eight_bit_load_raw);
  } else if (is("F-510C")) {
    h = 1958, w = 2588, eight_or_unpacked(7500000), ctx->white_level = 0xFFF0;
  } else if (is("F-810C")) {
    h = 2469, w = 3272, loader(unpacked_load_raw), ctx->white_level = 0xFFF0;
  } else if (is("XCD-SX910CR")) {
    h = 1024, w = 1375, rw = 1376, cfa = 0x49494949, ctx->white_level = 0x3FF;
    eight_or_unpacked(2000000);
  } else if (is("2010")) {
    h = 1207, w = 1608, ctx->byte_order = 0x4949, ctx->raw_data_offset = 3212;
    cfa = 0x16161616, loader(unpacked_load_raw), ctx->white_level = 0x3FF;
  } else if (is("A782")) {
    h = 3000, w = 2208, cfa = 0x61616161, eight_or_unpacked(10000000);
    ctx->white_level = 0xFFC0;
  } else if (is("3320AF")) {
    h = 1536, w = rw = 2048, cfa = 0x61616161, loader(unpacked_load_raw);
    ctx->white_level = 0x3FF, pre[0] = 1.717f, pre[2] = 1.138f;
    raw_seek(ctx, 0x300000, 0);
    ctx->byte_order = guess_sample_byte_order(ctx);
    if (ctx->byte_order == 0x4D4D) {
      top = 16, left = 28, h -= 16, w -= 28, ctx->white_level = 0xF5C0;
      strcpy(ctx->camera_make, "ISG");
      ctx->camera_model[0] = 0;
    }
  } else {
    return false;
  }
  return true;
}

void settings::panasonic_widths() {
  auto row = [&](const char* m) { table_row("Panasonic", m); };
  auto lx3_end = [&] {
    cfa = 0x16161616;
    if (make()[0] != 'P') row("DMC-LX3");
  };
  switch (w) {
    case 2568: row("DMC-LC1"); break;
    case 3130: left = uint16_t(-14); [[fallthrough]];
    case 3170:
      left += 18, w = 3096;
      if (h > 2326) h = 2326, top = 13, cfa = 0x49494949;
      ctx->zero_is_bad = 1;
      row("DMC-FZ8");
      break;
    case 3213: w = 3186; [[fallthrough]];
    case 3177:
      w -= 10, cfa = 0x49494949, ctx->zero_is_bad = 1;
      row("DMC-L1");
      break;
    case 3304:
      w = 3287, ctx->zero_is_bad = 1;
      row("DMC-FZ30");
      break;
    case 3330: w = 3373, left = uint16_t(-6), ctx->white_level = 0xF7F0; [[fallthrough]];
    case 3370:
      w -= 82, left += 15;
      if (h > 2480) top = 10, h = 2470;
      cfa = 0x49494949, ctx->zero_is_bad = 1;
      row("DMC-FZ18");
      break;
    case 3690: h -= 2, left = uint16_t(-14), ctx->white_level = 0xF7F0; [[fallthrough]];
    case 3770:
      w = 3672;
      h -= 1;
      if (h == 2798) h = 2760, top = 15;
      else cfa = 0x49494949;
      left += 17, ctx->zero_is_bad = 1;
      row("DMC-FZ50");
      break;
    case 3710:
      w = 3682, cfa = 0x49494949;
      row("DMC-L10");
      break;
    case 3724: w = 3710; [[fallthrough]];
    case 3836:
      w -= 42;
      lx3_end();
      break;
    case 3880:
      w = 3858, left = 6, ctx->zero_is_bad = 1;
      row("DMC-LX1");
      break;
    case 4060:
      w = 3982;
      if (h == 2250) {
        lx3_end();
      } else {
        cfa = 0x49494949, ctx->zero_is_bad = 1, w = 4018;
        row("DMC-G1");
      }
      break;
    case 4290: h += 38, left = uint16_t(-14), cfa = 0x49494949; [[fallthrough]];
    case 4330:
      w = 4248, h -= 39;
      if (h == 2400) top = 15;
      left += 17;
      row("DMC-LX2");
      break;
    case 4508:
      h -= 6, w = 4429, cfa = 0x16161616;
      row("DMC-FX150");
      break;
    default: break;
  }
}

bool settings::own_rules() {
  if (make_is("Hasselblad")) {
    if (ctx->raw_loader == ljpeg_load_raw) loader(hasselblad_load_raw);
    if (rw == 7262) h = 5444, w = 7248, top = 4, left = 7, cfa = 0x61616161;
    else if (rw == 4090) {
      set_model("V96C");
      top = 6, left = 3, h -= 6, w -= 10, cfa = 0x61616161;
    }
  } else if (make_is("Sinar")) {
    if (!memcmp(head, "8BPS", 4)) {
      raw_seek(ctx, 14, 0);
      h = uint16_t(read_u32(ctx));
      w = uint16_t(read_u32(ctx));
      ctx->raw_data_offset = 68, cfa = 0x61616161;
    }
    ctx->white_level = 0x3FFF;
    if (!ctx->raw_loader) loader(unpacked_load_raw);
  } else if (make_is("Leaf")) {
    ctx->white_level = 0x3FFF;
    raw_seek(ctx, ctx->raw_data_offset, 0);
    {
      ljpeg_header jh;
      if (quarn_ljpeg_start(ctx, &jh, 1) && jh.bits == 15) ctx->white_level = 0x1FFF;
    }
    if (ctx->samples_per_pixel > 1) {
      cfa = 0;
      loader(leaf_hdr_load_raw);
    } else if (ctx->tile_height < rh) {
      loader(leaf_hdr_load_raw);
    }
    if ((w | h) == 2048) {
      if (ctx->samples_per_pixel == 1) {
        cfa = 1;
        strcpy(ctx->colour_letters, "RBTG");
        set_model("CatchLight");
        top = 8, left = 18, h = 2032, w = 2016;
      } else {
        set_model("DCB2");
        top = 10, left = 16, h = 2028, w = 2022;
      }
    } else if (w + h == 5204) {
      if (!model()[0]) set_model("Cantare");
      if (w > h) top = 6, left = 32, h = 2048, w = 3072, cfa = 0x61616161;
      else left = 6, top = 32, w = 2048, h = 3072, cfa = 0x16161616;
      if (!cam[0] || model()[0] == 'V') cfa = 0;
      else ctx->raw_image_count = ctx->samples_per_pixel;
    } else if (w == 2116) {
      set_model("Valeo 6");
      top = 30, left = 55, h -= 60, w -= 110, cfa = 0x49494949;
    } else if (w == 3171) {
      set_model("Valeo 6");
      top = 24, left = 24, h -= 48, w -= 48, cfa = 0x16161616;
    }
  } else if (make_is("LEICA") || make_is("Panasonic")) {
    ctx->white_level = 0xFFF0;
    int64_t divisor = int64_t{w} * 8 / 7;
    if (divisor < 1) divisor = 1;
    if ((fsize - int64_t{ctx->raw_data_offset}) / divisor == h) loader(panasonic_load_raw);
    if (!ctx->raw_loader) loader(unpacked_load_raw);
    panasonic_widths();
  } else {
    return false;
  }
  return true;
}

void settings::c330_tail() {
  ctx->byte_order = 0x4949;
  const int64_t data = fsize - int64_t{rh} * rw;
  if (data < 0 || data > 0xFFFFFFFFll) return refuse();
  ctx->raw_data_offset = uint32_t(data);
  if (data == 0) {
    ctx->apply_gamma = 0;
  } else {
    raw_seek(ctx, 168, 0);
    read_u16_array(ctx, ctx->tone_curve, 256);
  }
  loader(eight_bit_load_raw);
}

void settings::kodak_rules() {
  if (cfa == 0xFFFFFFFFu) cfa = 0x61616161;
  if (begins("NC2000") || is("EOSDCS3B") || is("EOSDCS1") || is("DCS420") || is("DCS460")) {
    w -= 4, left = 2;
  } else if (is("DCS460A")) {
    w -= 4, left = 2, ctx->colour_count = 1, cfa = 0;
  } else if (is("DCS660M")) {
    ctx->black_level = 214, ctx->colour_count = 1, cfa = 0;
  } else if (is("DCS760M")) {
    ctx->colour_count = 1, cfa = 0;
  }
  if (strlen(model()) >= 4 && !strcmp(model() + 4, "20X")) strcpy(ctx->colour_letters, "MYCY");
  if (contains("DC25")) {
    set_model("DC25");
    ctx->raw_data_offset = 15424;
  }
  if (begins("DC2")) {
    h = 242;
    if (fsize < 100000) {
      rw = 256, w = 249, ctx->pixel_aspect_ratio = 968 / 747.0;
    } else {
      rw = 512, w = 501, ctx->pixel_aspect_ratio = 0.6384335885869012;
    }
    ctx->raw_data_offset += rw + 1u;
    ctx->colour_count = 4, cfa = 0x8D8D8D8D;
    apply_builtin_matrix(ctx, 1);
    pre[1] = 1.179f, pre[2] = 1.209f, pre[3] = 1.036f;
    loader(eight_bit_load_raw);
  } else if (is("40")) {
    set_model("DC40");
    h = 512, w = 768, ctx->raw_data_offset = 1152, loader(kodak_radc_load_raw);
  } else if (contains("DC50")) {
    set_model("DC50");
    h = 512, w = 768, ctx->raw_data_offset = 19712, loader(kodak_radc_load_raw);
  } else if (contains("DC120")) {
    set_model("DC120");
    h = 976, w = 848, ctx->pixel_aspect_ratio = 1.5345911949685533;
    loader(ctx->compression_code == 7 ? kodak_jpeg_stub : kodak_dc120_load_raw);
  } else if (is("DCS200")) {
    ctx->thumb_height = 128, ctx->thumb_width = 192, ctx->thumb_data_offset = 6144;
    ctx->thumb_format_info = 360, ctx->thumb_writer = layer_thumb;
    h = 1024, w = 1536, ctx->raw_data_offset = 79872, loader(eight_bit_load_raw);
    ctx->black_level = 17;
  }
}

bool settings::olympus_sony_kodak() {
  auto casio = [&](int hh, int ww, int rww, float p0, float p2) {
    h = uint16_t(hh), w = uint16_t(ww), rw = uint16_t(rww);
    if (p0) pre[0] = p0, pre[2] = p2;
  };
  if (is("C770UZ")) {
    h = 1718, w = 2304, cfa = 0x16161616, loader(packed_12bit_load_raw), ctx->loader_flags = 7;
  } else if (make_is("OLYMPUS")) {
    h += h & 1;
    cfa = ctx->exif_cfa_pattern;
    if (ctx->raw_loader == olympus_e410_load_raw) {
      ctx->black_level >>= 4;
    } else if (is("E-10") || begins("E-20")) {
      ctx->black_level <<= 2;
    } else if (is("E-300") || is("E-500")) {
      w -= 20;
      if (ctx->raw_loader == unpacked_load_raw) ctx->white_level = 0xFC30, ctx->black_level = 0;
    } else if (is("E-330")) {
      w -= 30;
      if (ctx->raw_loader == unpacked_load_raw) ctx->white_level = 0xF790;
    } else if (is("SP550UZ")) {
      ctx->thumb_data_offset = 0xA39800;
      ctx->thumb_data_length = fsize > 0xA39800 ? uint32_t(fsize - 0xA39800) : 0;
      ctx->thumb_height = 480, ctx->thumb_width = 640;
    }
  } else if (is("N Digital")) {
    h = 2047, w = 3072, cfa = 0x61616161, ctx->raw_data_offset = 6656;
    loader(packed_12bit_load_raw);
  } else if (is("DSC-F828")) {
    w = 3288, left = 5, ctx->raw_data_offset = 862144, loader(sony_load_raw);
    cfa = 0x9C9C9C9C, ctx->colour_count = 4;
    strcpy(ctx->colour_letters, "RGBE");
  } else if (is("DSC-V3")) {
    w = 3109, left = 59, ctx->raw_data_offset = 787392, loader(sony_load_raw);
  } else if (make_is("SONY") && rw == 3984) {
    table_row("SONY", "DSC-R1");
    w = 3925, ctx->byte_order = 0x4D4D;
  } else if (is("DSLR-A100")) {
    h -= 1;
  } else if (is("DSLR-A350")) {
    h -= 4;
  } else if (is("C603v")) {
    h = 480, w = 640, loader(kodak_yrgb_load_raw), cfa = 0;
  } else if (is("C603y")) {
    h = 2134, w = 2848, loader(kodak_yrgb_load_raw), cfa = 0;
  } else if (is("C603")) {
    h = rh = 2152, w = rw = 2864;
    c330_tail();
  } else if (is("C330")) {
    h = 1744, w = 2336, rh = 1779, rw = 2338, top = 33, left = 1;
    c330_tail();
  } else if (!strcasecmp(make(), "KODAK")) {
    kodak_rules();
  } else if (is("Fotoman Pixtura")) {
    h = 512, w = 768, ctx->raw_data_offset = 3632, loader(kodak_radc_load_raw);
    cfa = 0x61616161;
    apply_builtin_matrix(ctx, 2);
  } else if (is("QuickTake 100")) {
    raw_seek(ctx, 544, 0);
    h = read_u16(ctx);
    w = read_u16(ctx);
    read_u32(ctx);
    ctx->raw_data_offset = read_u16(ctx) == 30 ? 738 : 736;
    if (h > w) {
      const uint16_t t = h;
      h = w, w = t;
      raw_seek(ctx, int64_t{ctx->raw_data_offset} - 6, 0);
      const unsigned v = read_u16(ctx);
      ctx->orientation_flags = (~v & 3) ? 5 : 6;
    }
    loader(quicktake_100_load_raw), cfa = 0x61616161;
  } else if (is("QuickTake 150")) {
    ctx->raw_data_offset = 738u - head[5];
    if (head[5]) set_model_tail(10, "200");
    loader(kodak_radc_load_raw), h = 480, w = 640, cfa = 0x61616161;
  } else if (make_is("Rollei") && !ctx->raw_loader) {
    if (rw == 1316) h = 1030, w = 1300, top = 1, left = 6;
    else if (rw == 2568) h = 1960, w = 2560, top = 2, left = 8;
    cfa = 0x16161616, loader(rollei_load_raw), pre[0] = 1.8f, pre[2] = 1.3f;
  } else if (is("PC-CAM 600")) {
    h = 768, w = 1024, ctx->raw_data_offset = 1024, cfa = 0x49494949;
    loader(eight_bit_load_raw), pre[0] = 1.14f, pre[2] = 2.73f;
  } else if (is("QV-2000UX")) {
    h = 1208, w = 1632, ctx->raw_data_offset = 3264, loader(eight_bit_load_raw);
  } else if (fsize == 3217760) {
    h = 1546, w = 2070, rw = 2080, loader(eight_bit_load_raw);
  } else if (is("QV-4000")) {
    h = 1700, w = 2260, loader(unpacked_load_raw), ctx->white_level = 0xFFFF;
  } else if (is("QV-5700")) {
    h = 1924, w = 2576, loader(casio_qv5700_load_raw);
  } else if (is("QV-R41")) {
    casio(1720, 2312, 3520, 0, 0);
    left = 2;
  } else if (is("QV-R51")) {
    casio(1926, 2580, 3904, 1.34f, 1.672f);
  } else if (is("EX-S100")) {
    casio(1544, 2058, 3136, 1.631f, 1.106f);
  } else if (is("EX-Z50")) {
    casio(1931, 2570, 3904, 2.529f, 1.185f);
  } else if (is("EX-Z55")) {
    casio(1960, 2570, 3904, 1.52f, 1.316f);
  } else if (is("EX-P505")) {
    casio(1928, 2568, 3852, 2.07f, 1.88f);
    ctx->white_level = 0xFFF;
  } else if (fsize == 9313536) {
    casio(2142, 2844, 4288, 1.797f, 1.219f);
  } else if (is("EX-P700")) {
    casio(2318, 3082, 4672, 1.758f, 1.504f);
  } else {
    return false;
  }
  return true;
}

}  // namespace

void apply_camera_settings(raw_decode_context* ctx, const uint8_t* head, int64_t file_size) {
  settings s(ctx, head, file_size);
  s.maker_preliminaries();
  if (ctx->foveon_flag) return;
  if (s.canon() || s.nikon() || s.fuji_minolta() || s.small_makers() || s.own_rules() ||
      s.olympus_sony_kodak())
    return;
}
