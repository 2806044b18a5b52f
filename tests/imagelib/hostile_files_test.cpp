// The replay table of hostile files (tests/data/crashers/): small files that
// once cost seconds, hundreds of megabytes or a wrong answer. Each must end
// quickly with the outcome and the text listed here. Run in every test pass,
// under the sanitizers too; the fuzz replay tests run the same files through
// the fuzz targets' fuller road.
#include <cctype>
#include <string>

#include "TestSupport.h"
#include "imagelib/PxImage.h"

namespace {

enum class Outcome { kFails, kDamaged, kReads };

struct HostileFile {
  const char* path;  // below tests/data/crashers/
  ImageFormatId format;
  Outcome outcome;
  const char* text;  // part of the last-error text (failures and damaged reads)
};

const HostileFile kHostileFiles[] = {
    {"png/oom-text-chunk-claims-637mb.png", kFormatPng, Outcome::kFails, "Read Error"},
    {"png/oom-text-after-image-claims-2gb.png", kFormatPng, Outcome::kFails, "Read Error"},
    {"png/oom-iccp-claims-1gb.png", kFormatPng, Outcome::kFails, "Read Error"},
    {"png/oom-private-chunk-claims-1gb.png", kFormatPng, Outcome::kFails, "Read Error"},
    {"gif/slow-zero-screen-huge-frame.gif", kFormatGif, Outcome::kDamaged, "GIF: image data ends before the last row"},
    {"gif/slow-huge-screen-one-pixel-frame.gif", kFormatGif, Outcome::kReads, ""},
    {"gif/slow-huge-screen-restore-previous-frames.gif", kFormatGif, Outcome::kReads, ""},
    {"gif/slow-fuzzed-frames-on-57599x37008-screen.gif", kFormatGif, Outcome::kDamaged,
     "GIF: image data ends before the last row"},
    {"gif/slow-fuzzed-frame-18759x65496.gif", kFormatGif, Outcome::kDamaged,
     "GIF: image data ends before the last row"},
    {"gif/oom-fuzzed-palette-screen-made-true-colour.gif", kFormatGif, Outcome::kDamaged,
     "GIF: image data ends before the last row"},
    {"gif/slow-fuzzed-true-colour-composition.gif", kFormatGif, Outcome::kDamaged, "GIF: "},
    {"tif/slow-bilevel-65535x32000-turned.tif", kFormatTif, Outcome::kDamaged, "Corrupted TIFF file!"},
};

class Hostile : public testing::TestWithParam<HostileFile> {};

TEST_P(Hostile, EndsQuicklyWithAClearAnswer) {
  const HostileFile& h = GetParam();
  std::vector<uint8_t> bytes = pxtest::ReadBytes(std::string(PW_TEST_DATA) + "/crashers/" + h.path);
  ASSERT_FALSE(bytes.empty()) << h.path;
  // The format's own road; the fuzz replay tests take the same files through
  // the try-every-format road as well.
  for (ImageFormatId id : {h.format}) {
    PxMemFile file(bytes.data(), static_cast<int32_t>(bytes.size()));
    PxImage image;
    const bool ok = image.Decode(&file, id);
    EXPECT_EQ(ok, h.outcome != Outcome::kFails) << image.LastError();
    if (ok) {
      EXPECT_GT(image.Width(), 0u);
      EXPECT_EQ(image.IsDamaged(), h.outcome == Outcome::kDamaged);
    }
    if (h.outcome != Outcome::kReads) {
      EXPECT_NE(std::string(image.LastError()).find(h.text), std::string::npos) << image.LastError();
    }
  }
}

std::string NameOf(const testing::TestParamInfo<HostileFile>& info) {
  std::string name = info.param.path;
  for (char& c : name) {
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  }
  return name;
}

INSTANTIATE_TEST_SUITE_P(Files, Hostile, testing::ValuesIn(kHostileFiles), NameOf);

}  // namespace
