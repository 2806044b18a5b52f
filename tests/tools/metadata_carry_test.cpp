// What a resized, converted or cloned JPEG carries over: the colour profile
// and XMP packet of the picture it shows, the EXIF tags of its source (and
// nothing else), and the EXIF thumbnail only while it still shows the same
// picture. Checked with exiftool, byte for byte where the data is copied.
#include <gtest/gtest.h>

#include "tests/tools/resize_rule.h"
#include "tests/tools/tool_tree.h"
#include "tools/CloneExif.h"
#include "tools/Convertor.h"
#include "tools/ResizePictures.h"

using namespace tooltest;

namespace {

std::string Binary(const std::string& path, const std::string& tag) {
  return Shell("exiftool -b -" + tag + " " + Quote(path) + " 2>/dev/null");
}

// The profile, XMP packet and thumbnail of `result` against those of
// `from`: the profile and XMP always equal, the thumbnail equal or gone.
void ExpectCarried(const std::string& from, const std::string& result, bool thumbnail) {
  SCOPED_TRACE(result);
  EXPECT_FALSE(Binary(from, "ICC_Profile").empty());
  EXPECT_EQ(Binary(result, "ICC_Profile"), Binary(from, "ICC_Profile"));
  EXPECT_EQ(Binary(result, "XMP"), Binary(from, "XMP"));
  EXPECT_FALSE(Binary(from, "ThumbnailImage").empty());
  EXPECT_EQ(Binary(result, "ThumbnailImage"), thumbnail ? Binary(from, "ThumbnailImage") : "");
}

// A JPEG with everything: the tree's le.jpg (tags, GPS, thumbnail) given
// meta.jpg's profile and XMP packet by exiftool.
std::string FullJpeg(const TreeCopy& tree, const std::string& name) {
  const std::string path = tree / ("photos/" + name);
  Shell("cp -p " + Quote(tree / "photos/le.jpg") + " " + Quote(path) +
        " && exiftool -q -overwrite_original -P -tagsFromFile " + Quote(tree / "photos/meta.jpg") +
        " -ICC_Profile -XMP " + Quote(path));
  return path;
}

}  // namespace

TEST(MetadataCarry, ResizedAndConvertedJpegsKeepProfileXmpAndThumbnail) {
  TreeCopy tree;
  const std::string full = FullJpeg(tree, "full.jpg");
  for (bool grey : {false, true}) {
    SCOPED_TRACE(grey ? "grey" : "colour");
    SetResizeRule(false, true, false, 200, 200);
    g_ResizeGrayscale = grey;
    ResizeRequest resize;
    resize.sources = SplitSources(W(full));
    resize.overwrite = false;
    EXPECT_EQ(RunResize(resize, nullptr, nullptr).done, 1u);
    const std::string resized = N(ResizeDestination(W(full), false));
    ExpectCarried(full, resized, !grey);
    EXPECT_TRUE(TagsKept(full, resized));
    EXPECT_TRUE(GpsNear(full, resized));
    fs::remove(resized);

    g_ConvertGrayscale = grey;
    ConvertRequest convert;
    convert.sources = SplitSources(W(full));
    convert.sameFolder = true;
    EXPECT_EQ(RunConvert(convert, nullptr, nullptr).done, 1u);
    const std::string converted = tree / "photos/full_1.jpg";
    ExpectCarried(full, converted, !grey);
    EXPECT_TRUE(TagsKept(full, converted));
    fs::remove(converted);
  }
  g_ResizeGrayscale = g_ConvertGrayscale = false;
}

// The receiving JPEG ends with exactly the source's tags: its own GPS
// position, artist and orientation are gone, and it takes none of the
// source's thumbnail (another picture). Its own profile and XMP packet and
// its image data stay. A receiving ".jpeg" is re-encoded as ".jpg" and
// brings its profile along too.
TEST(MetadataCarry, ClonedJpegsCarryExactlyTheSourcesTags) {
  TreeCopy tree;
  const std::string receiving = FullJpeg(tree, "receiving.jpg");
  Shell("exiftool -q -overwrite_original -P -Orientation#=6 -Artist=Receiver " + Quote(receiving));
  const std::string source = tree / "photos/B.JPG";  // Make, Model; no GPS, artist or thumbnail
  ASSERT_EQ(Tag(source, "GPSLatitude"), "");
  const std::string image = ImageData(ReadFile(receiving));
  const std::string icc = Binary(receiving, "ICC_Profile"), xmp = Binary(receiving, "XMP");

  ASSERT_TRUE(RunCloneExifSingle(W(source), W(receiving), false));
  EXPECT_EQ(ImageData(ReadFile(receiving)), image);
  EXPECT_TRUE(TagsKept(source, receiving));
  for (const char* gone : {"GPSLatitude", "Artist", "Orientation", "DateTimeOriginal", "ThumbnailImage"})
    EXPECT_EQ(Tag(receiving, gone), "") << gone;
  EXPECT_EQ(Binary(receiving, "ICC_Profile"), icc);
  EXPECT_EQ(Binary(receiving, "XMP"), xmp);

  const std::string jpeg = tree / "photos/other.jpeg";
  Shell("cp -p " + Quote(tree / "photos/meta.jpg") + " " + Quote(jpeg));
  ASSERT_TRUE(RunCloneExifSingle(W(tree / "photos/le.jpg"), W(jpeg), false));
  const std::string jpg = tree / "photos/other.jpg";
  EXPECT_EQ(Tag(jpg, "Model"), "LE-1");
  EXPECT_EQ(Tag(jpg, "ThumbnailImage"), "");
  EXPECT_EQ(Binary(jpg, "ICC_Profile"), Binary(jpeg, "ICC_Profile"));
  EXPECT_EQ(Binary(jpg, "XMP"), Binary(jpeg, "XMP"));
}
