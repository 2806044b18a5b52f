// A thumbnail of odd length ends the EXIF block with a pad byte (exiftool
// writes one, as every other item starts on an even offset): opening and
// closing the file unchanged, and editing a tag, keep it.
#include <gtest/gtest.h>

#include <cstring>

#include "exif/ExifImageFile.h"
#include "exif_test_util.h"

using namespace exiftest;

namespace {

std::vector<uint8_t> App1Exif(const std::string& path) {
  const std::vector<uint8_t> j = ReadAll(path);
  for (size_t pos = 2; pos + 10 <= j.size() && j[pos] == 0xFF;) {
    const size_t length = (j[pos + 2] << 8) | j[pos + 3];
    if (j[pos + 1] == 0xE1 && std::memcmp(&j[pos + 4], "Exif\0\0", 6) == 0 && pos + 2 + length <= j.size())
      return {j.begin() + static_cast<std::ptrdiff_t>(pos), j.begin() + static_cast<std::ptrdiff_t>(pos + 2 + length)};
    pos += 2 + length;
  }
  return {};
}

std::string Output(const std::string& command) {
  std::string out;
  exiftest::Run(command, &out);
  return out;
}

}  // namespace

TEST(ExifThumbnailPad, AnOddThumbnailKeepsItsPadByte) {
  TempDir tmp;
  const std::string thumb = tmp / "thumb.jpg";
  for (int quality = 70; quality < 90; ++quality) {
    ASSERT_EQ(exiftest::Run("convert-im6.q16 -size 16x12 gradient:yellow-navy -quality " + std::to_string(quality) + " " +
                  Quote(thumb)),
              0);
    if (ReadAll(thumb).size() % 2 == 1) break;
  }
  ASSERT_EQ(ReadAll(thumb).size() % 2, 1u);
  for (const char* order : {"II", "MM"}) {
    SCOPED_TRACE(order);
    const std::string file = tmp / "odd.jpg";
    ASSERT_EQ(exiftest::Run("convert-im6.q16 -size 32x24 gradient:red-blue " + Quote(file)), 0);
    ASSERT_EQ(exiftest::Run("exiftool -q -overwrite_original -ExifByteOrder=" + std::string(order) +
                  " -Artist=ABC '-ThumbnailImage<=" + thumb + "' " + Quote(file)),
              0);
    const std::vector<uint8_t> before = App1Exif(file);
    ASSERT_FALSE(before.empty());
    {
      ExifImageFile f;
      ASSERT_EQ(f.Open(file, "r+"), kExifOk);
      ASSERT_EQ(f.Close(), kExifOk);
    }
    EXPECT_EQ(App1Exif(file), before);

    // An edit keeps the thumbnail whole, and the block even.
    {
      ExifImageFile f;
      ASSERT_EQ(f.Open(file, "r+"), kExifOk);
      ASSERT_EQ(f.PutExifTag(ExifEntryText(36867, kTiffAscii, 20, std::string("2020:01:02 03:04:05"))), kExifOk);
      ASSERT_EQ(f.Close(), kExifOk);
    }
    const std::vector<uint8_t> edited = App1Exif(file);
    EXPECT_EQ((edited.size() - 8) % 2, 0u);
    EXPECT_EQ(Output("exiftool -b -ThumbnailImage " + Quote(file)), Output("cat " + Quote(thumb)));
    EXPECT_EQ(ValidationProblems(file), "");
  }
}
