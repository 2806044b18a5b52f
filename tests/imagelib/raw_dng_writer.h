// DNG files written by the tests: a known scene on a Bayer sensor (or a
// one-colour sensor), stored uncompressed or as lossless JPEG, with the
// orientation, colour matrix and white balance tags the decoder reads.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "tests/rawdecode/raw_test_encoder.h"
#include "tests/rawdecode/raw_tiff_writer.h"

namespace dngtest {

// The scene in camera values (white 4095): the top half holds a grey patch,
// a red patch and a green patch side by side; the bottom half a grey ramp
// from left to right.
inline int SceneValue(int row, int col, int colour, int height, int width) {
  if (row < height / 2) {
    const int third = width / 3;
    if (col < third) return 2000;
    if (col < 2 * third) return colour == 0 ? 3000 : colour == 1 ? 700 : 600;
    return colour == 1 ? 2500 : 500;
  }
  return 100 + col * 3600 / (width - 1);
}

struct DngSpec {
  int width = 64, height = 48;
  bool lossless = false;
  bool monochrome = false;
  int orientation = 1;  // the TIFF orientation tag
  uint32_t white = 4095;
  bool preview = false;  // an RGB preview first, the sensor data in a sub-directory
  bool colour_tags = true;  // the colour matrix and the white balance as shot
  bool flat_grey = false;   // the whole scene one grey (before the gains)
  float gains[3] = {1, 1, 1};  // the sensor's sensitivity per colour
  // Storage layout: rows per strip (0: one strip), or a tile size (tiles
  // when tile_width is set; a tile may reach past the picture).
  int strip_rows = 0;
  int tile_width = 0, tile_height = 0;
  std::vector<size_t> piece_order;  // storage order of the strips or tiles (empty: in order)
  bool swap_tables = false;         // lossless: scan selectors 1, 0 for the two components
  // Lossless: the frame's shape for a piece of w x h positions, filled
  // row after row from the frame's values: lines of w * rows_per_line /
  // components positions with `components` values each, h / rows_per_line
  // lines (2 and 2 give 64 lines of 128 x 2 for a 128 x 128 tile).
  int ljpeg_components = 2, ljpeg_rows_per_line = 1;
  int ljpeg_short_lines = 0;  // lossless: each frame ends this many lines early
  // ActiveArea (50829): -1 writes none; 0 or 1 stores the picture that many
  // columns in from the left of a sensor two columns wider, the CFA pattern
  // (which DNG counts from the active area) unchanged.
  int active_left = -1;
  bool white_tag = true;  // WhiteLevel (50717)
  // Grey bars 4 columns wide, alternately dark and bright, the same in every
  // row, in place of the scene.
  bool vertical_bars = false;
  // A LinearizationTable of this many entries (a multiple of 4096): code
  // k stands for k * 4096 / entries, and the codes are stored so.
  int linear_entries = 0;
  // An 8 x 8 block at the white level in the top-left corner: with it the
  // brightest percent of the picture, which sets the output brightness, is
  // the same whatever happens to the rest.
  bool white_corner = false;
  // Uncompressed: bits per sample, packed from the most significant bit
  // down with each row of a piece starting on a byte (16: little-endian words).
  int packed_bits = 16;
};

// Where WriteDng put each strip or tile, and how long it is.
struct DngPieces {
  std::vector<uint32_t> offsets, lengths;
};

inline std::vector<uint8_t> WriteDng(const DngSpec& s, DngPieces* where = nullptr) {
  // Bayer R G / G B.
  auto colour_at = [&](int r, int c) { return s.monochrome ? 1 : ((r & 1) << 1 | (c & 1)) == 0 ? 0
                                                               : ((r & 1) && (c & 1))          ? 2
                                                                                               : 1; };
  std::vector<uint16_t> samples(size_t(s.width) * s.height);
  for (int r = 0; r < s.height; ++r)
    for (int c = 0; c < s.width; ++c) {
      const int value = s.flat_grey ? 1500 : s.vertical_bars ? (c / 4 % 2 ? 3000 : 400)
                                                             : SceneValue(r, c, colour_at(r, c), s.height, s.width);
      samples[size_t(r) * s.width + c] = uint16_t(value * s.gains[colour_at(r, c)]);
    }

  if (s.white_corner)
    for (int r = 0; r < 8; ++r)
      for (int c = 0; c < 8; ++c) samples[size_t(r) * s.width + c] = uint16_t(s.white);
  if (s.linear_entries)
    for (uint16_t& v : samples) v = uint16_t(uint32_t(v) * uint32_t(s.linear_entries) / 4096);
  // The stored frame: with an active area, two columns wider (the columns
  // outside the picture hold a value of their own).
  const int stored_width = s.active_left >= 0 ? s.width + 2 : s.width;
  if (s.active_left >= 0) {
    std::vector<uint16_t> stored(size_t(stored_width) * s.height, 777);
    for (int r = 0; r < s.height; ++r)
      for (int c = 0; c < s.width; ++c)
        stored[size_t(r) * stored_width + c + s.active_left] = samples[size_t(r) * s.width + c];
    samples = std::move(stored);
  }

  // One strip or tile: `pw` x `ph` positions from (top, left); positions
  // past the picture are 0.
  auto piece = [&](int top, int left, int pw, int ph) {
    std::vector<uint16_t> part(size_t(pw) * ph, 0);
    for (int r = 0; r < ph; ++r)
      for (int c = 0; c < pw; ++c)
        if (top + r < s.height && left + c < stored_width)
          part[size_t(r) * pw + c] = samples[size_t(top + r) * stored_width + left + c];
    std::vector<uint8_t> data;
    if (s.lossless) {
      rawtest::LjpegParams p;
      p.width = pw * s.ljpeg_rows_per_line / s.ljpeg_components;
      p.height = ph / s.ljpeg_rows_per_line - s.ljpeg_short_lines;
      part.resize(size_t(p.width) * s.ljpeg_components * size_t(p.height));
      p.components = s.ljpeg_components;
      p.precision = s.linear_entries ? 16 : 12;
      p.psv = 1;
      p.swap_tables = s.swap_tables;
      data = rawtest::EncodeLjpeg(p, part);
    } else if (s.packed_bits == 16) {
      for (uint16_t v : part) {
        data.push_back(uint8_t(v));
        data.push_back(uint8_t(v >> 8));
      }
    } else {
      for (int r = 0; r < ph; ++r) {
        uint32_t acc = 0;
        int have = 0;
        for (int c = 0; c < pw; ++c) {
          acc = acc << s.packed_bits | part[size_t(r) * pw + c];
          for (have += s.packed_bits; have >= 8; have -= 8) data.push_back(uint8_t(acc >> (have - 8)));
        }
        if (have) data.push_back(uint8_t(acc << (8 - have)));
      }
    }
    return data;
  };
  std::vector<std::vector<uint8_t>> pieces;
  const bool tiled = s.tile_width > 0;
  if (tiled) {
    for (int top = 0; top < s.height; top += s.tile_height)
      for (int left = 0; left < stored_width; left += s.tile_width)
        pieces.push_back(piece(top, left, s.tile_width, s.tile_height));
  } else {
    const int rows = s.strip_rows ? s.strip_rows : s.height;
    for (int top = 0; top < s.height; top += rows) pieces.push_back(piece(top, 0, stored_width, std::min(rows, s.height - top)));
  }
  rawtest::TiffWriter writer(true);
  rawtest::TiffIfd& first = writer.NewIfd(true);
  rawtest::TiffIfd& ifd = s.preview ? writer.NewIfd(false) : first;
  if (s.preview) {
    first.Long(254, {1}).Image(16, 12, 8, 1, 2, 3).Strip(std::vector<uint8_t>(16 * 12 * 3, 0x80));
    first.Pointers(330, {&ifd});
  }
  ifd.Long(254, {0});
  ifd.Image(uint32_t(stored_width), uint32_t(s.height), s.lossless ? 16 : uint32_t(s.packed_bits), s.lossless ? 7 : 1,
            s.monochrome ? 34892 : 32803, 1);
  first.Ascii(271, "Pixelwharf");
  first.Ascii(272, s.monochrome ? "Mono Test" : "Bayer Test");
  first.Short(274, {uint32_t(s.orientation)});
  if (!s.monochrome) {
    ifd.Short(33421, {2, 2});
    ifd.Bytes(33422, 1, {0, 1, 1, 2});
  }
  first.Bytes(50706, 1, {1, 1, 0, 0});
  if (s.white_tag) ifd.Long(50717, {s.white});
  if (s.active_left >= 0)
    ifd.Long(50829, {0, uint32_t(s.active_left), uint32_t(s.height), uint32_t(s.active_left + s.width)});
  if (!s.monochrome && s.colour_tags) {
    // The sensor sees sRGB primaries: XYZ to camera is XYZ to linear sRGB.
    first.SRational(50721, {{32406, 10000}, {-15372, 10000}, {-4986, 10000},
                          {-9689, 10000}, {18758, 10000}, {415, 10000},
                          {557, 10000}, {-2040, 10000}, {10570, 10000}});
    first.Rational(50728, {{1, 1}, {1, 1}, {1, 1}});
  }
  if (tiled) {
    ifd.Long(322, {uint32_t(s.tile_width)}).Long(323, {uint32_t(s.tile_height)});
  } else if (s.strip_rows) {
    ifd.Long(278, {uint32_t(s.strip_rows)});
  }
  if (s.linear_entries) {
    std::vector<uint32_t> table;
    for (int k = 0; k < s.linear_entries; ++k) table.push_back(uint32_t(k * 4096 / s.linear_entries));
    ifd.Short(50712, table);
  }
  ifd.Pieces(tiled, pieces, s.piece_order);
  std::vector<uint8_t> bytes = writer.Bytes();
  if (where) {
    *where = DngPieces{};
    for (size_t i = 0; i < pieces.size(); ++i) {
      where->offsets.push_back(ifd.piece_at(i));
      where->lengths.push_back(uint32_t(pieces[i].size()));
    }
  }
  return bytes;
}

}  // namespace dngtest
