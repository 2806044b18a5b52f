#include "imagelib/ImageFormatId.h"

#include <cwctype>

namespace {

struct ExtensionRow {
  const wchar_t* ext;
  ImageFormatId id;
};

// Searched in this order; the first match wins.
constexpr ExtensionRow kExtensions[] = {
    {L"bmp", kFormatBmp}, {L"jpg", kFormatJpg}, {L"jpe", kFormatJpg}, {L"jfi", kFormatJpg},
    {L"gif", kFormatGif}, {L"png", kFormatPng}, {L"ico", kFormatIco}, {L"cur", kFormatIco},
    {L"tif", kFormatTif}, {L"tga", kFormatTga}, {L"pcx", kFormatPcx}, {L"wbm", kFormatWbmp},
    {L"wmf", kFormatWmf}, {L"emf", kFormatWmf}, {L"jp2", kFormatJp2}, {L"j2k", kFormatJp2},
    {L"jpc", kFormatJpc}, {L"j2c", kFormatJpc}, {L"pgx", kFormatPgx}, {L"ras", kFormatRas},
    {L"pnm", kFormatPnm}, {L"pgm", kFormatPnm}, {L"ppm", kFormatPnm}, {L"mng", kFormatMng},
    {L"jng", kFormatMng}, {L"ska", kFormatSka}, {L"psd", kFormatPsd},
    {L"nef", kFormatRaw}, {L"crw", kFormatRaw}, {L"cr2", kFormatRaw}, {L"dng", kFormatRaw},
    {L"arw", kFormatRaw}, {L"erf", kFormatRaw}, {L"3fr", kFormatRaw}, {L"dcr", kFormatRaw},
    {L"raw", kFormatRaw}, {L"x3f", kFormatRaw}, {L"mef", kFormatRaw}, {L"raf", kFormatRaw},
    {L"mrw", kFormatRaw}, {L"pef", kFormatRaw}, {L"sr2", kFormatRaw}, {L"orf", kFormatRaw},
};

bool FirstThreeMatch(std::wstring_view text, const wchar_t* ext) {
  if (text.size() < 3) return false;
  for (int i = 0; i < 3; ++i) {
    if (std::towlower(static_cast<wint_t>(text[i])) != static_cast<wint_t>(ext[i])) return false;
  }
  return true;
}

}  // namespace

ImageFormatId FormatIdFromExtension(std::wstring_view extension) {
  for (const ExtensionRow& row : kExtensions) {
    if (FirstThreeMatch(extension, row.ext)) return row.id;
  }
  return kFormatUnknown;
}

uint32_t FormatIndexFromId(ImageFormatId id) {
  if (id <= 15) return id;
  if (id >= 17 && id <= 20) return id - 1;
  return 0;
}
