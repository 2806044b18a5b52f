// Copying EXIF blocks and stamping shooting times on pictures made by
// ImageMagick and tagged by exiftool; file times are set with touch under a
// fixed time zone.
#include "core/ExifHelpers.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "platform/text.h"
#include "tests/needed_programs.h"

namespace {

// China Standard Time without needing the zone database.
constexpr const char* kZone = "CST-8";

std::string Quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

std::string Sh(const std::string& cmd) {
  std::string out;
  if (!pwtest::CheckProgramOf(cmd)) return out;
  FILE* p = popen(cmd.c_str(), "r");
  if (p == nullptr) return out;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  pclose(p);
  while (!out.empty() && out.back() == '\n') out.pop_back();
  return out;
}

std::vector<char> Bytes(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::vector<char>(std::istreambuf_iterator<char>(f), {});
}

class ExifHelpers : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("TZ", kZone, 1);
    tzset();
    std::string templ = (std::filesystem::temp_directory_path() / "pwexifhelpers-XXXXXX").string();
    ASSERT_NE(mkdtemp(templ.data()), nullptr);
    dir_ = templ;
  }
  void TearDown() override { Sh("rm -rf " + Quote(dir_)); }

  std::string Path(const std::string& name) const { return dir_ + "/" + name; }
  static std::wstring W(const std::string& s) { return pw::NarrowToWide(s); }

  // A picture, optionally tagged by exiftool with the given arguments.
  std::string Picture(const std::string& name, const std::string& tags) {
    const std::string p = Path(name);
    Sh("convert-im6.q16 -size 40x30 gradient:red-blue -quality 90 jpg:" + Quote(p));
    if (!tags.empty()) Sh("exiftool -q -overwrite_original " + tags + " " + Quote(p));
    return p;
  }
  static std::string Tag(const std::string& path, const std::string& tag) {
    return Sh("exiftool -s3 -n " + tag + " " + Quote(path));
  }
  static std::string Problems(const std::string& path) {
    const std::string out = Sh("exiftool -validate -warning -a " + Quote(path));
    return out.find("Warning") == std::string::npos && out.find(": OK") != std::string::npos ? "" : out;
  }
  static void Touch(const std::string& path, const std::string& when) {
    Sh(std::string("TZ=") + kZone + " touch -d " + Quote(when) + " " + Quote(path));
  }

  std::string dir_;
};

const char* const kTags =
    "-Make=Harbour -Model=One -DateTimeOriginal='2017:01:02 03:04:05' -ExposureTime=1/60 "
    "-GPSLatitude=22.5 -GPSLatitudeRef=N -ExifImageWidth=40 -ExifImageHeight=30";

TEST_F(ExifHelpers, CloneCopiesTagsBetweenJpegNamesOfAnyCase) {
  const std::string src = Picture("x.JPEG", kTags);
  const std::string dst = Picture("y.jpg", "");
  ASSERT_TRUE(CloneExifTags(W(src), W(dst)));
  EXPECT_EQ(Tag(dst, "-Make"), "Harbour");
  EXPECT_EQ(Tag(dst, "-DateTimeOriginal"), "2017:01:02 03:04:05");
  EXPECT_EQ(Tag(dst, "-GPSLatitude"), "22.5");
  EXPECT_EQ(Problems(dst), "");
}

TEST_F(ExifHelpers, CloneRefusesNonJpegNamesBeforeTouchingAnything) {
  const std::string src = Picture("x.jpg", kTags);
  const std::string png = Path("y.png");
  Sh("convert-im6.q16 -size 8x8 xc:white " + Quote(png));
  const std::vector<char> before = Bytes(png);
  EXPECT_FALSE(CloneExifTags(W(src), W(png)));
  EXPECT_EQ(Bytes(png), before);
  EXPECT_FALSE(CloneExifTags(W(png), W(Picture("z.jpg", ""))));
  EXPECT_FALSE(CloneExifTags(W(Path("missing.jpg")), W(Picture("w.jpg", ""))));
}

TEST_F(ExifHelpers, FailedCloneLeavesTheTargetUntouched) {
  const std::string src = Picture("x.jpg", kTags);
  // The target's APP1 "Exif" segment is not TIFF-structured (magic 43), so
  // the tags cannot be applied; the file must not be rewritten.
  const std::string dst = Picture("y.jpg", "-Make=Target");
  std::vector<char> bytes = Bytes(dst);
  const std::string text(bytes.begin(), bytes.end());
  const size_t tiff = text.find(std::string("Exif\0\0", 6)) + 6;
  ASSERT_NE(tiff, std::string::npos);
  bytes[tiff + (bytes[tiff] == 'M' ? 3 : 2)] = 43;
  { std::ofstream(dst, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size())); }
  EXPECT_FALSE(CloneExifTags(W(src), W(dst)));
  EXPECT_EQ(Bytes(dst), bytes);
}

TEST_F(ExifHelpers, SourceWithoutExifAppliesNothing) {
  const std::string src = Picture("plain.jpg", "");
  const std::string dst = Picture("y.jpg", kTags);
  ASSERT_TRUE(CloneExifTags(W(src), W(dst)));
  EXPECT_EQ(Tag(dst, "-Make"), "Harbour");
  EXPECT_EQ(Problems(dst), "");
}

TEST_F(ExifHelpers, ShootingTimeIsTheSourcesLocalModificationTime) {
  const std::string src = Path("source.bin");
  { std::ofstream(src) << "any file"; }
  Touch(src, "2018-11-14 15:30:05");
  const std::string dst = Picture("t.jpg", "");
  ASSERT_TRUE(WriteShootingTime(W(src), W(dst)));
  EXPECT_EQ(Tag(dst, "-DateTimeOriginal"), "2018:11:14 15:30:05");
  EXPECT_EQ(Problems(dst), "");
}

TEST_F(ExifHelpers, ShootingTimeReplacesAnExistingOne) {
  const std::string dst = Picture("t.jpg", kTags);
  Touch(dst, "2019-03-04 05:06:07");
  ASSERT_TRUE(WriteShootingTime(W(dst), W(dst)));
  EXPECT_EQ(Tag(dst, "-DateTimeOriginal"), "2019:03:04 05:06:07");
  EXPECT_EQ(Tag(dst, "-Make"), "Harbour");
  EXPECT_EQ(Problems(dst), "");
}

// A new EXIF block claims only what is true of its picture: ColorSpace
// sRGB only without a profile or beside an sRGB one ("uncalibrated"
// beside Adobe RGB, esRGB or a grey profile), ComponentsConfiguration
// "Y Cb Cr" only on three components (a grey picture's is "Y").
TEST_F(ExifHelpers, ShootingTimeDefaultsAreTrueOfThePicture) {
  const std::string profiles = "/usr/share/color/icc/ghostscript/";
  ASSERT_TRUE(std::filesystem::exists(profiles + "a98.icc")) << profiles << "a98.icc missing: run scripts/setup";
  const std::string src = Path("source.bin");
  { std::ofstream(src) << "any file"; }
  struct Case {
    const char* profile;  // "" for none
    bool grey;
    const char* colourSpace;
    const char* components;
  };
  const Case cases[] = {{"", false, "1", "1 2 3 0"},         {"srgb.icc", false, "1", "1 2 3 0"},
                        {"a98.icc", false, "65535", "1 2 3 0"}, {"esrgb.icc", false, "65535", "1 2 3 0"},
                        {"", true, "1", "1 0 0 0"},          {"sgray.icc", true, "65535", "1 0 0 0"}};
  // One colour and one grey picture drawn, copied for every case; the
  // profiles written by one exiftool run and every result read by two (each
  // run starts a Perl interpreter, which costs far more than the reading).
  const std::string colour = Path("colour.jpg"), grey = Path("grey.jpg");
  Sh("convert-im6.q16 -size 40x30 gradient:red-blue -quality 90 jpg:" + Quote(colour));
  Sh("convert-im6.q16 -size 40x30 gradient:red-blue -colorspace Gray -quality 90 jpg:" + Quote(grey));
  std::vector<std::string> files;
  std::string profiling;
  for (const Case& c : cases) {
    files.push_back(Path("d" + std::to_string(files.size()) + ".jpg"));
    std::filesystem::copy_file(c.grey ? grey : colour, files.back());
    if (*c.profile)
      profiling += "-q\n-overwrite_original\n-ICC_Profile<=" + profiles + c.profile + "\n" + files.back() + "\n-execute\n";
  }
  { std::ofstream(Path("profiles.args"), std::ios::binary) << profiling; }
  EXPECT_EQ(Sh("exiftool -@ " + Quote(Path("profiles.args")) + " 2>&1"), "");
  for (const std::string& dst : files) ASSERT_TRUE(WriteShootingTime(W(src), W(dst))) << dst;

  std::string table = "exiftool -T -f -n -FileName -ICC_Profile:ProfileDescription -ColorComponents -ColorSpace "
                      "-ComponentsConfiguration -ExifImageWidth -ExifImageHeight";
  std::string validate = "exiftool -validate -warning -a";
  for (const std::string& dst : files) {
    table += " " + Quote(dst);
    validate += " " + Quote(dst);
  }
  std::istringstream rows(Sh(table + " 2>/dev/null"));
  // Several files: each file's report follows a "======== path" line.
  std::map<std::string, std::string> reports;
  {
    std::istringstream lines(Sh(validate + " 2>&1"));
    std::string current;
    for (std::string line; std::getline(lines, line);) {
      if (line.rfind("======== ", 0) == 0)
        current = line.substr(9);
      else if (!current.empty() && line.rfind(' ', 0) != 0)
        reports[current] += line + "\n";
    }
  }
  for (size_t i = 0; i < std::size(cases); ++i) {
    const Case& c = cases[i];
    SCOPED_TRACE(std::string(c.profile) + (c.grey ? " grey" : " colour"));
    std::string row;
    ASSERT_TRUE(std::getline(rows, row));
    std::vector<std::string> v;
    std::istringstream cells(row);
    for (std::string cell; std::getline(cells, cell, '\t');) v.push_back(cell);
    ASSERT_EQ(v.size(), 7u) << row;
    ASSERT_EQ(v[0], std::filesystem::path(files[i]).filename().string());
    ASSERT_EQ(v[1] != "-", *c.profile != 0) << row;  // the profile written, or none
    ASSERT_EQ(v[2], c.grey ? "1" : "3");
    EXPECT_EQ(v[3], c.colourSpace);
    EXPECT_EQ(v[4], c.components);
    EXPECT_EQ(v[5] + "x" + v[6], "40x30");
    const std::string& report = reports[files[i]];
    EXPECT_TRUE(report.find("Warning") == std::string::npos && report.find(": OK") != std::string::npos) << report;
  }
}

TEST_F(ExifHelpers, ShootingTimeRefusals) {
  const std::string dst = Picture("t.jpg", "");
  const std::vector<char> before = Bytes(dst);
  // Years the four-digit EXIF form cannot hold. Disk file systems clamp
  // such times; tmpfs keeps them.
  char shm[] = "/dev/shm/pwexiftime-XXXXXX";
  const int fd = mkstemp(shm);
  if (fd >= 0) {
    close(fd);
    for (const char* when : {"0999-06-01 12:00:00", "10000-01-01 00:00:00"}) {
      Touch(shm, when);
      EXPECT_FALSE(WriteShootingTime(W(shm), W(dst))) << when;
    }
    unlink(shm);
    EXPECT_EQ(Bytes(dst), before);
  }
  const std::string src = Path("source.bin");
  { std::ofstream(src) << "x"; }
  EXPECT_FALSE(WriteShootingTime(W(Path("missing.bin")), W(dst)));
  const std::string png = Path("p.png");
  Sh("convert-im6.q16 -size 8x8 xc:white " + Quote(png));
  Touch(src, "2018-11-14 15:30:05");
  EXPECT_FALSE(WriteShootingTime(W(src), W(png)));
  EXPECT_FALSE(WriteShootingTime(W(src), W(Path("missing.jpg"))));
}

}  // namespace
