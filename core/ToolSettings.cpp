#include "core/ToolSettings.h"

// The narrow store over UTF-8 text: no wide conversion layer is wanted.
#define SI_NO_CONVERSION
#include <SimpleIni.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "core/StringHelpers.h"
#include "platform/atomic_file.h"
#include "platform/files.h"
#include "platform/paths.h"

namespace {

constexpr int32_t kNoMin = std::numeric_limits<int32_t>::min();
constexpr int32_t kNoMax = std::numeric_limits<int32_t>::max();

// A settings file is a few kilobytes; anything this large is not one.
constexpr long kMaxSettingsFileBytes = 4 * 1024 * 1024;

// Visits every field in file order: section by section, key by key, as the
// file is written. `Settings` is ToolSettings or const ToolSettings.
// JPG_QUALITY is read whole: the panels store 0 to 100 (0 leaves the
// encoder's quality as it was), and a value outside that range is the
// quality list's to judge (it selects "99"), so what is saved loads again.
template <class Settings, class Visitor>
void VisitFields(Settings& s, Visitor&& v) {
  const char* sec = "SEL_INDEX";
  v.Int(sec, "CAT_INDEX", s.catIndex, kNoMin, kNoMax);
  v.Int(sec, "SEL_INDEX", s.selIndex, kNoMin, kNoMax);

  sec = "CLASSIFY_FILES";
  v.Bool(sec, "REMEMBERDIR", s.classifyRememberDir);
  v.Text(sec, "DIR_VALUE", s.classifyDirValue);
  v.Int(sec, "INDEX", s.classifyIndex, kNoMin, kNoMax);
  v.Int(sec, "METHOD", s.classifyMethod, kNoMin, kNoMax);
  v.Bool(sec, "BMP", s.classifyBmp);
  v.Bool(sec, "JPG", s.classifyJpg);
  v.Bool(sec, "PNG", s.classifyPng);
  v.Bool(sec, "GIF", s.classifyGif);
  v.Text(sec, "CUSTOM", s.classifyCustom);

  sec = "RESIZE_PICS";
  v.Bool(sec, "REMEMBERDIR", s.resizeRememberDir);
  v.Text(sec, "DIR_VALUE", s.resizeDirValue);
  v.Text(sec, "PIC_SUFFIXS", s.resizePicSuffixs);
  v.Int(sec, "INDEX", s.resizeIndex, kNoMin, kNoMax);
  v.Int(sec, "WIDTH", s.resizeWidth, 1, kNoMax);
  v.Int(sec, "HEIGHT", s.resizeHeight, 1, kNoMax);
  v.Bool(sec, "KEEPWIDTH", s.resizeKeepWidth);
  v.Bool(sec, "KEEPSCALE", s.resizeKeepScale);
  v.Bool(sec, "KEEPHEIGHT", s.resizeKeepHeight);
  v.Bool(sec, "GRAYSCALE", s.resizeGrayscale);
  v.Bool(sec, "IGNORE_MIN", s.resizeIgnoreMin);
  v.Int(sec, "THREAD_NUM", s.resizeThreadNum, 1, kNoMax);
  v.Int(sec, "JPG_QUALITY", s.resizeJpgQuality, kNoMin, kNoMax);

  sec = "CLONE_EXIF";
  v.Int(sec, "INDEX", s.cloneIndex, kNoMin, kNoMax);
  v.Bool(sec, "REMEMBERFILE", s.cloneRememberFile);
  v.Text(sec, "FILE_VALUE", s.clonePaths[ToolSettings::kCloneFileValue]);
  v.Text(sec, "FILE_DST", s.clonePaths[ToolSettings::kCloneFileDst]);
  v.Text(sec, "DIR_VALUE", s.clonePaths[ToolSettings::kCloneDirValue]);
  v.Text(sec, "DIR_DST", s.clonePaths[ToolSettings::kCloneDirDst]);
  v.Text(sec, "PIC_SUFFIXS", s.clonePicSuffixs);
  v.Int(sec, "THREAD_NUM", s.cloneThreadNum, 1, kNoMax);

  sec = "CONVERTOR";
  v.Bool(sec, "REMEMBERDIR", s.convertRememberDir);
  v.Text(sec, "DIR_VALUE", s.convertDirValue);
  v.Text(sec, "PIC_SUFFIXS", s.convertPicSuffixs);
  v.Bool(sec, "BMP", s.convertBmp);
  v.Bool(sec, "JPG", s.convertJpg);
  v.Bool(sec, "PNG", s.convertPng);
  v.Bool(sec, "GIF", s.convertGif);
  v.Int(sec, "INDEX", s.convertIndex, kNoMin, kNoMax);
  v.Bool(sec, "KEEP_MODIFYTIME", s.convertKeepModifyTime);
  v.Bool(sec, "SET_PHOTOTIME", s.convertSetPhotoTime);
  v.Bool(sec, "SET_GRAYSCALE", s.convertSetGrayscale);
  v.Int(sec, "THREAD_NUM", s.convertThreadNum, 1, kNoMax);
  v.Int(sec, "JPG_QUALITY", s.convertJpgQuality, kNoMin, kNoMax);

  sec = "MERGE_IMGS";
  v.Bool(sec, "REMEMBERDIR", s.mergeRememberDir);
  v.Text(sec, "DIR_VALUE", s.mergeDirValue);
  v.Text(sec, "PIC_SUFFIXS", s.mergePicSuffixs);
  v.Int(sec, "INDEX", s.mergeIndex, kNoMin, kNoMax);
  v.Int(sec, "WIDTH", s.mergeWidth, 1, kNoMax);
  v.Int(sec, "HEIGHT", s.mergeHeight, 1, kNoMax);
  v.Bool(sec, "KEEPWIDTH", s.mergeKeepWidth);
  v.Bool(sec, "KEEPHEIGHT", s.mergeKeepHeight);
  v.Bool(sec, "GRAYSCALE", s.mergeGrayscale);
  v.Int(sec, "JPG_QUALITY", s.mergeJpgQuality, kNoMin, kNoMax);
}

// A store set up the same way for reading and writing: UTF-8, no multi-key,
// no multi-line values, spaces around "=", names matched in any case.
struct Store {
  Store() : ini(/*isUtf8=*/true, /*multiKey=*/false, /*multiLine=*/false) { ini.SetSpaces(true); }
  CSimpleIniA ini;
};

struct Writer {
  CSimpleIniA& ini;
  void Put(const char* sec, const char* key, const std::string& value) { ini.SetValue(sec, key, value.c_str()); }
  void Int(const char* sec, const char* key, int32_t value, int32_t, int32_t) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%ld", static_cast<long>(value));
    Put(sec, key, buf);
  }
  void Bool(const char* sec, const char* key, bool value) { Put(sec, key, value ? "true" : "false"); }
  void Text(const char* sec, const char* key, const std::wstring& value) { Put(sec, key, WideToNarrow(value)); }
};

// Decimal, or hexadecimal after "0x"/"0X"; the whole text must be the
// number and it must fit a 32-bit field.
bool ParseInt(const char* text, int32_t& out) {
  if (!text || !*text || std::strlen(text) > 63) return false;
  const char* digits = text;
  int base = 10;
  if (text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    digits = text + 2;
    base = 16;
    if (!*digits) return false;
  }
  char* end = nullptr;
  errno = 0;
  const long value = std::strtol(digits, &end, base);
  if (end == digits || *end != '\0' || errno == ERANGE) return false;
  if (value < INT32_MIN || value > INT32_MAX) return false;
  out = static_cast<int32_t>(value);
  return true;
}

bool ParseBool(const char* text, bool& out) {
  if (!text) return false;
  switch (text[0]) {
    case 't': case 'T': case 'y': case 'Y': case '1':
      out = true;
      return true;
    case 'f': case 'F': case 'n': case 'N': case '0':
      out = false;
      return true;
    case 'o': case 'O':
      if (text[1] == 'n' || text[1] == 'N') {
        out = true;
        return true;
      }
      if (text[1] == 'f' || text[1] == 'F') {
        out = false;
        return true;
      }
      return false;
    default:
      return false;
  }
}

struct Reader {
  const CSimpleIniA& ini;
  void Int(const char* sec, const char* key, int32_t& field, int32_t min, int32_t max) {
    int32_t value = 0;
    if (ParseInt(ini.GetValue(sec, key, nullptr), value) && value >= min && value <= max) field = value;
  }
  void Bool(const char* sec, const char* key, bool& field) {
    bool value = false;
    if (ParseBool(ini.GetValue(sec, key, nullptr), value)) field = value;
  }
  void Text(const char* sec, const char* key, std::wstring& field) {
    if (const char* value = ini.GetValue(sec, key, nullptr)) field = NarrowToWide(value);
  }
};

// The whole file, or false when it cannot be read (or is far too large).
bool ReadSettingsFile(const std::string& path, std::string& bytes) {
  if (!pw::FileExists(path)) return false;
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  bytes.clear();
  char buf[8192];
  size_t n;
  bool ok = true;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) {
    bytes.append(buf, n);
    if (bytes.size() > static_cast<size_t>(kMaxSettingsFileBytes)) {
      ok = false;
      break;
    }
  }
  if (std::ferror(f)) ok = false;
  std::fclose(f);
  return ok;
}

}  // namespace

std::string FormatSettings(const ToolSettings& settings) {
  Store store;
  VisitFields(settings, Writer{store.ini});
  std::string out;
  if (store.ini.Save(out, /*addSignature=*/true) < 0) return std::string();
  // The store ends lines the host's way (LF here); the file's layout is
  // CR LF, as the same file written on any system reads.
  std::string crlf;
  crlf.reserve(out.size() + out.size() / 16);
  for (char c : out) {
    if (c == '\n' && (crlf.empty() || crlf.back() != '\r')) crlf += '\r';
    crlf += c;
  }
  return crlf;
}

int SaveSettings(const std::wstring& path, const ToolSettings& settings) {
  const std::string narrow = WideToNarrow(path);
  if (narrow.empty()) return -1;
  const std::string bytes = FormatSettings(settings);
  if (bytes.empty()) return -1;
  return pw::WriteFileAtomically(narrow, bytes) ? 0 : -1;
}

int LoadSettings(const std::wstring& path, ToolSettings& settings) {
  const std::string narrow = WideToNarrow(path);
  if (narrow.empty()) return 0;
  if (!pw::FileExists(narrow)) {
    SaveSettings(path, settings);
    return 0;
  }
  std::string bytes;
  if (!ReadSettingsFile(narrow, bytes)) return 0;
  Store store;
  if (store.ini.LoadData(bytes.data(), bytes.size()) < 0) return 0;
  VisitFields(settings, Reader{store.ini});
  return 0;
}

std::wstring GetSettingsFilePath() { return NarrowToWide(pw::SettingsFilePath()); }

std::wstring GetRunLogPath() { return NarrowToWide(pw::RunLogPath()); }
