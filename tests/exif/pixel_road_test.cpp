// New pixels for an edited file: written into a temporary JPEG file and
// taken over by the rewrite on close. Peers check the result: djpeg and
// ImageMagick read the new pixels, exiftool validates the file, finds the
// tags unchanged and the ICC profile whole. A write that fails anywhere
// leaves the user's file byte for byte as it was.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>

#include "exif/ExifImageFile.h"
#include "exif_test_util.h"
#include "pixel_helpers.h"

using namespace exiftest;

namespace {

size_t FilesIn(const std::string& folder) {
  size_t n = 0;
  for (auto& e : std::filesystem::directory_iterator(folder)) {
    (void)e;
    ++n;
  }
  return n;
}

std::vector<uint8_t> IccOf(const std::string& path, const std::string& folder) {
  const std::string out = folder + "/extracted.icc";
  Run("exiftool -b -ICC_Profile " + Quote(path) + " > " + Quote(out));
  return exiftest::ReadAll(out);
}

// Tag changes a pixel rewrite may make: the frame, the new size, the
// profile, and the colour transform of data that is no longer there.
std::vector<std::string> UnexpectedChanges(const std::vector<std::string>& diff, bool adobeDropped) {
  std::vector<std::string> out;
  for (const std::string& d : diff) {
    const bool allowed = d.compare(1, 5, "File:") == 0 || (adobeDropped && d.rfind("-Adobe:", 0) == 0) || d == "~ExifIFD:ExifImageWidth" ||
                         d == "~ExifIFD:ExifImageHeight" || d.find(":ICC") != std::string::npos ||
                         d.rfind("+ICC", 0) == 0 || d.rfind("~ICC", 0) == 0 || d.rfind("-ICC", 0) == 0;
    if (!allowed) out.push_back(d);
  }
  return out;
}

// Runs fn in a child process with its own temporary folder and SIGXFSZ
// ignored (a file-size limit then makes writes fail instead of killing
// the process); the child's exit code.
int InChild(const std::string& tmpdir, const std::function<int()>& fn) {
  fflush(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    signal(SIGXFSZ, SIG_IGN);
    setenv("TMPDIR", tmpdir.c_str(), 1);
    _exit(fn());
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

TEST(PixelRoad, NewPixelsKeepTheTagsAndCarryTheirProfile) {
  TempDir tmp;
  const std::vector<uint8_t> srgb = IccOf(Fixtures() + "/icc.jpg", tmp.Path());
  ASSERT_GT(srgb.size(), 128u);
  // A profile of three chunks: exiftool must put it together again.
  std::vector<uint8_t> large = srgb;
  for (size_t i = large.size(); i < 140000; ++i) large.push_back(static_cast<uint8_t>(i * 13));
  large[0] = 0x00, large[1] = 0x02, large[2] = 0x22, large[3] = 0xE0;  // header size 140000

  struct Case {
    const char* fixture;
    const std::vector<uint8_t>* profile;  // null: none given
    int width, height;
  } cases[] = {
      {"be.jpg", &large, 120, 80},     // thumbnail, GPS, big-endian; grows
      {"le.jpg", nullptr, 48, 40},     // little-endian; shrinks, no profile
      {"icc.jpg", &large, 64, 48},     // its own profile is replaced
      {"icc.jpg", nullptr, 64, 48},    // its own profile is kept
      {"cmyk.jpg", nullptr, 48, 32},   // Adobe CMYK becomes RGB
      {"bare.jpg", &srgb, 50, 40},     // no JFIF, no EXIF
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fixture);
    const std::string file = tmp / "pic.jpg";
    CopyFile(Fixtures() + "/" + c.fixture, file);
    const std::vector<uint8_t> oldProfile = IccOf(file, tmp.Path());
    const std::string before = DumpTags(file, tmp / "before.json");
    const ThumbnailImage pic = TestPicture(c.width, c.height, 3, c.width);

    ExifImageFile f;
    ASSERT_EQ(f.Open(file, "r+"), kExifOk);
    f.SetQuality(95);
    f.SetImageInfo(c.width, c.height, 3, 8, kJpegRowsRgb, nullptr, nullptr);
    if (c.profile) {
      ASSERT_EQ(f.SetIccProfile(c.profile->data(), static_cast<uint32_t>(c.profile->size())), kExifOk);
    }
    int32_t now = 0, total = 0;
    ASSERT_EQ(f.WriteImage(pic, c.height, &now, &total), kExifOk);
    EXPECT_EQ(total, c.height);
    ASSERT_EQ(f.Close(), kExifOk);

    const PixelDiff diff = Compare(pic, Djpeg(file));
    EXPECT_LT(diff.mean, 1.5);
    EXPECT_EQ(Identify(file, "%w %h %[colorspace]"),
              std::to_string(c.width) + " " + std::to_string(c.height) + " sRGB");
    EXPECT_EQ(ValidationProblems(file), "");
    const std::string after = DumpTags(file, tmp / "after.json");
    if (std::string(c.fixture) != "bare.jpg") {
      const bool cmyk = std::string(c.fixture) == "cmyk.jpg";
      EXPECT_EQ(UnexpectedChanges(TagDiff(before, after), cmyk), std::vector<std::string>{});
    }
    std::string out;
    exiftest::Run("exiftool -s3 -ExifImageWidth -ExifImageHeight " + Quote(file), &out);
    EXPECT_EQ(out, std::to_string(c.width) + "\n" + std::to_string(c.height) + "\n");
    EXPECT_EQ(IccOf(file, tmp.Path()), c.profile ? *c.profile : oldProfile);
    EXPECT_EQ(FilesIn(tmp.Path()), 4u);  // the picture, two dumps, the profile
  }
}

TEST(PixelRoad, NewFileFromPixelsAndSettingsOfTheWriter) {
  TempDir tmp;
  const std::string file = tmp / "new.jpg";
  const ThumbnailImage pic = TestPicture(90, 70, 3);
  uint16_t table[64];
  for (int i = 0; i < 64; ++i) table[i] = static_cast<uint16_t>(2 + i);
  {
    ExifImageFile f;
    ASSERT_EQ(f.Open(file, "w"), kExifOk);
    f.SetImageInfo(90, 70, 3, 8, kJpegRowsRgb, nullptr, nullptr);
    // The luminance table given with its own quality (50: as given), and
    // chroma halved horizontally only.
    ASSERT_EQ(f.SetQuantTableWithQuality(0, table, 50), kExifOk);
    f.GetCompressor();
    int32_t now = 0, total = 0;
    ASSERT_EQ(f.WriteImage(pic, 70, &now, &total), kExifOk);
    ASSERT_EQ(f.Close(), kExifOk);
  }
  EXPECT_EQ(ValidationProblems(file), "");
  EXPECT_LT(Compare(pic, Djpeg(file)).mean, 3.0);
  EXPECT_EQ(Identify(file, "%[jpeg:sampling-factor]"), "2x1,1x1,1x1");
  EXPECT_EQ(DjpegQuantTables(file)[0], std::vector<int>(table, table + 64));
  std::string out;
  exiftest::Run("exiftool -s3 -ExifImageWidth -ExifImageHeight -ExifVersion " + Quote(file), &out);
  EXPECT_EQ(out, "90\n70\n0210\n");
}

TEST(PixelRoad, ReadsFollowTheFilesScaleAndDctAndTheScannedTables) {
  const std::string file = Fixtures() + "/be.jpg";
  ExifImageFile f;
  ASSERT_EQ(f.Open(file, "r"), kExifOk);
  f.SetDctMethod(0);
  int32_t w = 0, h = 0;
  ASSERT_EQ(f.SetScale(2, &w, &h), kExifOk);
  ASSERT_EQ(w, 48);
  ASSERT_EQ(h, 32);
  ThumbnailImage half;
  ASSERT_EQ(half.Allocate(w, h, 3), kExifOk);
  int32_t rows = 0;
  bool done = false;
  ASSERT_EQ(f.ReadImage(half, h, &rows, &done), kExifOk);
  EXPECT_TRUE(done);
  EXPECT_EQ(Compare(half, Djpeg(file, "-dct int -scale 1/2")).largest, 0);
  // The next pass, at full size.
  ASSERT_EQ(f.SetScale(1, &w, &h), kExifOk);
  ThumbnailImage full;
  ASSERT_EQ(full.Allocate(w, h, 3), kExifOk);
  ASSERT_EQ(f.ReadImage(full, h, &rows, &done), kExifOk);
  EXPECT_EQ(Compare(full, Djpeg(file, "-dct int")).largest, 0);

  const auto peer = DjpegQuantTables(file);
  for (int slot = 0; slot < 2; ++slot) {
    uint16_t t[64];
    ASSERT_EQ(f.GetQuantTable(slot, t), kExifOk);
    EXPECT_EQ(std::vector<int>(t, t + 64), peer.at(slot));
  }
  uint16_t t[64];
  EXPECT_EQ(f.GetQuantTable(2, t), kExifNotDone);
  EXPECT_EQ(f.GetQuantTable(4, t), kExifNotDone);
  const std::string factors = Identify(file, "%[jpeg:sampling-factor]");
  EXPECT_EQ(std::to_string(f.GetHorizontalSampling(1)) + "x" + std::to_string(f.GetVerticalSampling(1)) + ",1x1,1x1",
            factors);
  EXPECT_EQ(f.GetHorizontalSampling(4), 0);
}

TEST(PixelRoad, RefusedAndIncompleteWritesChangeNothing) {
  TempDir tmp, tmpdir;
  const std::string file = tmp / "pic.jpg";
  CopyFile(Fixtures() + "/be.jpg", file);
  const std::vector<uint8_t> before = exiftest::ReadAll(file);
  const ThumbnailImage pic = TestPicture(96, 64, 3);
  const int code = InChild(tmpdir.Path(), [&] {
    int32_t now = 0, total = 0;
    {
      // Mode "r" is never rewritten: new pixels are refused.
      ExifImageFile f;
      if (f.Open(file, "r") != kExifOk) return 10;
      if (f.WriteImage(pic, 64, &now, &total) != kExifWriteFailed) return 11;
      f.Close();
    }
    {
      // Fewer rows than the picture has: nothing to take over; the close
      // rewrites the tags around the old image data.
      ExifImageFile f;
      if (f.Open(file, "r+") != kExifOk) return 20;
      f.SetImageInfo(96, 64, 3, 8, kJpegRowsRgb, nullptr, nullptr);
      if (f.WriteImage(pic, 63, &now, &total) == kExifOk) return 21;
      if (!f.TemporaryName().empty()) return 22;
      // A record with the wrong number of components.
      ThumbnailImage grey = TestPicture(96, 64, 1);
      if (f.WriteImage(grey, 64, &now, &total) == kExifOk) return 23;
      // A complete write, then a second one, which is refused.
      if (f.WriteImage(pic, 64, &now, &total) != kExifOk) return 24;
      if (f.WriteImage(pic, 64, &now, &total) != kExifNotDone) return 25;
      // Given up without closing: the temporary file goes, the file stays.
      f.Discard();
    }
    return 0;
  });
  EXPECT_EQ(code, 0);
  EXPECT_EQ(exiftest::ReadAll(file), before);
  EXPECT_EQ(FilesIn(tmpdir.Path()), 0u);
  EXPECT_EQ(FilesIn(tmp.Path()), 1u);
}

TEST(PixelRoad, WriteFailingMidwayLeavesTheFileByteIdentical) {
  TempDir tmp, tmpdir;
  const std::string file = tmp / "pic.jpg";
  CopyFile(Fixtures() + "/be.jpg", file);
  const std::vector<uint8_t> before = exiftest::ReadAll(file);
  // Large enough that its JPEG is far bigger than the limit below.
  const ThumbnailImage pic = TestPicture(800, 600, 3);

  // The temporary file cannot be completed: the write fails and the close
  // (whose rewrite is then over the limit too) leaves everything alone.
  int code = InChild(tmpdir.Path(), [&] {
    const rlim_t limit = before.size() / 2;
    rlimit lim{limit, limit};
    setrlimit(RLIMIT_FSIZE, &lim);
    ExifImageFile f;
    if (f.Open(file, "r+") != kExifOk) return 10;
    f.SetImageInfo(800, 600, 3, 8, kJpegRowsRgb, nullptr, nullptr);
    int32_t now = 0, total = 0;
    if (f.WriteImage(pic, 600, &now, &total) == kExifOk) return 11;
    if (!f.TemporaryName().empty()) return 12;
    return f.Close() == kExifOk ? 13 : 0;
  });
  EXPECT_EQ(code, 0);
  EXPECT_EQ(exiftest::ReadAll(file), before);
  EXPECT_EQ(FilesIn(tmpdir.Path()), 0u);
  EXPECT_EQ(FilesIn(tmp.Path()), 1u);

  // The temporary file is complete but the rewrite runs out of room.
  code = InChild(tmpdir.Path(), [&] {
    ExifImageFile f;
    if (f.Open(file, "r+") != kExifOk) return 20;
    f.SetImageInfo(800, 600, 3, 8, kJpegRowsRgb, nullptr, nullptr);
    int32_t now = 0, total = 0;
    if (f.WriteImage(pic, 600, &now, &total) != kExifOk) return 21;
    struct stat st {};
    if (stat(f.TemporaryName().c_str(), &st) != 0) return 22;
    const rlim_t limit = static_cast<rlim_t>(st.st_size);  // the segments do not fit as well
    rlimit lim{limit, limit};
    setrlimit(RLIMIT_FSIZE, &lim);
    return f.Close() == kExifOk ? 23 : 0;
  });
  EXPECT_EQ(code, 0);
  EXPECT_EQ(exiftest::ReadAll(file), before);
  EXPECT_EQ(FilesIn(tmpdir.Path()), 0u);
  EXPECT_EQ(FilesIn(tmp.Path()), 1u);
}
