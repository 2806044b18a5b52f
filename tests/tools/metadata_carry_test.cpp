// What a resized, converted or cloned JPEG carries over: the colour profile
// and XMP packet of the picture it shows, the EXIF tags of its source (and
// nothing else), and the EXIF thumbnail only while it still shows the same
// picture. Checked with exiftool, byte for byte where the data is copied.
#include <gtest/gtest.h>

#include <iterator>
#include <map>
#include <set>
#include <utility>
#include <vector>

#include "tests/tools/beside_runs.h"
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

// A JPEG with everything: the tree's le.jpg (tags, GPS, thumbnail) given
// meta.jpg's profile and XMP packet by exiftool.
std::string FullJpeg(const TreeCopy& tree, const std::string& name) {
  const std::string path = tree / ("photos/" + name);
  Shell("cp -p " + Quote(tree / "photos/le.jpg") + " " + Quote(path) +
        " && exiftool -q -overwrite_original -P -tagsFromFile " + Quote(tree / "photos/meta.jpg") +
        " -ICC_Profile -XMP " + Quote(path));
  return path;
}

// Every tag exiftool reads from the EXIF and IPTC blocks, "[group] name :
// value" per line (numbers as stored), without the thumbnail directory.
std::string AllTags(const std::string& path) {
  return Shell("exiftool -a -G1 -s -n -x File:all -x System:all -x ExifTool:all -x Composite:all "
               "-x JFIF:all -x ICC_Profile:all -x XMP:all -x IFD1:all " + Quote(path) + " 2>/dev/null");
}

// The warnings `exiftool -validate` gives for `result` that it does not give
// for `source`: the carrying must not make a sound file worse.
std::string NewWarnings(const std::string& source, const std::string& result) {
  auto lines = [](const std::string& path) {
    std::set<std::string> set;
    std::istringstream in(Shell("exiftool -validate -warning -a -s3 " + Quote(path) + " 2>&1"));
    for (std::string line; std::getline(in, line);) set.insert(line);
    return set;
  };
  const std::set<std::string> before = lines(source);
  std::string added;
  for (const std::string& line : lines(result))
    if (!before.count(line)) added += line + "\n";
  return added;
}

// Many files validated, or tagged, by one exiftool run: every run starts a
// Perl interpreter, which costs far more than reading a small file.

// The lines `exiftool -validate` gives for each of `paths` (one run for all).
std::map<std::string, std::set<std::string>> Validations(const std::vector<std::string>& paths) {
  std::string command = "exiftool -validate -warning -a -s3";
  for (const std::string& path : paths) command += " " + Quote(path);
  std::istringstream lines(Shell(command + " 2>&1"));
  std::map<std::string, std::set<std::string>> found;
  // Several files: each file's lines follow a "======== path" line, and a
  // count of the files read ends the output. One file: no header, no count.
  std::string current = paths.size() == 1 ? paths[0] : "";
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("======== ", 0) == 0) {
      current = line.substr(9);
    } else if (paths.size() > 1 && line.rfind(' ', 0) == 0 && line.find(" files ") != std::string::npos) {
      current.clear();
    } else {
      EXPECT_FALSE(current.empty()) << "exiftool -validate: " << line;
      found[current].insert(line);
    }
  }
  for (const std::string& path : paths) EXPECT_TRUE(found.count(path)) << path << " not validated";
  return found;
}

// The lines of `validated[result]` that `validated[source]` lacks.
std::string NewWarningsOf(std::map<std::string, std::set<std::string>>& validated, const std::string& source,
                          const std::string& result) {
  std::string added;
  for (const std::string& line : validated[result])
    if (!validated[source].count(line)) added += line + "\n";
  return added;
}

// exiftool writes to each file its own arguments (split at spaces: no
// value holds one), all in one run.
void ExiftoolEach(const std::vector<std::pair<std::string, std::string>>& argumentsAndPaths, const std::string& argfile) {
  std::ofstream out(argfile, std::ios::binary | std::ios::trunc);
  for (const auto& [arguments, path] : argumentsAndPaths) {
    out << "-q\n-overwrite_original\n";
    std::istringstream words(arguments);
    for (std::string word; words >> word;) out << word << "\n";
    out << path << "\n-execute\n";
  }
  out.close();
  int status = 0;
  const std::string output = Shell("exiftool -@ " + Quote(argfile) + " 2>&1", &status);
  ASSERT_EQ(status, 0) << output;
  ASSERT_EQ(output, "");
}

void Exiftool(const std::string& arguments, const std::string& path) {
  int status = 0;
  const std::string out =
      Shell("exiftool -q -overwrite_original " + arguments + " " + Quote(path) + " 2>&1", &status);
  ASSERT_EQ(status, 0) << arguments << ": " << out;
}

// A picture drawn by ImageMagick 6.
void Draw(const std::string& arguments, const std::string& path) {
  int status = 0;
  const std::string out = Shell("convert-im6.q16 " + arguments + " " + Quote(path) + " 2>&1", &status);
  ASSERT_EQ(status, 0) << arguments << ": " << out;
}

// The peers these tests ask for, and the real colour profiles they carry.
const char* const kProfiles = "/usr/share/color/icc/ghostscript/";

void RequirePeers() {
  for (const char* program : {"exiftool", "exiv2", "convert-im6.q16", "identify-im6.q16"})
    ASSERT_FALSE(Shell(std::string("command -v ") + program).empty()) << program << " missing: run scripts/setup";
  ASSERT_TRUE(fs::exists(std::string(kProfiles) + "a98.icc"))
      << kProfiles << "a98.icc missing: run scripts/setup";
}

// The length field of a JPEG's APP1 "Exif" segment; 0 when it has none.
size_t ExifSegmentLength(const std::string& jpeg) {
  size_t at = 2;
  while (at + 10 <= jpeg.size() && static_cast<uint8_t>(jpeg[at]) == 0xFF) {
    const auto marker = static_cast<uint8_t>(jpeg[at + 1]);
    const size_t length = (static_cast<uint8_t>(jpeg[at + 2]) << 8) | static_cast<uint8_t>(jpeg[at + 3]);
    if (marker == 0xE1 && jpeg.compare(at + 4, 6, std::string("Exif\0\0", 6)) == 0) return length;
    if (marker == 0xDA) break;
    at += 2 + length;
  }
  return 0;
}

// One pixel of ImageMagick's txt: listing; empty when it is not there.
std::vector<int> PixelOf(const std::string& text, int x, int y) {
  const std::string key = "\n" + std::to_string(x) + "," + std::to_string(y) + ": (";
  const size_t at = text.find(key);
  if (at == std::string::npos) return {};
  std::vector<int> rgb(3);
  std::sscanf(text.c_str() + at + key.size(), "%d,%d,%d", &rgb[0], &rgb[1], &rgb[2]);
  return rgb;
}

// The centres of the four quadrants of a w x h picture, as two txt:
// listings give them, agree to within JPEG's loss.
void ExpectQuadrants(const std::string& got, const std::string& want, int w, int h) {
  for (const auto& [x, y] : std::vector<std::pair<int, int>>{{w / 4, h / 4}, {3 * w / 4, h / 4},
                                                             {w / 4, 3 * h / 4}, {3 * w / 4, 3 * h / 4}}) {
    const std::vector<int> a = PixelOf(got, x, y), b = PixelOf(want, x, y);
    ASSERT_EQ(a.size(), 3u) << x << "," << y;
    ASSERT_EQ(b.size(), 3u) << x << "," << y;
    for (int c = 0; c < 3; ++c) EXPECT_NEAR(a[c], b[c], 24) << "at " << x << "," << y;
  }
}

// Four quadrants of their own colour, (2w)x(2h), drawn by ImageMagick.
void DrawQuadrants(int w, int h, const std::string& options, const std::string& path) {
  const std::string size = "-size " + std::to_string(w) + "x" + std::to_string(h);
  Draw("\\( " + size + " xc:red xc:lime +append \\) \\( " + size + " xc:blue xc:yellow +append \\) -append " +
           options,
       path);
}

}  // namespace

TEST(MetadataCarry, ResizedAndConvertedJpegsKeepProfileXmpAndThumbnail) {
  TreeCopy tree;
  const std::string full = FullJpeg(tree, "full.jpg");
  // Each result moved aside under a name of its own, then all read at once.
  std::vector<std::pair<std::string, bool>> results;  // path, colour
  for (bool grey : {false, true}) {
    SCOPED_TRACE(grey ? "grey" : "colour");
    SetResizeRule(false, true, false, 200, 200);
    g_ResizeGrayscale = grey;
    ResizeRequest resize;
    resize.sources = SplitSources(W(full));
    resize.overwrite = false;
    EXPECT_EQ(RunResize(resize, nullptr, nullptr).done, 1u);
    results.emplace_back(tree / (grey ? "resized-grey.jpg" : "resized-colour.jpg"), !grey);
    fs::rename(N(ResizeDestination(W(full), false)), results.back().first);

    g_ConvertGrayscale = grey;
    ConvertRequest convert;
    convert.sources = SplitSources(W(full));
    convert.sameFolder = true;
    EXPECT_EQ(RunConvert(convert, nullptr, nullptr).done, 1u);
    results.emplace_back(tree / (grey ? "converted-grey.jpg" : "converted-colour.jpg"), !grey);
    fs::rename(tree / "photos/full_1.jpg", results.back().first);
  }
  g_ResizeGrayscale = g_ConvertGrayscale = false;

  std::vector<std::string> paths{full};
  for (const auto& result : results) paths.push_back(result.first);
  const auto tags = TagsOf(paths);
  auto gps = TagTable(paths, {"GPSLatitude", "GPSLongitude"});
  const std::string icc = Binary(full, "ICC_Profile"), xmp = Binary(full, "XMP"),
                    thumbnail = Binary(full, "ThumbnailImage");
  ASSERT_FALSE(icc.empty());
  ASSERT_FALSE(thumbnail.empty());
  ASSERT_TRUE(tags.count(full));
  for (const auto& [result, colour] : results) {
    SCOPED_TRACE(result);
    // The XMP always equal; the (RGB) profile and the thumbnail equal on a
    // colour result, gone from a grey one.
    EXPECT_EQ(Binary(result, "ICC_Profile"), colour ? icc : "");
    EXPECT_EQ(Binary(result, "XMP"), xmp);
    EXPECT_EQ(Binary(result, "ThumbnailImage"), colour ? thumbnail : "");
    ASSERT_TRUE(tags.count(result));
    EXPECT_TRUE(TagsKeptIn(tags.at(full), tags.at(result)));
  }
  // The resized ones keep the position to a millionth of a degree.
  for (const std::string& result : {results[0].first, results[2].first}) {
    for (const char* tag : {"GPSLatitude", "GPSLongitude"}) {
      ASSERT_FALSE(gps[full][tag].empty()) << tag;
      ASSERT_FALSE(gps[result][tag].empty()) << result << " " << tag;
      EXPECT_NEAR(std::stod(gps[result][tag]), std::stod(gps[full][tag]), 1e-6) << result << " " << tag;
    }
  }
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
  // Tag for tag, value for value: nothing the source lacks (no default
  // version, colour space or pixel size), nothing of its own left.
  EXPECT_EQ(AllTags(receiving), AllTags(source));
  EXPECT_NE(AllTags(source).find("[IFD0]          Model                           : CASE"), std::string::npos);
  EXPECT_EQ(Tag(receiving, "ThumbnailImage"), "");
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

// A Motorola-order block keeps its order: the UCS-2 UserComment stays
// readable, and the stored fractions of copied rationals stay exactly as
// they were, through resize, conversion and cloning.
TEST(MetadataCarry, BigEndianTagsKeepTheirByteOrderAndTheirFractions) {
  RequirePeers();
  TreeCopy tree;
  const std::string source = tree / "photos/motorola.jpg";
  Draw("-size 320x240 gradient:red-blue -quality 90", source);
  Exiftool("-ExifByteOrder=MM -Make=Pixelwharf '-UserComment=旅行 comment' -ExposureTime=1/250 "
           "-FNumber=5.6 -GPSLatitude=31.2304 -GPSLatitudeRef=N -GPSLongitude=121.4737 -GPSLongitudeRef=E "
           "-ExifImageWidth=320 -ExifImageHeight=240",
           source);
  ASSERT_NE(Shell("exiv2 -pv " + Quote(source)).find("28/5"), std::string::npos);
  const std::string receiving = tree / "photos/receiving.jpg";
  Draw("-size 160x120 gradient:green-white -quality 90", receiving);
  ASSERT_TRUE(RunCloneExifSingle(W(source), W(receiving), false));
  const std::string resized = ResizedBeside(source, 200);
  // The pixel size the block states follows the new pixels.
  EXPECT_EQ(Tag(resized, "ExifImageWidth") + "x" + Tag(resized, "ExifImageHeight"), "200x150");
  for (const std::string& result : {resized, ConvertedBeside(source, "jpg"), receiving}) {
    SCOPED_TRACE(result);
    EXPECT_EQ(NewWarnings(source, result), "");
    EXPECT_EQ(Tag(result, "ExifByteOrder"), "MM");
    EXPECT_EQ(Tag(result, "UserComment"), "旅行 comment");
    const std::string values = Shell("exiv2 -pv " + Quote(result) + " 2>/dev/null");
    EXPECT_NE(values.find("charset=Unicode 旅行 comment"), std::string::npos) << values;
    for (const char* stored : {"ExposureTime                Rational    1  1/250",
                               "FNumber                     Rational    1  28/5",
                               "GPSLatitude                 Rational    3  31/1 13/1 1236/25"})
      EXPECT_NE(values.find(stored), std::string::npos) << stored << " in\n" << values;
  }
}

// A block that fills its segment to within a few bytes of the limit: the
// tools add nothing to it, so it is carried whole, and the conversion
// never writes the file's time over its real shooting time.
TEST(MetadataCarry, AFullExifSegmentIsCarriedWhole) {
  RequirePeers();
  TreeCopy tree;
  const std::string source = tree / "photos/full.jpg";
  Draw("-size 320x240 gradient:orange-purple -quality 90", source);
  const std::string description = tree / "description.txt";
  auto describe = [&](size_t length) {
    std::ofstream(description, std::ios::binary) << std::string(length, 'd');
    Exiftool("-Make=Pixelwharf '-DateTimeOriginal=2001:02:03 04:05:06' '-ImageDescription<=" +
                 description + "'",
             source);
  };
  describe(60000);
  const size_t first = ExifSegmentLength(ReadFile(source));
  ASSERT_GT(first, 60000u);
  describe(60000 + 65520 - first);
  ASSERT_EQ(ExifSegmentLength(ReadFile(source)), 65520u);
  const std::string sourceTags = AllTags(source);

  const std::string resized = ResizedBeside(source, 200);
  const std::string converted = ConvertedBeside(source, "jpg");
  for (const std::string& result : {resized, converted}) {
    SCOPED_TRACE(result);
    EXPECT_EQ(Tag(result, "DateTimeOriginal"), "2001:02:03 04:05:06");
    EXPECT_EQ(Tag(result, "ImageDescription").size(), 60000 + 65520 - first);
    EXPECT_EQ(NewWarnings(source, result), "");
  }
  // The conversion keeps the size of the pixels: every tag is the source's.
  EXPECT_EQ(AllTags(converted), sourceTags);
}

// A profile goes along only with a picture of its colour space: the CMYK
// picture is written with three components and loses its CMYK profile, a
// grey result loses its RGB profile; a colour result keeps it.
TEST(MetadataCarry, ProfilesGoOnlyWithPicturesOfTheirColourSpace) {
  RequirePeers();
  TreeCopy tree;
  const std::string cmyk = tree / "photos/cmyk.jpg";
  Draw("-size 160x120 gradient:red-blue -colorspace CMYK -quality 90", cmyk);
  Exiftool("-Make=Pixelwharf '-ICC_Profile<=" + std::string(kProfiles) + "default_cmyk.icc'", cmyk);
  ASSERT_EQ(Tag(cmyk, "ColorComponents"), "4");
  ASSERT_EQ(Tag(cmyk, "ColorSpaceData"), "CMYK");
  for (const std::string& result : {ResizedBeside(cmyk, 100), ConvertedBeside(cmyk, "jpg")}) {
    SCOPED_TRACE(result);
    EXPECT_EQ(Tag(result, "ColorComponents"), "3");
    EXPECT_EQ(Binary(result, "ICC_Profile"), "");
    EXPECT_EQ(NewWarnings(cmyk, result), "");
  }
  // A cloned CMYK JPEG keeps its image data, so its four components keep
  // their profile.
  const std::string receiving = tree / "photos/receiving.jpeg";
  Shell("cp " + Quote(cmyk) + " " + Quote(receiving));
  ASSERT_TRUE(RunCloneExifSingle(W(tree / "photos/le.jpg"), W(receiving), false));
  EXPECT_EQ(Tag(tree / "photos/receiving.jpg", "ColorComponents"), "4");
  EXPECT_EQ(Binary(tree / "photos/receiving.jpg", "ICC_Profile"), Binary(cmyk, "ICC_Profile"));

  const std::string rgb = tree / "photos/adobe.jpg";
  Draw("-size 160x120 gradient:yellow-navy -quality 90", rgb);
  Exiftool("-Make=Pixelwharf '-ICC_Profile<=" + std::string(kProfiles) + "a98.icc'", rgb);
  const std::string grey = ResizedBeside(rgb, 100, true);
  EXPECT_EQ(Tag(grey, "ColorComponents"), "1");
  EXPECT_EQ(Binary(grey, "ICC_Profile"), "");
  fs::remove(grey);
  const std::string colour = ResizedBeside(rgb, 100, false);
  EXPECT_EQ(Binary(colour, "ICC_Profile"), Binary(rgb, "ICC_Profile"));
}

// Orientations 5 to 8 store the picture on its side: the resize sizes the
// shown picture. Conversion to PNG and BMP turns and mirrors every
// orientation upright, as ImageMagick's auto-orient shows it.
TEST(MetadataCarry, EveryOrientationIsShownUpright) {
  RequirePeers();
  TreeCopy tree;
  // Four quadrants of their own colour, 64x48 stored.
  const std::string plain = tree / "plain.jpg";
  DrawQuadrants(32, 24, "-quality 95", plain);
  const std::string big = tree / "big.jpg";
  Draw("-size 320x240 gradient:red-blue -quality 90", big);
  // Every copy given its orientation by one exiftool run.
  std::vector<std::pair<std::string, std::string>> turning;
  for (int orientation = 1; orientation <= 8; ++orientation) {
    const std::string n = std::to_string(orientation);
    for (const auto& [from, name] : {std::pair{big, "sized"}, std::pair{plain, "turned"}}) {
      const std::string path = tree / ("photos/" + std::string(name) + n + ".jpg");
      fs::copy_file(from, path);
      turning.emplace_back("-Orientation#=" + n, path);
    }
  }
  ExiftoolEach(turning, tree / "turning.args");
  std::vector<std::string> resized;
  for (int orientation = 1; orientation <= 8; ++orientation) {
    SCOPED_TRACE("orientation " + std::to_string(orientation));
    const std::string n = std::to_string(orientation);
    resized.push_back(ResizedBeside(tree / ("photos/sized" + n + ".jpg"), 200));
    // Stored as the source: on its side for 5 to 8, 200 wide when shown.
    EXPECT_EQ(Identify(resized.back()), orientation >= 5 ? "268x200;" : "200x150;");

    const std::string turned = tree / ("photos/turned" + n + ".jpg");
    const std::string expected = Shell("convert-im6.q16 " + Quote(turned) + " -auto-orient -depth 8 txt:-");
    for (const char* format : {"png", "bmp"}) {
      const std::string result = ConvertedBeside(turned, format);
      const std::string got = Shell("convert-im6.q16 " + Quote(result) + " -depth 8 txt:- ");
      EXPECT_EQ(Identify(result), orientation >= 5 ? "48x64;" : "64x48;") << format;
      // The quadrant centres, to within JPEG's loss.
      SCOPED_TRACE(format);
      ExpectQuadrants(got, expected, orientation >= 5 ? 48 : 64, orientation >= 5 ? 64 : 48);
    }
  }
  // The resized JPEG keeps the orientation its pixels are stored in.
  auto values = TagTable(resized, {"Orientation"});
  for (size_t i = 0; i < resized.size(); ++i)
    EXPECT_EQ(values[resized[i]]["Orientation"], std::to_string(i + 1)) << resized[i];
}

// The density of the source is the density of the result, and the JFIF
// header and the EXIF block of a result agree.
TEST(MetadataCarry, ResolutionIsCarriedAndAgrees) {
  RequirePeers();
  TreeCopy tree;
  struct Case {
    const char* name;
    const char* draw;      // ImageMagick options
    const char* tag;       // exiftool arguments
    const char* jfif;      // the result's JFIF unit, x, y
    const char* exif;      // the result's EXIF unit, x, y ("" when none)
    const char* png;       // PNG pixels per unit x, y and unit
  };
  const Case cases[] = {
      {"jfif300", "-density 300 -units PixelsPerInch", "-Make=Pixelwharf -IFD0:XResolution= -IFD0:YResolution= -IFD0:ResolutionUnit=",
       "1 300 300", "", "11811 11811 1"},
      {"exif300", "", "-JFIF:all= -Make=Pixelwharf -IFD0:XResolution=300 -IFD0:YResolution=300 -IFD0:ResolutionUnit=inches",
       "1 300 300", "2 300 300", "11811 11811 1"},
      {"aspect", "", "-Make=Pixelwharf -JFIF:ResolutionUnit=None -JFIF:XResolution=2 -JFIF:YResolution=1 "
                     "-IFD0:XResolution= -IFD0:YResolution= -IFD0:ResolutionUnit=",
       "0 2 1", "", ""},
      // A stated resolution with a fraction gives the rounded JFIF density
      // and PNG dpi; a metric one the exact pixels per metre.
      {"exif299.7", "", "-JFIF:all= -Make=Pixelwharf -IFD0:XResolution=299.7 -IFD0:YResolution=299.7 -IFD0:ResolutionUnit=inches",
       "1 300 300", "2 299.7 299.7", "11811 11811 1"},
      {"exif118cm", "", "-JFIF:all= -Make=Pixelwharf -IFD0:XResolution=118 -IFD0:YResolution=118 -IFD0:ResolutionUnit=cm",
       "2 118 118", "3 118 118", "11800 11800 1"},
      {"jfif118cm", "-density 118 -units PixelsPerCentimeter", "-Make=Pixelwharf -IFD0:XResolution= -IFD0:YResolution= -IFD0:ResolutionUnit=",
       "2 118 118", "", "11800 11800 1"},
      // Neither a JFIF density nor an EXIF resolution: the result claims none.
      {"bare", "", "-JFIF:all= -Make=Pixelwharf -IFD0:XResolution= -IFD0:YResolution= -IFD0:ResolutionUnit=",
       "0 1 1", "", ""},
  };
  // One drawing for each way of drawing, copied for each case that uses it.
  std::map<std::string, std::string> drawn;
  std::vector<std::pair<std::string, std::string>> tagging;
  std::vector<std::string> sources;
  for (const Case& c : cases) {
    if (!drawn.count(c.draw)) {
      const std::string path = tree / ("drawn" + std::to_string(drawn.size()) + ".jpg");
      Draw(std::string("-size 160x120 gradient:red-blue ") + c.draw + " -quality 90", path);
      drawn[c.draw] = path;
    }
    sources.push_back(tree / ("photos/" + std::string(c.name) + ".jpg"));
    fs::copy_file(drawn[c.draw], sources.back());
    tagging.emplace_back(c.tag, sources.back());
  }
  ExiftoolEach(tagging, tree / "tagging.args");

  // Every case through the tools first, then every file read at once.
  struct Results {
    std::string resized, converted, png, bmp;
  };
  std::vector<Results> results;
  std::vector<std::string> all = sources;
  for (size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(cases[i].name);
    Results r{ResizedBeside(sources[i], 80), ConvertedBeside(sources[i], "jpg"), "", ""};
    all.insert(all.end(), {r.resized, r.converted});
    if (*cases[i].png) {
      r.png = ConvertedBeside(sources[i], "png");
      r.bmp = ConvertedBeside(sources[i], "bmp");
      all.insert(all.end(), {r.png, r.bmp});
    }
    results.push_back(r);
  }
  auto values = TagTable(all, {"JFIF:ResolutionUnit", "JFIF:XResolution", "JFIF:YResolution", "IFD0:ResolutionUnit",
                               "IFD0:XResolution", "IFD0:YResolution", "PixelsPerUnitX", "PixelsPerUnitY", "PixelUnits",
                               "PixelsPerMeterX", "PixelsPerMeterY"});
  auto validated = Validations(all);
  auto triple = [&](const std::string& path, const std::string& group) {
    std::string out;
    for (const char* tag : {"ResolutionUnit", "XResolution", "YResolution"}) {
      const std::string value = values[path][group + ":" + tag];
      if (value.empty()) return std::string();
      out += (out.empty() ? "" : " ") + value;
    }
    return out;
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    const Case& c = cases[i];
    SCOPED_TRACE(c.name);
    // The source states in its EXIF block what the results must.
    EXPECT_EQ(triple(sources[i], "IFD0"), c.exif);
    for (const std::string& result : {results[i].resized, results[i].converted}) {
      SCOPED_TRACE(result);
      EXPECT_EQ(triple(result, "JFIF"), c.jfif);
      EXPECT_EQ(triple(result, "IFD0"), c.exif);
      EXPECT_EQ(NewWarningsOf(validated, sources[i], result), "");
    }
    if (*c.png) {
      const auto& png = values[results[i].png];
      EXPECT_EQ(png.at("PixelsPerUnitX") + " " + png.at("PixelsPerUnitY") + " " + png.at("PixelUnits"), c.png);
      const auto& bmp = values[results[i].bmp];
      EXPECT_EQ(bmp.at("PixelsPerMeterX") + " " + bmp.at("PixelsPerMeterY") + " 1", c.png);
    }
  }
}

// Keywords, caption and by-line (the IPTC block) go along with a resized
// or converted picture.
TEST(MetadataCarry, IptcGoesAlong) {
  RequirePeers();
  TreeCopy tree;
  const std::string source = tree / "photos/iptc.jpg";
  Draw("-size 160x120 gradient:red-blue -quality 90", source);
  Exiftool("-Make=Pixelwharf -IPTC:Keywords=旅行 -IPTC:Keywords=harbour '-IPTC:Caption-Abstract=The old harbour' "
           "'-IPTC:By-line=A. Photographer' -charset iptc=UTF8",
           source);
  const std::string iptc = Shell("exiftool -IPTC:all -s " + Quote(source));
  ASSERT_NE(iptc.find("harbour"), std::string::npos);
  for (const std::string& result : {ResizedBeside(source, 80), ConvertedBeside(source, "jpg")}) {
    SCOPED_TRACE(result);
    EXPECT_EQ(Shell("exiftool -IPTC:all -s " + Quote(result)), iptc);
    EXPECT_EQ(Binary(result, "IPTC"), Binary(source, "IPTC"));
    EXPECT_EQ(NewWarnings(source, result), "");
  }
}

// No default tag states what is not true of the picture: a grey picture
// converted with its shooting time set names its one component (not
// "Y Cb Cr"), and a picture whose profile is Adobe RGB gets no "sRGB".
TEST(MetadataCarry, DefaultTagsAreWrittenOnlyWhereTrue) {
  RequirePeers();
  TreeCopy tree;
  const std::string grey = tree / "photos/grey.png";
  Draw("-size 160x120 gradient:white-black -colorspace Gray -type Grayscale", grey);
  const bool setTime = g_ConvertSetPhotoTime;
  g_ConvertSetPhotoTime = true;
  const std::string fromGrey = ConvertedBeside(grey, "jpg");
  g_ConvertSetPhotoTime = setTime;
  EXPECT_EQ(Tag(fromGrey, "ColorComponents"), "1");
  EXPECT_NE(Tag(fromGrey, "DateTimeOriginal"), "");
  EXPECT_EQ(Tag(fromGrey, "ComponentsConfiguration"), "1 0 0 0");
  EXPECT_EQ(Shell("exiftool -validate -warning -a -s3 " + Quote(fromGrey)), "OK\n");
  EXPECT_EQ(Tag(fromGrey, "ColorSpace"), "1");

  const std::string adobe = tree / "photos/adobe.jpg";
  Draw("-size 160x120 gradient:yellow-navy -quality 90", adobe);
  Exiftool("-Make=Pixelwharf -ExifIFD:ColorSpace= '-ICC_Profile<=" + std::string(kProfiles) + "a98.icc'", adobe);
  ASSERT_EQ(Tag(adobe, "ColorSpace"), "");
  for (const std::string& result : {ResizedBeside(adobe, 80), ConvertedBeside(adobe, "jpg")}) {
    SCOPED_TRACE(result);
    EXPECT_EQ(Tag(result, "ColorSpace"), "");
    EXPECT_EQ(Binary(result, "ICC_Profile"), Binary(adobe, "ICC_Profile"));
  }
}

// A source whose EXIF block cannot be read (a main directory that claims
// 65535 entries) is a failure, logged in a batch; the receiving picture
// stays byte for byte as it was.
TEST(MetadataCarry, AnUnreadableSourceBlockLeavesTheReceivingPictureAlone) {
  RequirePeers();
  TreeCopy tree;
  fs::create_directories(tree / "source");
  fs::create_directories(tree / "receiving");
  const std::string source = tree / "source/a.jpg";
  Shell("cp " + Quote(tree / "photos/B.JPG") + " " + Quote(source));
  std::string bytes = ReadFile(source);
  // The TIFF header follows "Exif\0\0"; IFD0 sits at its offset field's value.
  const size_t tiff = bytes.find(std::string("Exif\0\0", 6)) + 6;
  ASSERT_GT(tiff, 6u);
  const bool big = bytes[tiff] == 'M';
  auto u32 = [&](size_t at) {
    const auto b = [&](size_t i) { return static_cast<uint32_t>(static_cast<uint8_t>(bytes[at + i])); };
    return big ? b(0) << 24 | b(1) << 16 | b(2) << 8 | b(3) : b(3) << 24 | b(2) << 16 | b(1) << 8 | b(0);
  };
  const size_t ifd0 = tiff + u32(tiff + 4);
  bytes[ifd0] = bytes[ifd0 + 1] = static_cast<char>(0xFF);
  std::ofstream(source, std::ios::binary | std::ios::trunc) << bytes;
  ASSERT_EQ(Tag(source, "Model"), "");

  const std::string receiving = tree / "receiving/a.jpg";
  Shell("cp -p " + Quote(tree / "photos/le.jpg") + " " + Quote(receiving));
  const std::string before = ReadFile(receiving);
  EXPECT_FALSE(RunCloneExifSingle(W(source), W(receiving), false));
  EXPECT_EQ(ReadFile(receiving), before);

  const CloneBatchOutcome outcome =
      RunCloneExifBatch(W(tree / "source"), W(tree / "receiving"), {L"*.jpg"}, 2, nullptr, nullptr);
  EXPECT_EQ(outcome.failed, 1u);
  EXPECT_EQ(outcome.done, 0u);
  EXPECT_EQ(ReadFile(receiving), before);
  EXPECT_NE(ReadFile(tree / "receiving/log.log").find("Failed!"), std::string::npos);

  // The other tools fail such a picture too, rather than drop its tags.
  ResizeRequest resize;
  SetResizeRule(true, false, false, 100, 100);
  resize.sources = SplitSources(W(source));
  EXPECT_EQ(RunResize(resize, nullptr, nullptr).done, 0u);
  ConvertedBeside(source, "jpg", false);
}

// A TIFF reader delivers the page upright: a TIFF stored on its side is
// sized as it is shown and written upright, in both modes (over the
// original too, which must never end squeezed), matching ImageMagick's
// auto-orient.
TEST(MetadataCarry, TiffsOnTheirSideAreResizedUpright) {
  RequirePeers();
  TreeCopy tree;
  // 64x48 stored, resized to a short side of 32: 44x32 shown (42.7 rounded
  // up to even), 32x44 when on its side. A small picture shows a squeezed
  // or unturned result as well as a large one.
  const std::string stored = tree / "stored.tif";
  DrawQuadrants(32, 24, "-compress lzw", stored);
  const int orientations[] = {3, 5, 6, 7, 8};
  std::vector<std::pair<std::string, std::string>> turning;
  for (int orientation : orientations) {
    const std::string source = tree / ("side" + std::to_string(orientation) + ".tif");
    fs::copy_file(stored, source);
    turning.emplace_back("-Orientation#=" + std::to_string(orientation), source);
  }
  ExiftoolEach(turning, tree / "turning.args");
  std::vector<std::string> results;
  for (int orientation : orientations) {
    const std::string n = std::to_string(orientation);
    const std::string source = tree / ("side" + n + ".tif");
    const bool side = orientation >= 5;
    const std::string expected = tree / ("expected" + n + ".txt");
    Shell("convert-im6.q16 " + Quote(source) + " -auto-orient -resize " + (side ? "32x44!" : "44x32!") +
          " -depth 8 txt:- > " + Quote(expected));
    for (bool overwrite : {false, true}) {
      SCOPED_TRACE("orientation " + n + (overwrite ? ", over the original" : ", beside it"));
      const std::string path = tree / ("photos/side" + n + (overwrite ? "o" : "b") + ".tif");
      fs::copy_file(source, path);
      SetResizeRule(false, true, false, 32, 32);
      ResizeRequest resize;
      resize.sources = SplitSources(W(path));
      resize.overwrite = overwrite;
      EXPECT_EQ(RunResize(resize, nullptr, nullptr).done, 1u);
      const std::string result = N(ResizeDestination(W(path), overwrite));
      results.push_back(result);
      EXPECT_EQ(Identify(result), side ? "32x44;" : "44x32;");
      ExpectQuadrants(Shell("convert-im6.q16 " + Quote(result) + " -auto-orient -depth 8 txt:-"),
                      ReadFile(expected), side ? 32 : 44, side ? 44 : 32);
    }
  }
  // Written upright: no result keeps the orientation that would turn it again.
  auto values = TagTable(results, {"Orientation"});
  for (size_t i = 0; i < results.size(); ++i)
    EXPECT_NE(values[results[i]]["Orientation"], std::to_string(orientations[i / 2])) << results[i];
}

// A TIFF (its EXIF directory) or PNG (its eXIf chunk) that states when it
// was shot gives a JPEG made from it that time, not the file's; the file's
// time stands in only for a source that states none.
TEST(MetadataCarry, JpegsFromTiffAndPngStateTheSourcesShootingTime) {
  RequirePeers();
  TreeCopy tree;
  g_ConvertSetPhotoTime = true;
  for (const std::string ext : {"tif", "png"}) {
    SCOPED_TRACE(ext);
    const std::string shot = tree / ("photos/shot" + ext + "." + ext), bare = tree / ("photos/bare" + ext + "." + ext);
    Draw("-size 64x48 gradient:red-blue", shot);
    Draw("-size 64x48 gradient:red-blue", bare);
    Exiftool("'-EXIF:DateTimeOriginal=2024:03:05 06:07:08' -EXIF:Artist=Somebody", shot);
    ASSERT_EQ(Tag(shot, "DateTimeOriginal"), "2024:03:05 06:07:08");
    for (const std::string& path : {shot, bare}) Shell("touch -d '2020-01-02 03:04:05' " + Quote(path));
    EXPECT_EQ(Tag(ConvertedBeside(shot, "jpg"), "DateTimeOriginal"), "2024:03:05 06:07:08");
    EXPECT_EQ(Tag(ConvertedBeside(bare, "jpg"), "DateTimeOriginal"), "2020:01:02 03:04:05");
  }
  g_ConvertSetPhotoTime = false;
}

// A PNG's eXIf chunk goes along with the resized PNG, its pixel size made
// true, so its orientation, time and artist still hold (the picture stays
// stored on its side, as a JPEG does); a PNG without a pHYs chunk takes its
// density from the chunk.
TEST(MetadataCarry, PngExifChunkGoesAlongAndGivesTheDensity) {
  RequirePeers();
  TreeCopy tree;
  const std::string source = tree / "photos/side.png";
  DrawQuadrants(32, 24, "", source);  // 64x48 stored
  Exiftool("-PNG:PixelsPerUnitX= -EXIF:Orientation#=6 '-EXIF:DateTimeOriginal=2024:03:05 06:07:08' "
           "-EXIF:Artist=Somebody -EXIF:XResolution=72 -EXIF:YResolution=72 -EXIF:ResolutionUnit=inches "
           "-EXIF:ExifImageWidth=64 -EXIF:ExifImageHeight=48",
           source);
  std::vector<std::string> resized;
  for (bool overwrite : {false, true}) {
    SCOPED_TRACE(overwrite ? "over the original" : "beside it");
    const std::string path = tree / (overwrite ? "photos/over.png" : "photos/beside.png");
    fs::copy_file(source, path);
    SetResizeRule(true, false, false, 200, 200);
    ResizeRequest resize;
    resize.sources = SplitSources(W(path));
    resize.overwrite = overwrite;
    EXPECT_EQ(RunResize(resize, nullptr, nullptr).done, 1u);
    resized.push_back(N(ResizeDestination(W(path), overwrite)));
    // 200 wide as shown: stored 268x200, on its side.
    EXPECT_EQ(Identify(resized.back()), "268x200;");
    ExpectQuadrants(Shell("convert-im6.q16 " + Quote(resized.back()) + " -rotate 90 -depth 8 txt:-"),
                    Shell("convert-im6.q16 " + Quote(source) + " -rotate 90 -resize 200x268! -depth 8 txt:-"),
                    200, 268);
  }
  const std::string png = ConvertedBeside(source, "png");
  const std::string bmp = ConvertedBeside(source, "bmp");
  EXPECT_EQ(Identify(bmp), "48x64;");

  auto values = TagTable({source, resized[0], resized[1], png, bmp},
                         {"Orientation", "DateTimeOriginal", "Artist", "XResolution", "ExifImageWidth",
                          "ExifImageHeight", "PixelsPerUnitX", "PixelsPerUnitY", "PixelsPerMeterX", "PixelsPerMeterY"});
  auto validated = Validations({source, resized[0], resized[1]});
  ASSERT_EQ(values[source]["PixelsPerUnitX"], "");
  ASSERT_EQ(values[source]["Orientation"], "6");
  for (const std::string& result : resized) {
    SCOPED_TRACE(result);
    for (const char* tag : {"Orientation", "DateTimeOriginal", "Artist", "XResolution"})
      EXPECT_EQ(values[result][tag], values[source][tag]) << tag;
    EXPECT_EQ(values[result]["ExifImageWidth"] + "x" + values[result]["ExifImageHeight"], "268x200");
    EXPECT_EQ(NewWarningsOf(validated, source, result), "");
  }
  // 72 dpi from the chunk, in PNG and BMP results.
  EXPECT_EQ(values[png]["PixelsPerUnitX"] + " " + values[png]["PixelsPerUnitY"], "2835 2835");
  EXPECT_EQ(values[png]["Orientation"], "6");
  EXPECT_EQ(values[bmp]["PixelsPerMeterX"] + " " + values[bmp]["PixelsPerMeterY"], "2835 2835");
}
