// Metadata on the tools' less trodden paths: a JPEG whose thumbnail
// directory states another resolution and orientation, densities per metre,
// a PNG whose eXIf chunk follows its pixel data, the tags the tools write
// into PNG and JPEG results, a clone onto a picture stored on its side, and
// the EXIF block of a JPEG made from a JPEG. Files made at test time by
// ImageMagick and exiftool, results read back by them.
#include <gtest/gtest.h>

#include <cstdlib>

#include "core/ExifHelpers.h"
#include "core/PngExifChunk.h"
#include "tests/tools/beside_runs.h"
#include "tests/tools/resize_rule.h"
#include "tests/tools/tool_tree.h"
#include "tools/ClassifyTool.h"
#include "tools/CloneExif.h"
#include "tools/Convertor.h"
#include "tools/PictureOps.h"
#include "tools/ResizePictures.h"

using namespace tooltest;

namespace {

class Scratch {
 public:
  Scratch() {
    std::string pattern = (fs::temp_directory_path() / "pw-metapaths-XXXXXX").string();
    if (::mkdtemp(pattern.data())) path_ = pattern;
  }
  ~Scratch() {
    std::error_code error;
    if (!path_.empty()) fs::remove_all(path_, error);
  }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

void MustRun(const std::string& command) {
  int status = 0;
  const std::string out = Shell(command + " 2>&1", &status);
  ASSERT_EQ(status, 0) << command << ": " << out;
}

void Exiftool(const std::string& arguments, const std::string& path) {
  MustRun("exiftool -q -overwrite_original " + arguments + " " + Quote(path));
}

// Four quadrants of their own colour, (2w)x(2h).
void Quadrants(int w, int h, const std::string& options, const std::string& path) {
  const std::string size = "-size " + std::to_string(w) + "x" + std::to_string(h);
  MustRun("convert-im6.q16 \\( " + size + " xc:red xc:lime +append \\) \\( " + size +
      " xc:blue xc:yellow +append \\) -append " + options + " " + Quote(path));
}

// The colour at (x, y) after ImageMagick's auto-orient, as "r,g,b" rounded
// to the nearest of 0 and 255 (JPEG's loss stays well inside that).
std::string ShownColour(const std::string& path, int x, int y) {
  const std::string text = Shell("convert-im6.q16 " + Quote(path) + " -auto-orient -crop 1x1+" +
                                 std::to_string(x) + "+" + std::to_string(y) +
                                 " -depth 8 -format '%[fx:round(r)],%[fx:round(g)],%[fx:round(b)]' info:");
  return text;
}

// The shown picture's four quadrant colours, top-left, top-right,
// bottom-left, bottom-right.
// The quadrants as drawn (red, lime / blue, yellow), and turned a quarter
// clockwise as Orientation 6 shows them (blue, red / yellow, lime).
const char* const kAsDrawn = "1,0,0 0,1,0 0,0,1 1,1,0";
const char* const kTurnedBySix = "0,0,1 1,0,0 1,1,0 0,1,0";

std::string ShownQuadrants(const std::string& path, int w, int h) {
  return ShownColour(path, w / 4, h / 4) + " " + ShownColour(path, 3 * w / 4, h / 4) + " " +
         ShownColour(path, w / 4, 3 * h / 4) + " " + ShownColour(path, 3 * w / 4, 3 * h / 4);
}

// How exiftool found a tag stored: "(20 bytes, string[20])".
std::string StoredAs(const std::string& path, const std::string& hexTag) {
  const std::string dump = Shell("exiftool -v2 " + Quote(path) + " 2>/dev/null");
  const size_t at = dump.find("- Tag " + hexTag + " ");
  if (at == std::string::npos) return std::string();
  const size_t open = dump.find('(', at), close = dump.find(')', at);
  return dump.substr(open, close - open + 1);
}

std::string MergedSideBySide(const std::string& path, const std::string& output) {
  if (!MergePictures({W(path), W(path)}, W(output), false, 0, false, nullptr, nullptr)) return "failed";
  return Identify(output);
}

std::string PngPerMetre(const std::string& png) {
  return Tag(png, "PixelsPerUnitX") + " " + Tag(png, "PixelsPerUnitY");
}

std::string BmpPerMetre(const std::string& bmp) {
  return Tag(bmp, "PixelsPerMeterX") + " " + Tag(bmp, "PixelsPerMeterY");
}

size_t CountExifChunks(const std::string& png) {
  const std::string bytes = ReadFile(png);
  size_t count = 0;
  for (size_t at = 8; at + 12 <= bytes.size();) {
    const auto b = [&](size_t i) { return static_cast<uint32_t>(static_cast<uint8_t>(bytes[at + i])); };
    const uint32_t length = b(0) << 24 | b(1) << 16 | b(2) << 8 | b(3);
    if (bytes.compare(at + 4, 4, "eXIf") == 0) ++count;
    at += 12 + size_t{length};
  }
  return count;
}

// The PNG's eXIf chunk moved behind its pixel data, just before IEND.
void MoveExifChunkBehindThePixels(const std::string& png) {
  const std::string bytes = ReadFile(png);
  std::string head = bytes.substr(0, 8), exif, end;
  for (size_t at = 8; at + 12 <= bytes.size();) {
    const auto b = [&](size_t i) { return static_cast<uint32_t>(static_cast<uint8_t>(bytes[at + i])); };
    const size_t whole = 12 + size_t{b(0) << 24 | b(1) << 16 | b(2) << 8 | b(3)};
    const std::string type = bytes.substr(at + 4, 4);
    if (type == "eXIf") {
      exif = bytes.substr(at, whole);
    } else if (type == "IEND") {
      end = bytes.substr(at, whole);
    } else {
      head += bytes.substr(at, whole);
    }
    at += whole;
  }
  ASSERT_FALSE(exif.empty());
  std::ofstream(png, std::ios::binary | std::ios::trunc) << head << exif << end;
}

// The APP1 "Exif" segment of a JPEG, length field included; empty when none.
std::string ExifSegment(const std::string& jpeg) {
  const std::string bytes = ReadFile(jpeg);
  for (size_t at = 2; at + 4 <= bytes.size() && static_cast<uint8_t>(bytes[at]) == 0xFF;) {
    const auto marker = static_cast<uint8_t>(bytes[at + 1]);
    const size_t length = (static_cast<uint8_t>(bytes[at + 2]) << 8) | static_cast<uint8_t>(bytes[at + 3]);
    if (marker == 0xE1 && bytes.compare(at + 4, 6, std::string("Exif\0\0", 6)) == 0)
      return bytes.substr(at + 2, length);
    if (marker == 0xDA) break;
    at += 2 + length;
  }
  return std::string();
}

}  // namespace

// IFD0 says 240 dpi and Orientation 6, the thumbnail's IFD1 72 dpi and
// Orientation 1 (as exiftool and cameras write it): every tool takes the
// picture's, so it is turned upright, sized and sorted as shown, at 240 dpi.
TEST(MetadataPaths, TheThumbnailsDirectoryDoesNotSpeakForThePicture) {
  Scratch dir;
  const std::string thumb = dir / "thumb.jpg";
  MustRun("convert-im6.q16 -size 16x12 gradient:yellow-navy -quality 80 " + Quote(thumb));
  const std::string source = dir / "side.jpg";
  Quadrants(32, 24, "-quality 95", source);  // 64x48 stored
  Exiftool("-IFD0:XResolution=240 -IFD0:YResolution=240 -IFD0:ResolutionUnit=inches -IFD0:Orientation#=6 "
           "-IFD1:XResolution=72 -IFD1:YResolution=72 -IFD1:ResolutionUnit=inches -IFD1:Orientation#=1 "
           "'-ThumbnailImage<=" + thumb + "'",
           source);
  ASSERT_EQ(Tag(source, "IFD1:Orientation") + " " + Tag(source, "IFD1:XResolution"), "1 72");
  ASSERT_EQ(ShownQuadrants(source, 48, 64), kTurnedBySix);
  const std::string shown = kTurnedBySix;

  const std::string png = ConvertedBeside(source, "png");
  EXPECT_EQ(Identify(png), "48x64;");
  EXPECT_EQ(PngPerMetre(png), "9449 9449");
  EXPECT_EQ(ShownQuadrants(png, 48, 64), shown);
  const std::string bmp = ConvertedBeside(source, "bmp");
  EXPECT_EQ(Identify(bmp), "48x64;");
  EXPECT_EQ(BmpPerMetre(bmp), "9449 9449");
  EXPECT_EQ(MergedSideBySide(source, dir / "merged.png"), "96x64;");
  EXPECT_EQ(N(ResolutionFolder(W(source))), "48_64");
  // 24 wide as shown: stored on its side, 32x24.
  EXPECT_EQ(Identify(ResizedBeside(source, 24)), "32x24;");
}

// A density per centimetre (TIFF) or per metre (PNG, BMP) reaches a PNG or
// BMP result exactly, through a conversion and through a PNG resize.
TEST(MetadataPaths, DensitiesPerMetreReachPngAndBmpResultsExactly) {
  Scratch dir;
  struct Case {
    const char* name;
    const char* density;
    const char* perMetre;
  };
  const Case cases[] = {
      {"a.tif", "-density 118 -units PixelsPerCentimeter", "11800 11800"},
      {"b.tif", "-density 59 -units PixelsPerCentimeter", "5900 5900"},
      {"c.png", "-density 118 -units PixelsPerCentimeter", "11800 11800"},
      {"d.bmp", "-density 59 -units PixelsPerCentimeter", "5900 5900"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string source = dir / c.name;
    MustRun("convert-im6.q16 -size 40x30 gradient:red-blue " + std::string(c.density) + " " + Quote(source));
    const std::string ext = fs::path(source).extension().string();
    if (ext != ".png") {
      EXPECT_EQ(PngPerMetre(ConvertedBeside(source, "png")), c.perMetre);
    }
    if (ext != ".bmp") {
      EXPECT_EQ(BmpPerMetre(ConvertedBeside(source, "bmp")), c.perMetre);
    }
    if (ext == ".png") {
      std::string resized = source;
      for (int round = 0; round < 2; ++round) resized = ResizedBeside(resized, 20 - 4 * round);
      EXPECT_EQ(PngPerMetre(resized), c.perMetre);
    }
  }
}

// A PNG whose eXIf chunk follows its pixel data: orientation, shooting time
// and density still reach every tool, header reads included.
TEST(MetadataPaths, APngsExifChunkAfterItsPixelsReachesEveryTool) {
  Scratch dir;
  const std::string source = dir / "late.png";
  Quadrants(32, 24, "", source);  // 64x48 stored
  Exiftool("-PNG:PixelsPerUnitX= -EXIF:Orientation#=6 '-EXIF:DateTimeOriginal=2024:03:05 06:07:08' "
           "-EXIF:XResolution=200 -EXIF:YResolution=200 -EXIF:ResolutionUnit=inches",
           source);
  MoveExifChunkBehindThePixels(source);
  ASSERT_EQ(Tag(source, "Orientation") + " " + Tag(source, "PixelsPerUnitX"), "6 ");
  const std::string shown = kTurnedBySix;

  int32_t w = 0, h = 0;
  bool turned = false;
  ASSERT_TRUE(ReadShownSize(W(source), w, h, &turned));
  EXPECT_EQ(std::to_string(w) + "x" + std::to_string(h) + (turned ? " turned" : ""), "48x64 turned");
  std::wstring time;
  EXPECT_TRUE(ReadStatedShootingTime(W(source), time));
  EXPECT_EQ(N(time), "2024:03:05 06:07:08");

  const std::string jpg = ConvertedBeside(source, "jpg");
  EXPECT_EQ(Identify(jpg), "48x64;");
  EXPECT_EQ(Tag(jpg, "DateTimeOriginal"), "2024:03:05 06:07:08");
  EXPECT_EQ(ShownQuadrants(jpg, 48, 64), shown);
  const std::string bmp = ConvertedBeside(source, "bmp");
  EXPECT_EQ(Identify(bmp), "48x64;");
  EXPECT_EQ(BmpPerMetre(bmp), "7874 7874");
  EXPECT_EQ(MergedSideBySide(source, dir / "merged.png"), "96x64;");
  EXPECT_EQ(N(ResolutionFolder(W(source))), "48_64");
  // 24 wide as shown; a PNG stays stored on its side with its chunk.
  const std::string resized = ResizedBeside(source, 24);
  EXPECT_EQ(Identify(resized), "32x24;");
  EXPECT_EQ(Tag(resized, "Orientation"), "6");
  EXPECT_EQ(CountExifChunks(resized), 1u);
}

// The eXIf chunk the tools write: one chunk in place of the file's own, and
// pixel sizes beyond a SHORT's range stored as LONGs.
TEST(MetadataPaths, APngGetsOneExifChunkWithSizesThatFit) {
  Scratch dir;
  const std::string from = dir / "from.png";
  MustRun("convert-im6.q16 -size 8x6 xc:red " + Quote(from));
  Exiftool("-EXIF:Artist=Somebody -EXIF:ExifImageWidth=8 -EXIF:ExifImageHeight=6", from);
  ASSERT_EQ(StoredAs(from, "0xa002"), "(2 bytes, int16u[1])");
  std::vector<uint8_t> block;
  ASSERT_EQ(ReadPngExifChunk(W(from), block), PngExifRead::kFound);

  const std::string receiving = dir / "receiving.png";
  MustRun("convert-im6.q16 -size 8x6 xc:blue " + Quote(receiving));
  Exiftool("-EXIF:Artist=Other -EXIF:Orientation#=3", receiving);
  ASSERT_EQ(CountExifChunks(receiving), 1u);
  ASSERT_TRUE(SetExifPixelSize(block, 70000, 65535));
  ASSERT_TRUE(WritePngExifChunk(W(receiving), block));
  EXPECT_EQ(CountExifChunks(receiving), 1u);
  EXPECT_EQ(Tag(receiving, "Artist"), "Somebody");
  EXPECT_EQ(Tag(receiving, "Orientation"), "");
  EXPECT_EQ(Tag(receiving, "ExifImageWidth") + "x" + Tag(receiving, "ExifImageHeight"), "70000x65535");
  EXPECT_EQ(StoredAs(receiving, "0xa002"), "(4 bytes, int32u[1])");
  EXPECT_EQ(StoredAs(receiving, "0xa003"), "(2 bytes, int16u[1])");
  EXPECT_EQ(Shell("exiftool -validate -warning -a -s3 " + Quote(receiving) + " 2>&1"), "OK\n");
}

// DateTimeOriginal is written as EXIF asks: 19 characters and the closing
// NUL, count 20, from a PNG's stated time and from the file's time alike.
TEST(MetadataPaths, TheShootingTimeIsWrittenWithItsClosingZero) {
  Scratch dir;
  const std::string stated = dir / "stated.png";
  MustRun("convert-im6.q16 -size 8x6 xc:red " + Quote(stated));
  Exiftool("'-EXIF:DateTimeOriginal=2024:03:05 06:07:08'", stated);
  const std::string fromStated = ConvertedBeside(stated, "jpg");
  EXPECT_EQ(Tag(fromStated, "DateTimeOriginal"), "2024:03:05 06:07:08");
  EXPECT_EQ(StoredAs(fromStated, "0x9003"), "(20 bytes, string[20])");

  const std::string bare = dir / "bare.jpg";
  MustRun("convert-im6.q16 -size 8x6 xc:red " + Quote(bare));
  MustRun("touch -d '2020-01-02 03:04:05' " + Quote(bare));
  ASSERT_TRUE(WriteShootingTime(W(bare), W(bare)));
  EXPECT_EQ(Tag(bare, "DateTimeOriginal"), "2020:01:02 03:04:05");
  EXPECT_EQ(StoredAs(bare, "0x9003"), "(20 bytes, string[20])");
}

// A clone onto a TIFF or PNG stored on its side: the tool writes the picture
// as it is shown, so the Orientation it gets is 1 whatever the source says;
// the picture shows as the receiving one did.
TEST(MetadataPaths, ACloneOntoAPictureOnItsSideTurnsItOnce) {
  Scratch dir;
  const std::string source = dir / "source.jpg";
  MustRun("convert-im6.q16 -size 40x30 gradient:red-blue -quality 90 " + Quote(source));
  Exiftool("-Make=Pixelwharf -IFD0:Orientation#=6", source);
  for (const char* name : {"tside.tif", "pside.png", "flat.bmp"}) {
    SCOPED_TRACE(name);
    const std::string receiving = dir / name;
    Quadrants(32, 24, "", receiving);  // 64x48 stored
    const bool flat = std::string(name) == "flat.bmp";
    if (!flat) Exiftool(std::string(name) == "tside.tif" ? "-IFD0:Orientation#=6" : "-EXIF:Orientation#=6", receiving);
    const int w = flat ? 64 : 48, h = flat ? 48 : 64;
    const std::string shown = flat ? kAsDrawn : kTurnedBySix;
    ASSERT_TRUE(RunCloneExifSingle(W(source), W(receiving), false, nullptr));
    const std::string result = N(CloneTargetPath(W(receiving)));
    EXPECT_EQ(Tag(result, "Make"), "Pixelwharf");
    EXPECT_EQ(Tag(result, "Orientation"), "1");
    EXPECT_EQ(Identify(result), std::to_string(w) + "x" + std::to_string(h) + ";");
    EXPECT_EQ(ShownQuadrants(result, w, h), shown);
  }
}

// A JPEG made from a JPEG whose thumbnail has an odd length, with the pad
// byte exiftool writes after it: the EXIF block comes out byte for byte.
TEST(MetadataPaths, AJpegFromAJpegKeepsAnOddThumbnailsPadByte) {
  Scratch dir;
  std::string thumb = dir / "thumb.jpg";
  for (int quality = 70; quality < 90; ++quality) {
    MustRun("convert-im6.q16 -size 16x12 gradient:yellow-navy -quality " + std::to_string(quality) + " " +
        Quote(thumb));
    if (ReadFile(thumb).size() % 2 == 1) break;
  }
  ASSERT_EQ(ReadFile(thumb).size() % 2, 1u);
  const std::string source = dir / "odd.jpg";
  MustRun("convert-im6.q16 -size 40x30 gradient:red-blue -quality 90 " + Quote(source));
  Exiftool("-Make=Pixelwharf -Artist=Somebody '-ThumbnailImage<=" + thumb + "'", source);
  const std::string block = ExifSegment(source);
  ASSERT_FALSE(block.empty());
  ASSERT_EQ((block.size() - 8) % 2, 0u);  // "Exif\0\0" and the length field: the TIFF data is even
  EXPECT_EQ(ExifSegment(ConvertedBeside(source, "jpg")), block);
  EXPECT_EQ(ExifSegment(ResizedBeside(source, 40)), block);
}
