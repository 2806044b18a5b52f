// Format identifiers of the image library, their dense index (the slot of a
// format's codec options) and the mapping from file extensions.
#pragma once

#include <cstdint>
#include <string_view>

using ImageFormatId = uint32_t;

enum : ImageFormatId {
  kFormatUnknown = 0,  // on reading: try every format
  kFormatBmp = 1,
  kFormatGif = 2,
  kFormatJpg = 3,
  kFormatPng = 4,
  kFormatIco = 5,
  kFormatTif = 6,
  kFormatTga = 7,
  kFormatPcx = 8,
  kFormatWbmp = 9,
  kFormatWmf = 10,
  kFormatJp2 = 11,
  kFormatJpc = 12,
  kFormatPgx = 13,
  kFormatPnm = 14,
  kFormatRas = 15,
  // 16 is not used.
  kFormatMng = 17,
  kFormatSka = 18,
  kFormatRaw = 19,
  kFormatPsd = 20,
};

constexpr int kFormatIndexCount = 20;  // dense indices 0..19

// First three characters of the extension (without the dot), compared
// case-insensitively; 0 when nothing matches.
ImageFormatId FormatIdFromExtension(std::wstring_view extension);

// 0 -> 0, 1..15 -> themselves, 17..20 -> 16..19, anything else -> 0.
uint32_t FormatIndexFromId(ImageFormatId id);
