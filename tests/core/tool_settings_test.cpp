#include "core/ToolSettings.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <functional>

#include "core/StringHelpers.h"
#include "../platform/temp_tree.h"

namespace {

using pwtest::ReadAll;
using pwtest::TempTree;

// The file a record with every default produces, written out by hand.
const char kDefaultFile[] =
    "\xEF\xBB\xBF"
    "[SEL_INDEX]\r\n"
    "CAT_INDEX = 2\r\n"
    "SEL_INDEX = 0\r\n"
    "\r\n\r\n"
    "[CLASSIFY_FILES]\r\n"
    "REMEMBERDIR = true\r\n"
    "DIR_VALUE = \r\n"
    "INDEX = 0\r\n"
    "METHOD = 0\r\n"
    "BMP = true\r\n"
    "JPG = true\r\n"
    "PNG = true\r\n"
    "GIF = true\r\n"
    "CUSTOM = *.*\r\n"
    "\r\n\r\n"
    "[RESIZE_PICS]\r\n"
    "REMEMBERDIR = true\r\n"
    "DIR_VALUE = \r\n"
    "PIC_SUFFIXS = *.jpg|*.jpeg|*.png|*.bmp|*.gif|*.ico\r\n"
    "INDEX = 0\r\n"
    "WIDTH = 1920\r\n"
    "HEIGHT = 1920\r\n"
    "KEEPWIDTH = false\r\n"
    "KEEPSCALE = true\r\n"
    "KEEPHEIGHT = false\r\n"
    "GRAYSCALE = false\r\n"
    "IGNORE_MIN = false\r\n"
    "THREAD_NUM = 4\r\n"
    "JPG_QUALITY = 90\r\n"
    "\r\n\r\n"
    "[CLONE_EXIF]\r\n"
    "INDEX = 0\r\n"
    "REMEMBERFILE = true\r\n"
    "FILE_VALUE = \r\n"
    "FILE_DST = \r\n"
    "DIR_VALUE = \r\n"
    "DIR_DST = \r\n"
    "PIC_SUFFIXS = *.jpg|*.jpeg|*.png|*.bmp|*.gif|*.ico\r\n"
    "THREAD_NUM = 4\r\n"
    "\r\n\r\n"
    "[CONVERTOR]\r\n"
    "REMEMBERDIR = true\r\n"
    "DIR_VALUE = \r\n"
    "PIC_SUFFIXS = *.jpg|*.jpeg|*.png|*.bmp|*.gif|*.ico\r\n"
    "BMP = false\r\n"
    "JPG = true\r\n"
    "PNG = false\r\n"
    "GIF = false\r\n"
    "INDEX = 0\r\n"
    "KEEP_MODIFYTIME = true\r\n"
    "SET_PHOTOTIME = true\r\n"
    "SET_GRAYSCALE = false\r\n"
    "THREAD_NUM = 4\r\n"
    "JPG_QUALITY = 90\r\n"
    "\r\n\r\n"
    "[MERGE_IMGS]\r\n"
    "REMEMBERDIR = true\r\n"
    "DIR_VALUE = \r\n"
    "PIC_SUFFIXS = *.jpg|*.jpeg|*.png|*.bmp|*.gif|*.ico\r\n"
    "INDEX = 0\r\n"
    "WIDTH = 1080\r\n"
    "HEIGHT = 1080\r\n"
    "KEEPWIDTH = false\r\n"
    "KEEPHEIGHT = false\r\n"
    "GRAYSCALE = false\r\n"
    "JPG_QUALITY = 90\r\n";

// A record in which every field differs from its default.
ToolSettings Unusual() {
  ToolSettings s;
  s.catIndex = 1;
  s.selIndex = 3;
  s.classifyRememberDir = s.classifyBmp = s.classifyJpg = s.classifyPng = s.classifyGif = false;
  s.classifyIndex = 1;
  s.classifyMethod = 1;
  s.classifyDirValue = L"/home/用户/照片";
  s.classifyCustom = L"*.raw|*.txt";
  s.resizeRememberDir = false;
  s.resizeKeepWidth = true;
  s.resizeKeepScale = false;
  s.resizeKeepHeight = s.resizeGrayscale = s.resizeIgnoreMin = true;
  s.resizeIndex = 1;
  s.resizeWidth = 800;
  s.resizeHeight = 600;
  s.resizeThreadNum = 2;
  s.resizeJpgQuality = 75;
  s.resizeDirValue = L"/data/a";
  s.resizePicSuffixs = L"*.jpg";
  s.cloneIndex = 1;
  s.cloneRememberFile = false;
  s.cloneThreadNum = 8;
  s.clonePaths = {L"/s/a.jpg", L"/d/a.jpg", L"/s", L"/d"};
  s.clonePicSuffixs = L"*.jpeg";
  s.convertRememberDir = false;
  s.convertBmp = true;
  s.convertJpg = false;
  s.convertPng = s.convertGif = true;
  s.convertKeepModifyTime = s.convertSetPhotoTime = false;
  s.convertSetGrayscale = true;
  s.convertIndex = 1;
  s.convertThreadNum = 1;
  s.convertJpgQuality = 100;
  s.convertDirValue = L"/c";
  s.convertPicSuffixs = L"*.gif";
  s.mergeRememberDir = false;
  s.mergeKeepWidth = s.mergeKeepHeight = s.mergeGrayscale = true;
  s.mergeIndex = 1;
  s.mergeWidth = 640;
  s.mergeHeight = 480;
  s.mergeJpgQuality = 0;  // a panel stores 0 when 0 is typed into the list
  s.mergeDirValue = L"/m";
  s.mergePicSuffixs = L"*.png";
  return s;
}

std::wstring W(const std::string& s) { return NarrowToWide(s); }

TEST(ToolSettings, FreshSaveIsByteExact) {
  TempTree t;
  EXPECT_EQ(SaveSettings(W(t / "pixelwharf.ini"), ToolSettings()), 0);
  EXPECT_EQ(ReadAll(t / "pixelwharf.ini"), kDefaultFile);
}

TEST(ToolSettings, SaveLoadReproducesEveryFieldAndReplacesWholeFile) {
  TempTree t;
  const std::string path = t.Write("p.ini", "[OLD]\nJUNK = 1\n[RESIZE_PICS]\nEXTRA = 2\n");
  const ToolSettings saved = Unusual();
  ASSERT_EQ(SaveSettings(W(path), saved), 0);
  const std::string bytes = ReadAll(path);
  EXPECT_EQ(bytes.find("JUNK"), std::string::npos);
  EXPECT_EQ(bytes.find("EXTRA"), std::string::npos);
  size_t keyLines = 0, sections = 0;
  for (size_t pos = 0; (pos = bytes.find(" = ", pos)) != std::string::npos; ++pos) ++keyLines;
  for (size_t pos = 0; (pos = bytes.find("\n[", pos)) != std::string::npos; ++pos) ++sections;
  EXPECT_EQ(keyLines, 55u);
  EXPECT_EQ(sections + 1, 6u);

  ToolSettings loaded;
  EXPECT_EQ(LoadSettings(W(path), loaded), 0);
  EXPECT_TRUE(loaded == saved);
  EXPECT_EQ(loaded.classifyDirValue, L"/home/用户/照片");
  // And back: a default record over the unusual file, then the defaults again.
  ASSERT_EQ(SaveSettings(W(path), ToolSettings()), 0);
  ToolSettings again = Unusual();
  LoadSettings(W(path), again);
  EXPECT_TRUE(again == ToolSettings());
}

TEST(ToolSettings, ParseTable) {
  struct Case {
    const char* file;  // after the signature
    std::function<bool(const ToolSettings&)> check;
    const char* what;
  };
  // Every case loads into a record whose width is 100, grayscale false and
  // folder text "/old" first, so "kept" is visible.
  const Case cases[] = {
      {"[RESIZE_PICS]\nWIDTH = 0x780\n", [](auto& s) { return s.resizeWidth == 1920; }, "hex"},
      {"[RESIZE_PICS]\nWIDTH = 0X1f\n", [](auto& s) { return s.resizeWidth == 31; }, "hex upper X"},
      {"[RESIZE_PICS]\nWIDTH = 12a\n", [](auto& s) { return s.resizeWidth == 100; }, "letters after digits"},
      {"[RESIZE_PICS]\nWIDTH = 0x\n", [](auto& s) { return s.resizeWidth == 100; }, "bare 0x"},
      {"[RESIZE_PICS]\nWIDTH = \n", [](auto& s) { return s.resizeWidth == 100; }, "empty"},
      {"[RESIZE_PICS]\nWIDTH = 99999999999\n", [](auto& s) { return s.resizeWidth == 100; }, "beyond 32 bits"},
      {"[RESIZE_PICS]\nWIDTH = 99999999999999999999999\n", [](auto& s) { return s.resizeWidth == 100; }, "beyond 64 bits"},
      {"[RESIZE_PICS]\nWIDTH = 2147483647\n", [](auto& s) { return s.resizeWidth == 2147483647; }, "largest"},
      {"[RESIZE_PICS]\nWIDTH = -5\n", [](auto& s) { return s.resizeWidth == 100; }, "negative size"},
      {"[RESIZE_PICS]\nWIDTH = 0\n", [](auto& s) { return s.resizeWidth == 100; }, "zero size"},
      {"[SEL_INDEX]\nCAT_INDEX = -2147483648\n", [](auto& s) { return s.catIndex == INT32_MIN; }, "smallest"},
      {"[RESIZE_PICS]\nTHREAD_NUM = 0\n", [](auto& s) { return s.resizeThreadNum == 4; }, "no threads"},
      {"[CONVERTOR]\nTHREAD_NUM = 16\n", [](auto& s) { return s.convertThreadNum == 16; }, "threads"},
      {"[RESIZE_PICS]\nGRAYSCALE = yes\n", [](auto& s) { return s.resizeGrayscale; }, "yes"},
      {"[RESIZE_PICS]\nGRAYSCALE = On\n", [](auto& s) { return s.resizeGrayscale; }, "On"},
      {"[RESIZE_PICS]\nGRAYSCALE = 1\n", [](auto& s) { return s.resizeGrayscale; }, "1"},
      {"[RESIZE_PICS]\nGRAYSCALE = maybe\n", [](auto& s) { return !s.resizeGrayscale; }, "maybe"},
      {"[RESIZE_PICS]\nGRAYSCALE = o\n", [](auto& s) { return !s.resizeGrayscale; }, "lone o"},
      {"[RESIZE_PICS]\nKEEPSCALE = OFF\n", [](auto& s) { return !s.resizeKeepScale; }, "OFF"},
      {"[RESIZE_PICS]\nKEEPSCALE = No\n", [](auto& s) { return !s.resizeKeepScale; }, "No"},
      {"[resize_pics]\nwidth = 640\ngrayscale = TRUE\n",
       [](auto& s) { return s.resizeWidth == 640 && s.resizeGrayscale; }, "letter case"},
      {"[RESIZE_PICS]\r\nWIDTH = 320\r\nDIR_VALUE = /a b\r\n\r\n[SEL_INDEX]\r\nSEL_INDEX = 4\r\n",
       [](auto& s) { return s.resizeWidth == 320 && s.resizeDirValue == L"/a b" && s.selIndex == 4; }, "CR LF"},
      {"[RESIZE_PICS]\nDIR_VALUE = /照片/二〇一八\n", [](auto& s) { return s.resizeDirValue == L"/照片/二〇一八"; },
       "Chinese text"},
      {"[RESIZE_PICS]\nDIR_VALUE = \n", [](auto& s) { return s.resizeDirValue.empty(); }, "empty text"},
      {"[SEL_INDEX]\nSEL_INDEX = 1\n", [](auto& s) { return s.catIndex == 2 && s.selIndex == 1; }, "missing CAT_INDEX"},
      {"garbage without sections\n", [](auto& s) { return s.resizeWidth == 100; }, "not an INI file"},
  };
  TempTree t;
  for (const Case& c : cases) {
    const std::string path = t.Write("case.ini", std::string("\xEF\xBB\xBF") + c.file);
    ToolSettings s;
    s.resizeWidth = 100;
    s.resizeDirValue = L"/old";
    EXPECT_EQ(LoadSettings(W(path), s), 0);
    EXPECT_TRUE(c.check(s)) << c.what;
  }
  // JPG_QUALITY of each of the three tools is read whole: any number loads
  // (0 and 101 too); what is no number keeps the value there.
  const struct {
    const char* section;
    int32_t ToolSettings::*quality;
  } tools[] = {{"RESIZE_PICS", &ToolSettings::resizeJpgQuality},
               {"CONVERTOR", &ToolSettings::convertJpgQuality},
               {"MERGE_IMGS", &ToolSettings::mergeJpgQuality}};
  const struct {
    const char* text;
    int32_t loaded;
  } qualities[] = {{"0", 0}, {"1", 1}, {"100", 100}, {"101", 101}, {"0x", 77}, {"", 77}};
  for (const auto& tool : tools) {
    for (const auto& q : qualities) {
      const std::string path = t.Write("case.ini", std::string("[") + tool.section +
                                                       "]\nJPG_QUALITY = " + q.text + "\n");
      ToolSettings s;
      s.*tool.quality = 77;
      EXPECT_EQ(LoadSettings(W(path), s), 0);
      EXPECT_EQ(s.*tool.quality, q.loaded) << tool.section << " JPG_QUALITY = " << q.text;
    }
  }
  // Without the signature too.
  const std::string plain = t.Write("plain.ini", "[MERGE_IMGS]\nHEIGHT = 720\n");
  ToolSettings s;
  LoadSettings(W(plain), s);
  EXPECT_EQ(s.mergeHeight, 720);
}

TEST(ToolSettings, MissingFileIsWrittenFromTheRecord) {
  TempTree t;
  ToolSettings s = Unusual();
  EXPECT_EQ(LoadSettings(W(t / "new.ini"), s), 0);
  EXPECT_TRUE(s == Unusual());
  EXPECT_EQ(ReadAll(t / "new.ini"), FormatSettings(Unusual()));
  EXPECT_EQ(LoadSettings(L"", s), 0);
  EXPECT_EQ(SaveSettings(L"", s), -1);
}

TEST(ToolSettings, FailedSaveKeepsTheOldFile) {
  TempTree t;
  const std::string path = t / "pixelwharf.ini";
  ASSERT_EQ(SaveSettings(W(path), Unusual()), 0);
  const std::string before = ReadAll(path);
  {
    // The disk fills up halfway through the new file.
    pwtest::FileSizeLimit limit(200);
    EXPECT_EQ(SaveSettings(W(path), ToolSettings()), -1);
  }
  EXPECT_EQ(ReadAll(path), before);
  // Nothing left behind but the file itself.
  size_t entries = 0;
  for (auto& e : std::filesystem::directory_iterator(t.path())) {
    (void)e;
    ++entries;
  }
  EXPECT_EQ(entries, 1u);
  // A folder where the file should be: nothing written, failure reported.
  t.Mkdir("folder.ini");
  EXPECT_EQ(SaveSettings(W(t / "folder.ini"), ToolSettings()), -1);
}

TEST(ToolSettings, PathsComeFromTheProgramFolder) {
  TempTree t;
  const char* old = std::getenv("PIXELWHARF_HOME");
  const std::string saved = old ? old : "";
  ::setenv("PIXELWHARF_HOME", t.path().c_str(), 1);
  const std::wstring ini = GetSettingsFilePath();
  EXPECT_EQ(ini.rfind(W(t.path()) + L"/", 0), 0u);
  EXPECT_EQ(ini.substr(ini.size() - 4), L".ini");
  const std::wstring log = GetRunLogPath();
  EXPECT_EQ(log.rfind(W(t.path()) + L"/", 0), 0u);
  EXPECT_NE(log.find(L"日.log"), std::wstring::npos);
  if (old) ::setenv("PIXELWHARF_HOME", saved.c_str(), 1);
  else ::unsetenv("PIXELWHARF_HOME");
}

}  // namespace
