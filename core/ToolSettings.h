// The settings record of the main frame and the five tool panels, and its
// INI file.
//
// One field per key of the settings file; the comment on each group names
// the file section, the comment on each field its key. Defaults are the
// values a first start uses. The frame owns one record, each panel copies
// it in when it opens and back after a run (plain copies: the record has no
// virtual functions and owns its texts).
#pragma once

#include <array>
#include <cstdint>
#include <string>

// The picture patterns a fresh record offers: a pattern list is a text of
// file patterns joined by "|".
inline constexpr const wchar_t* kDefaultPicturePatterns = L"*.jpg|*.jpeg|*.png|*.bmp|*.gif|*.ico";

struct ToolSettings {
  // [SEL_INDEX]
  int32_t catIndex = 2;  // CAT_INDEX: ribbon category last active, 1 viewing, 2 picture tools
  int32_t selIndex = 0;  // SEL_INDEX: tool last shown, 0 sorting .. 4 merging

  // [CLASSIFY_FILES]
  bool classifyRememberDir = true;        // REMEMBERDIR
  bool classifyBmp = true;                // BMP
  bool classifyJpg = true;                // JPG
  bool classifyPng = true;                // PNG
  bool classifyGif = true;                // GIF
  int32_t classifyIndex = 0;              // INDEX: 0 picture formats, 1 custom patterns
  int32_t classifyMethod = 0;             // METHOD: 0 by shooting time, 1 by resolution
  std::wstring classifyDirValue;          // DIR_VALUE
  std::wstring classifyCustom = L"*.*";   // CUSTOM (pattern list)

  // [RESIZE_PICS]
  bool resizeRememberDir = true;   // REMEMBERDIR
  bool resizeKeepWidth = false;    // KEEPWIDTH
  bool resizeKeepScale = true;     // KEEPSCALE
  bool resizeKeepHeight = false;   // KEEPHEIGHT
  bool resizeGrayscale = false;    // GRAYSCALE
  bool resizeIgnoreMin = false;    // IGNORE_MIN
  int32_t resizeIndex = 0;         // INDEX: 0 write beside the source, 1 overwrite
  int32_t resizeWidth = 1920;      // WIDTH
  int32_t resizeHeight = 1920;     // HEIGHT
  int32_t resizeThreadNum = 4;     // THREAD_NUM (set only in the file)
  int32_t resizeJpgQuality = 90;   // JPG_QUALITY
  std::wstring resizeDirValue;     // DIR_VALUE
  std::wstring resizePicSuffixs = kDefaultPicturePatterns;  // PIC_SUFFIXS

  // [CLONE_EXIF]
  enum ClonePath { kCloneFileValue = 0, kCloneFileDst = 1, kCloneDirValue = 2, kCloneDirDst = 3 };
  int32_t cloneIndex = 0;             // INDEX: 0 single picture, 1 whole folder tree
  bool cloneRememberFile = true;      // REMEMBERFILE
  int32_t cloneThreadNum = 4;         // THREAD_NUM (set only in the file)
  std::array<std::wstring, 4> clonePaths;  // FILE_VALUE, FILE_DST, DIR_VALUE, DIR_DST (by ClonePath)
  std::wstring clonePicSuffixs = kDefaultPicturePatterns;  // PIC_SUFFIXS

  // [CONVERTOR]
  bool convertRememberDir = true;      // REMEMBERDIR
  bool convertBmp = false;             // BMP
  bool convertJpg = true;              // JPG
  bool convertPng = false;             // PNG
  bool convertGif = false;             // GIF
  bool convertKeepModifyTime = true;   // KEEP_MODIFYTIME
  bool convertSetPhotoTime = true;     // SET_PHOTOTIME
  bool convertSetGrayscale = false;    // SET_GRAYSCALE
  int32_t convertIndex = 0;            // INDEX: 0 into a new folder, 1 into the same folder
  int32_t convertThreadNum = 4;        // THREAD_NUM (set only in the file)
  int32_t convertJpgQuality = 90;      // JPG_QUALITY
  std::wstring convertDirValue;        // DIR_VALUE
  std::wstring convertPicSuffixs = kDefaultPicturePatterns;  // PIC_SUFFIXS

  // [MERGE_IMGS]
  bool mergeRememberDir = true;   // REMEMBERDIR
  bool mergeKeepWidth = false;    // KEEPWIDTH
  bool mergeKeepHeight = false;   // KEEPHEIGHT
  bool mergeGrayscale = false;    // GRAYSCALE
  int32_t mergeIndex = 0;         // INDEX: 0 side by side, 1 one below the other
  int32_t mergeWidth = 1080;      // WIDTH
  int32_t mergeHeight = 1080;     // HEIGHT
  int32_t mergeJpgQuality = 90;   // JPG_QUALITY
  std::wstring mergeDirValue;     // DIR_VALUE
  std::wstring mergePicSuffixs = kDefaultPicturePatterns;  // PIC_SUFFIXS

  bool operator==(const ToolSettings&) const = default;
};

// Reads the file into `settings`. A missing file is first written from the
// record's current values. A key that is missing or whose value does not
// read (or lies outside its range: THREAD_NUM below 1, WIDTH or HEIGHT
// below 1) leaves its field as it was. JPG_QUALITY takes any number: the
// panels store 0 to 100, and the quality list selects "99" for the others. Section and
// key names match in any letter case; line ends may be LF or CR LF.
// Returns 0.
int LoadSettings(const std::wstring& path, ToolSettings& settings);

// Writes the record as the whole new file (UTF-8 signature, fixed section
// and key order, "key = value" lines), replacing the old file atomically:
// a save that fails leaves the old file whole. 0 on success, -1 on failure.
int SaveSettings(const std::wstring& path, const ToolSettings& settings);

// The bytes SaveSettings writes for a record.
std::string FormatSettings(const ToolSettings& settings);

// Where the settings file lives (see pw::SettingsFilePath), as a wide path;
// empty when the program has no folder for its files.
std::wstring GetSettingsFilePath();

// Today's dated run log beside the settings (see pw::RunLogPath).
std::wstring GetRunLogPath();
