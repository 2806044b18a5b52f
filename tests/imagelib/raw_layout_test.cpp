// DNG storage layouts end to end: strips, tiles, one tile over the whole
// picture, tables named by the scan header, long linearization tables; and
// damaged files, which load marked damaged (or are refused) with the RAW
// decoder's own text, never as plain success and never from wrong bytes.
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <functional>
#include <sstream>
#include <fstream>
#include <string>

#include "imagelib/FormatTable.h"
#include "imagelib/PxImage.h"
#include "imagelib/PxImageRAW.h"
#include "platform/text.h"
#include "tests/imagelib/raw_dng_writer.h"
#include "tests/imagelib/raw_scratch.h"

namespace fs = std::filesystem;
using dngtest::DngPieces;
using dngtest::DngSpec;
using dngtest::WriteDng;

namespace {

using rawfiles::At;
using rawfiles::Rgb;
using rawfiles::Scratch;

// The decoder's file, counting what the decoder asks of it: every byte it
// is handed and every request it makes (reads, seeks, position and end
// queries). A decoder that reads the same data again and again, or keeps
// asking a file that has ended, shows in these counts on any machine.
class CountingFile : public PxFile {
 public:
  explicit CountingFile(PxFile* inner) : inner_(inner) {}
  bool CloseFile() override { return inner_->CloseFile(); }
  size_t ReadBlock(void* buffer, size_t size, size_t count) override {
    ++requests;
    const size_t got = inner_->ReadBlock(buffer, size, count);
    bytes += uint64_t(got) * size;
    return got;
  }
  size_t WriteBlock(const void* buffer, size_t size, size_t count) override {
    return inner_->WriteBlock(buffer, size, count);
  }
  bool SeekTo(int32_t offset, int origin) override { return ++requests, inner_->SeekTo(offset, origin); }
  int32_t Position() override { return ++requests, inner_->Position(); }
  int32_t TotalSize() override { return ++requests, inner_->TotalSize(); }
  bool FlushFile() override { return inner_->FlushFile(); }
  bool AtEnd() override { return ++requests, inner_->AtEnd(); }
  int32_t ErrorState() override { return ++requests, inner_->ErrorState(); }
  int32_t GetByte() override {
    ++requests;
    const int32_t c = inner_->GetByte();
    if (c >= 0) ++bytes;
    return c;
  }
  char* ReadLine(char* buffer, int32_t maximum) override {
    ++requests;
    char* line = inner_->ReadLine(buffer, maximum);
    if (line) bytes += strlen(line);
    return line;
  }
  int32_t ScanFormatted(const char* format, void* output) override {
    ++requests;
    return inner_->ScanFormatted(format, output);
  }
  uint64_t bytes = 0, requests = 0;

 private:
  PxFile* inner_;
};

struct Decoded {
  bool ok = false, damaged = false;
  std::string error;
  uint32_t width = 0, height = 0;
  std::vector<Rgb> pixels;
  uint64_t file_size = 0, bytes_read = 0, requests = 0;
  Rgb at(uint32_t x, uint32_t y) const { return pixels[size_t(y) * width + x]; }
};

// Through the RAW format itself, so the text is the RAW decoder's own.
Decoded Decode(const Scratch& s, const std::vector<uint8_t>& bytes, uint32_t quality = 0, uint32_t threads = 0) {
  const std::string path = s.Write("f.dng", bytes);
  PxIOFile disk;
  if (!disk.Open(path.c_str(), "rb")) return {};
  CountingFile file(&disk);
  PxImageRAW img;
  img.info.codecOptions[FormatIndexFromId(kFormatRaw)] = quality | threads << 8;
  Decoded d;
  d.ok = img.Decode(&file);
  d.file_size = bytes.size();
  d.bytes_read = file.bytes;
  d.requests = file.requests;
  d.damaged = img.IsDamaged();
  d.error = img.LastError();
  if (d.ok) {
    d.width = img.Width();
    d.height = img.Height();
    for (uint32_t y = 0; y < d.height; ++y)
      for (uint32_t x = 0; x < d.width; ++x) d.pixels.push_back(At(img, x, y));
  }
  return d;
}

// What a decode may ask of its file: the loaders read each byte of a file
// a few times at most (the header while identifying, the pieces once more),
// so eight times the file's size, and as many requests, is far above what an
// intact file costs and far below a decoder that reads pieces again and
// again or keeps reading a file that has ended.
void ExpectBoundedReading(const Decoded& d) {
  const uint64_t bound = 8 * d.file_size + 0x10000;
  EXPECT_LE(d.bytes_read, bound) << "bytes read from a file of " << d.file_size;
  EXPECT_LE(d.requests, bound) << "requests to a file of " << d.file_size;
}

// A decode in a child process: its address space limited (in the normal
// build; the sanitizers reserve more than any limit would allow), its peak
// memory its own. A decode that runs away is stopped by the system at a
// processor-time limit hundreds of times what the test's files cost, so a
// regression fails the test rather than hanging it; what a decode cost is
// judged by its counts.
constexpr rlim_t kChildCpuSeconds = 120;
constexpr long kChildPeakMiB = 512;
struct ChildDecode {
  bool ended = false;
  Decoded decoded;
  long peak_mib = 0;
};
ChildDecode DecodeInChild(const Scratch& s, const std::vector<uint8_t>& bytes) {
  ChildDecode result;
  int fds[2];
  if (pipe(fds) != 0) return result;
  const pid_t child = fork();
  if (child < 0) return result;
  if (child == 0) {
    close(fds[0]);
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
    const rlim_t limit = rlim_t(2) << 30;
    const rlimit as{limit, limit};
    setrlimit(RLIMIT_AS, &as);
#endif
    const rlimit cpu{kChildCpuSeconds, kChildCpuSeconds};
    setrlimit(RLIMIT_CPU, &cpu);
    const Decoded d = Decode(s, bytes);
    std::string report = std::to_string(d.ok) + " " + std::to_string(d.damaged) + " " +
                         std::to_string(d.file_size) + " " + std::to_string(d.bytes_read) + " " +
                         std::to_string(d.requests) + " " + d.error;
    for (size_t done = 0; done < report.size();) {
      const ssize_t n = write(fds[1], report.data() + done, report.size() - done);
      if (n <= 0) break;
      done += size_t(n);
    }
    _exit(0);
  }
  close(fds[1]);
  std::string report;
  for (;;) {
    char chunk[512];
    const ssize_t n = read(fds[0], chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;  // the child has written all and ended, or was stopped
    report.append(chunk, size_t(n));
  }
  close(fds[0]);
  int status = 0;
  rusage usage{};
  if (wait4(child, &status, 0, &usage) != child) return result;
  result.peak_mib = usage.ru_maxrss / 1024;  // kilobytes on Linux
  if (!WIFEXITED(status) || report.empty()) return result;
  std::istringstream in(report);
  int ok = 0, damaged = 0;
  in >> ok >> damaged >> result.decoded.file_size >> result.decoded.bytes_read >> result.decoded.requests;
  in.get();
  std::getline(in, result.decoded.error, '\0');
  result.decoded.ok = ok != 0;
  result.decoded.damaged = damaged != 0;
  result.ended = true;
  return result;
}

// The scene's patches: grey, red and green side by side on top.
void ExpectPatches(const Decoded& d) {
  const Rgb grey = d.at(10, 12), red = d.at(32, 12), green = d.at(53, 12);
  EXPECT_NEAR(grey.r, grey.g, 2);
  EXPECT_NEAR(grey.b, grey.g, 2);
  EXPECT_GT(grey.g, 100);
  EXPECT_GT(red.r, red.g + 60);
  EXPECT_GT(red.r, red.b + 60);
  EXPECT_GT(green.g, green.r + 60);
  EXPECT_GT(green.g, green.b + 60);
}

void PutU32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = uint8_t(v >> (8 * i));
}

// The file position of the list of piece offsets (the first two entries in
// a row), or of the one offset.
size_t OffsetListAt(const std::vector<uint8_t>& b, const DngPieces& p) {
  for (size_t i = 8; i + 8 <= b.size(); i += 2) {
    uint32_t v0 = 0, v1 = 0;
    memcpy(&v0, &b[i], 4);
    memcpy(&v1, &b[i + 4], 4);
    if (v0 == p.offsets[0] && (p.offsets.size() == 1 || v1 == p.offsets[1])) return i;
  }
  return 0;
}

}  // namespace

TEST(RawLayout, EveryLayoutGivesTheSamePicture) {
  Scratch s;
  struct Layout {
    const char* name;
    bool lossless;
    int strip_rows, tile_width, tile_height;
    bool reversed, swap_tables;
    int linear_entries;
    int packed_bits = 16;
  };
  const Layout layouts[] = {
      {"lossless one strip", true, 0, 0, 0, false, false, 0},
      {"uncompressed strips of 7 rows", false, 7, 0, 0, false, false, 0},
      {"lossless strips of 7 rows", true, 7, 0, 0, false, false, 0},
      {"lossless strips of 16 rows, stored backwards", true, 16, 0, 0, true, false, 0},
      {"uncompressed tiles 16x16", false, 0, 16, 16, false, false, 0},
      {"uncompressed tiles 24x20 reaching past the picture", false, 0, 24, 20, false, false, 0},
      {"uncompressed tiles stored backwards", false, 0, 32, 16, true, false, 0},
      {"lossless tiles 16x16", true, 0, 16, 16, false, false, 0},
      {"lossless tiles 24x20 reaching past the picture", true, 0, 24, 20, false, false, 0},
      {"lossless one tile over the picture", true, 0, 64, 48, false, false, 0},
      {"lossless one tile larger than the picture", true, 0, 80, 64, false, false, 0},
      {"uncompressed one tile over the picture", false, 0, 64, 48, false, false, 0},
      {"lossless, swapped table selectors", true, 0, 0, 0, false, true, 0},
      {"lossless tiles, swapped table selectors", true, 0, 32, 16, false, true, 0},
      {"uncompressed, linearization table of 16384", false, 0, 0, 0, false, false, 16384},
      {"lossless tiles, linearization table of 65536", true, 0, 16, 16, false, false, 65536},
      {"uncompressed 12-bit strips of 7 rows", false, 7, 0, 0, false, false, 0, 12},
      {"uncompressed 12-bit tiles 24x20", false, 0, 24, 20, false, false, 0, 12},
      {"uncompressed 14-bit tiles 16x16", false, 0, 16, 16, false, false, 0, 14},
  };
  for (uint32_t quality = 0; quality < 4; ++quality) {
    const Decoded reference = Decode(s, WriteDng(DngSpec{}), quality);
    ASSERT_TRUE(reference.ok) << reference.error;
    for (const Layout& l : layouts) {
      SCOPED_TRACE(testing::Message() << l.name << ", quality " << quality);
      DngSpec spec;
      spec.lossless = l.lossless;
      spec.strip_rows = l.strip_rows;
      spec.tile_width = l.tile_width;
      spec.tile_height = l.tile_height;
      spec.swap_tables = l.swap_tables;
      spec.linear_entries = l.linear_entries;
      spec.packed_bits = l.packed_bits;
      if (l.reversed) {
        const int across = l.tile_width ? (64 + l.tile_width - 1) / l.tile_width : 1;
        const int down = l.tile_width ? (48 + l.tile_height - 1) / l.tile_height : (48 + l.strip_rows - 1) / l.strip_rows;
        for (int i = across * down; i-- > 0;) spec.piece_order.push_back(size_t(i));
      }
      const Decoded d = Decode(s, WriteDng(spec), quality);
      ASSERT_TRUE(d.ok) << d.error;
      EXPECT_FALSE(d.damaged) << d.error;
      ASSERT_EQ(d.width, 64u);
      ASSERT_EQ(d.height, 48u);
      ExpectPatches(d);
      EXPECT_TRUE(d.pixels == reference.pixels);
    }
  }
}

// A lossless-JPEG tile is filled row after row from its frame's values, so
// one frame line may carry several tile rows: 64 lines of 128 x 2 or of
// 256 x 1 for a 128 x 128 tile are as legal as 128 lines of 64 x 2.
TEST(RawLayout, EveryLegalLosslessTileShapeGivesTheSamePicture) {
  Scratch s;
  DngSpec usual;
  usual.width = 256;
  usual.height = 192;  // the lower tiles reach past the picture
  usual.lossless = true;
  usual.tile_width = usual.tile_height = 128;
  const Decoded reference = Decode(s, WriteDng(usual));
  ASSERT_TRUE(reference.ok) << reference.error;
  ASSERT_FALSE(reference.damaged) << reference.error;
  ASSERT_EQ(reference.width, 256u);
  struct Shape {
    int components, rows_per_line;
  };
  for (const Shape shape : {Shape{1, 1}, Shape{2, 2}, Shape{1, 2}}) {
    SCOPED_TRACE(testing::Message() << "lines of " << 128 * shape.rows_per_line / shape.components << " x "
                                    << shape.components);
    DngSpec spec = usual;
    spec.ljpeg_components = shape.components;
    spec.ljpeg_rows_per_line = shape.rows_per_line;
    for (uint32_t threads : {1u, 4u}) {
      const Decoded d = Decode(s, WriteDng(spec), 0, threads);
      ASSERT_TRUE(d.ok) << d.error;
      EXPECT_FALSE(d.damaged) << d.error;
      EXPECT_TRUE(d.pixels == reference.pixels);
    }
  }
}

TEST(RawLayout, DamagedFilesLoadDamagedOrAreRefused) {
  Scratch s;
  // Strips of 8 rows or 16x16 tiles: pieces 0.. on the top.
  DngSpec strips;
  strips.white_corner = true;
  strips.lossless = true;
  strips.strip_rows = 8;
  DngSpec tiles = strips;
  tiles.strip_rows = 0;
  tiles.tile_width = tiles.tile_height = 16;
  DngSpec plain_tiles = tiles;
  plain_tiles.lossless = false;

  DngSpec intact;
  intact.white_corner = true;
  const Decoded reference = Decode(s, WriteDng(intact));
  ASSERT_TRUE(reference.ok);

  enum Outcome { kRefused, kDamaged };
  struct Case {
    const char* name;
    const DngSpec* spec;
    std::function<void(std::vector<uint8_t>&, const DngPieces&)> harm;
    Outcome outcome;
    const char* text;  // start of the expected last-error text
    int bad_top, bad_bottom;  // rows that may differ from the reference (-1: none kept)
    int bad_left = 0, bad_right = 64;  // and the columns
  };
  const Case cases[] = {
      {"cut where the data begins", &strips,
       [](std::vector<uint8_t>& b, const DngPieces& p) { b.resize(p.offsets[0]); }, kRefused,
       "PxImageRAW: Unexpected end of file", -1, -1},
      {"cut half-way through the strips", &strips,
       [](std::vector<uint8_t>& b, const DngPieces& p) { b.resize(p.offsets[3] + p.lengths[3] / 2); },
       kDamaged, "PxImageRAW: Unexpected end of file", 24, 48},
      {"uncompressed tiles cut half-way", &plain_tiles,
       [](std::vector<uint8_t>& b, const DngPieces& p) { b.resize(p.offsets[6] + 100); }, kDamaged,
       "PxImageRAW: Unexpected end of file", 14, 48},
      {"a zeroed tile", &tiles,
       [](std::vector<uint8_t>& b, const DngPieces& p) { memset(&b[p.offsets[5]], 0, p.lengths[5]); },
       kDamaged, "PxImageRAW: Corrupt data near 0x", 14, 34, 14, 34},
      {"a noisy tile", &tiles,
       [](std::vector<uint8_t>& b, const DngPieces& p) {
         uint32_t x = 12345;
         for (uint32_t i = p.lengths[5] / 3; i < p.lengths[5] - 2; ++i) {
           x = x * 1103515245u + 12345u;
           b[p.offsets[5] + i] = uint8_t(x >> 16);
         }
       },
       kDamaged, "PxImageRAW: ", 14, 34, 14, 34},
      {"a missing lossless-JPEG start", &strips,
       [](std::vector<uint8_t>& b, const DngPieces& p) { b[p.offsets[2] + 1] = 0x00; }, kDamaged,
       "PxImageRAW: Corrupt data near 0x", 14, 26},
      {"a strip offset beyond the file", &strips,
       [](std::vector<uint8_t>& b, const DngPieces& p) { PutU32(b, OffsetListAt(b, p) + 4 * 4, 0x7FFFFF00u); },
       kDamaged, "PxImageRAW: ", 30, 42},
      {"a tile offset beyond the file", &plain_tiles,
       [](std::vector<uint8_t>& b, const DngPieces& p) { PutU32(b, OffsetListAt(b, p) + 4 * 1, uint32_t(b.size()) + 10); },
       kDamaged, "PxImageRAW: ", 0, 18, 14, 34},
      {"a data error half-way through the one strip", &strips,
       [](std::vector<uint8_t>& b, const DngPieces& p) { b[p.offsets[4] + p.lengths[4] / 2] = 0xFF, b[p.offsets[4] + p.lengths[4] / 2 + 1] = 0xC4; },
       kDamaged, "PxImageRAW: Corrupt data near 0x", 30, 42},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DngPieces where;
    std::vector<uint8_t> bytes = WriteDng(*c.spec, &where);
    c.harm(bytes, where);
    const Decoded d = Decode(s, bytes);
    ExpectBoundedReading(d);
    EXPECT_EQ(d.error.rfind(c.text, 0), 0u) << d.error;
    if (c.outcome == kRefused) {
      EXPECT_FALSE(d.ok);
      continue;
    }
    ASSERT_TRUE(d.ok) << d.error;
    EXPECT_TRUE(d.damaged);
    // Everything away from the harmed piece is the intact picture.
    int differing = 0;
    for (uint32_t y = 0; y < 48; ++y)
      for (uint32_t x = 0; x < 64; ++x) {
        const bool harmed = int(y) >= c.bad_top && int(y) < c.bad_bottom && int(x) >= c.bad_left && int(x) < c.bad_right;
        if (harmed) continue;
        if (!(d.at(x, y) == reference.at(x, y)) && (differing++ % 50) == 0)
          ADD_FAILURE() << "differs at " << x << "," << y << ": " << d.at(x, y).r << " " << d.at(x, y).g << " "
                        << d.at(x, y).b << " for " << reference.at(x, y).r << " " << reference.at(x, y).g << " "
                        << reference.at(x, y).b;
      }
    EXPECT_EQ(differing, 0);
  }
}

TEST(RawLayout, AFileFarTooShortForItsPictureIsRefused) {
  Scratch s;
  // 76 bytes with a camera's signature announce a 3072 x 2047 picture.
  std::vector<uint8_t> bytes(76, 0);
  memcpy(&bytes[25], "ARECOYK", 7);
  const Decoded d = Decode(s, bytes);
  EXPECT_FALSE(d.ok && !d.damaged);
  EXPECT_FALSE(d.ok) << "a picture made of nothing";
  EXPECT_EQ(d.error, "PxImageRAW: Unexpected end of file");
  ExpectBoundedReading(d);
}

TEST(RawLayout, LosslessStripsOfOtherTiffRawFiles) {
  // A camera's own TIFF-based file (not DNG) with lossless JPEG in strips
  // decodes like the same data in one strip.
  Scratch s;
  std::vector<uint16_t> samples(64 * 48);
  for (int r = 0; r < 48; ++r)
    for (int c = 0; c < 64; ++c) samples[size_t(r) * 64 + c] = uint16_t(dngtest::SceneValue(r, c, (r & 1) + (c & 1), 48, 64));
  auto write = [&](int strip_rows) {
    std::vector<std::vector<uint8_t>> pieces;
    for (int top = 0; top < 48; top += strip_rows) {
      rawtest::LjpegParams p;
      p.width = 32;
      p.height = std::min(strip_rows, 48 - top);
      p.components = 2;
      p.precision = 12;
      std::vector<uint16_t> part(samples.begin() + top * 64, samples.begin() + (top + p.height) * 64);
      pieces.push_back(rawtest::EncodeLjpeg(p, part));
    }
    rawtest::TiffWriter writer(true);
    rawtest::TiffIfd& ifd = writer.NewIfd(true);
    ifd.Ascii(271, "Pixelwharf").Ascii(272, "Strip Camera");
    ifd.Image(64, 48, 12, 7, 32803, 1).Long(278, {uint32_t(strip_rows)});
    ifd.Pieces(false, pieces);
    return writer.Bytes();
  };
  const Decoded whole = Decode(s, write(48));
  ASSERT_TRUE(whole.ok) << whole.error;
  EXPECT_FALSE(whole.damaged);
  const Decoded strips = Decode(s, write(8));
  ASSERT_TRUE(strips.ok) << strips.error;
  EXPECT_FALSE(strips.damaged) << strips.error;
  EXPECT_TRUE(strips.pixels == whole.pixels);
  // The rows of the last strip are not black.
  EXPECT_GT(strips.at(60, 46).g, 100);
}

TEST(RawLayout, TileListsThatOverlapCostNoMoreThanTheFile) {
  // A 400 x 400 frame of 2 x 2 tiles: 40000 offsets, all naming one
  // small tile, each claiming either the tile's length or far more. The
  // tile carries 4 KiB after its end, so a loader that read it once per
  // offset would read some 500 times the file's size.
  Scratch s;
  rawtest::LjpegParams p;
  p.width = 1;
  p.height = 2;
  p.components = 2;
  std::vector<uint8_t> tile = rawtest::EncodeLjpeg(p, {1000, 2000, 3000, 4000});
  tile.resize(tile.size() + 4096, 0);
  for (uint32_t claimed : {uint32_t(tile.size()), 0x7FFFFFFFu}) {
    SCOPED_TRACE(claimed);
    const uint32_t count = 200 * 200;
    uint32_t tile_at = 0;
    auto build = [&] {
      rawtest::TiffWriter writer(true);
      rawtest::TiffIfd& ifd = writer.NewIfd(true);
      ifd.Long(254, {0}).Image(400, 400, 16, 7, 32803, 1);
      ifd.Ascii(271, "Pixelwharf").Ascii(272, "Bayer Test");
      ifd.Short(33421, {2, 2}).Bytes(33422, 1, {0, 1, 1, 2});
      ifd.Bytes(50706, 1, {1, 1, 0, 0}).Long(50717, {4095});
      ifd.Long(322, {2}).Long(323, {2});
      ifd.Blob(324, 4, 4 * size_t(count), [&](uint32_t) {
        rawtest::ByteSink b(true);
        for (uint32_t i = 0; i < count; ++i) b.U32(tile_at);
        return b.bytes;
      }, count);
      ifd.Blob(325, 4, 4 * size_t(count), [&](uint32_t) {
        rawtest::ByteSink b(true);
        for (uint32_t i = 0; i < count; ++i) b.U32(claimed);
        return b.bytes;
      }, count);
      ifd.Blob(300, 7, tile.size(), [&](uint32_t at) {  // before the lists: the rest of the file is long
        tile_at = at;
        return tile;
      });
      return writer.Bytes();
    };
    build();  // learns where the tile lands
    const std::vector<uint8_t> bytes = build();
    ASSERT_EQ(bytes[tile_at + 1], 0xD8);
    // In a child process with bounded memory and time: a regression fails
    // this test, not the machine.
    const ChildDecode c = DecodeInChild(s, bytes);
    ASSERT_TRUE(c.ended) << "the decode did not end within " << kChildCpuSeconds << " s of processor time";
    const Decoded& d = c.decoded;
    ExpectBoundedReading(d);
    EXPECT_LE(c.peak_mib, kChildPeakMiB);
    EXPECT_TRUE(!d.ok || d.damaged) << d.error;
    EXPECT_EQ(d.error.rfind("PxImageRAW: ", 0), 0u) << d.error;
    EXPECT_EQ(d.error.find("Out of memory"), std::string::npos) << d.error;
  }
}

// The file position of the entry of `tag` with `type` and `count` (the
// writer's files are little-endian), 0 when there is none.
size_t EntryAt(const std::vector<uint8_t>& b, uint16_t tag, uint16_t type, uint32_t count) {
  const uint8_t want[8] = {uint8_t(tag), uint8_t(tag >> 8), uint8_t(type), uint8_t(type >> 8),
                           uint8_t(count), uint8_t(count >> 8), uint8_t(count >> 16), uint8_t(count >> 24)};
  for (size_t i = 8; i + 12 <= b.size(); i += 2)
    if (memcmp(&b[i], want, 8) == 0) return i;
  return 0;
}

// A value that runs past the end of the file is never taken as read (at the
// end every 16-bit value reads 0xFFFF): the tag is left unused and the
// picture is damaged. The cases put a value's start 8 bytes before the end,
// as a file cut inside the directory's value area leaves it.
TEST(RawLayout, ValuesPastTheEndOfTheFileAreNotUsed) {
  Scratch s;
  DngSpec linear;
  linear.linear_entries = 16384;
  DngSpec coloured;  // ColorMatrix1 and AsShotNeutral in the first directory
  struct Case {
    const char* name;
    const DngSpec* spec;
    uint16_t tag, type;
    uint32_t count;
  };
  const Case cases[] = {
      {"LinearizationTable", &linear, 50712, 3, 16384},
      {"ColorMatrix1", &coloured, 50721, 10, 9},
      {"AsShotNeutral", &coloured, 50728, 5, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<uint8_t> bytes = WriteDng(*c.spec);
    const Decoded intact = Decode(s, bytes);
    ASSERT_TRUE(intact.ok && !intact.damaged) << intact.error;
    const size_t entry = EntryAt(bytes, c.tag, c.type, c.count);
    ASSERT_NE(entry, 0u);
    PutU32(bytes, entry + 8, uint32_t(bytes.size() - 8));
    const Decoded d = Decode(s, bytes);
    EXPECT_TRUE(!d.ok || d.damaged) << d.error;
    EXPECT_EQ(d.error, "PxImageRAW: Unexpected end of file");
  }
}

// DNG counts its CFA pattern from the active area: the same picture stored
// one column further in, behind an ActiveArea that starts at column 1, is the
// same picture. An odd first column must not turn red into green.
TEST(RawLayout, AnActiveAreaAtAnOddColumnKeepsTheColours) {
  Scratch s;
  for (bool lossless : {true, false}) {
    SCOPED_TRACE(lossless ? "lossless" : "uncompressed");
    DngSpec even;
    even.lossless = lossless;
    even.strip_rows = 16;
    even.active_left = 0;
    DngSpec odd = even;
    odd.active_left = 1;
    const Decoded a = Decode(s, WriteDng(even)), b = Decode(s, WriteDng(odd));
    ASSERT_TRUE(a.ok && !a.damaged) << a.error;
    ASSERT_TRUE(b.ok && !b.damaged) << b.error;
    ASSERT_EQ(b.width, 64u);
    ExpectPatches(a);
    ExpectPatches(b);
    EXPECT_TRUE(a.pixels == b.pixels);
  }
}

// A lossless-JPEG piece whose frame ends before the piece's last row is
// damaged; the rows it holds are the picture's.
TEST(RawLayout, APieceThatEndsBeforeItsLastRowIsDamaged) {
  Scratch s;
  DngSpec spec;
  spec.lossless = true;
  spec.white_corner = true;
  spec.tile_width = spec.tile_height = 16;
  const Decoded whole = Decode(s, WriteDng(spec));
  ASSERT_TRUE(whole.ok && !whole.damaged) << whole.error;
  DngSpec shorter = spec;
  shorter.ljpeg_short_lines = 4;  // each tile's frame stops after 12 of its 16 rows
  const Decoded d = Decode(s, WriteDng(shorter));
  ASSERT_TRUE(d.ok) << d.error;
  EXPECT_TRUE(d.damaged);
  EXPECT_EQ(d.error.rfind("PxImageRAW: Corrupt data near 0x", 0), 0u) << d.error;
  // Away from the missing rows (and the colours their neighbours borrow),
  // the picture is the intact one.
  for (uint32_t y : {2u, 3u, 4u, 5u, 8u, 9u})
    for (uint32_t x = 8; x < 56; ++x) EXPECT_TRUE(d.at(x, y) == whole.at(x, y)) << x << "," << y;
}

// Without a WhiteLevel tag, the white level is the last entry of the
// LinearizationTable: the picture is the one the tag naming that entry gives.
TEST(RawLayout, WhiteLevelFromTheLastLinearizationEntry) {
  Scratch s;
  for (int entries : {4096, 16384}) {
    SCOPED_TRACE(entries);
    DngSpec tagged;
    tagged.linear_entries = entries;  // its last entry is 4095
    DngSpec untagged = tagged;
    untagged.white_tag = false;
    const Decoded a = Decode(s, WriteDng(tagged)), b = Decode(s, WriteDng(untagged));
    ASSERT_TRUE(a.ok && !a.damaged) << a.error;
    ASSERT_TRUE(b.ok && !b.damaged) << b.error;
    ExpectPatches(b);
    EXPECT_TRUE(a.pixels == b.pixels);
  }
}

// The RAW quality option picks the demosaicer: 2 pattern-pixel grouping,
// 3 adaptive homogeneity. Told apart by their borders: the homogeneity
// method fills rows 0-4 from their neighbours' mean, pattern grouping only
// rows 0-2. On bars that are the same in every row, row 4 then equals row 6
// (same place in the pattern, both inside) with grouping and differs beside
// the bars' edges with the homogeneity method.
TEST(RawLayout, QualityChoosesTheDemosaicer) {
  Scratch s;
  DngSpec bars;
  bars.vertical_bars = true;
  const std::vector<uint8_t> bytes = WriteDng(bars);
  auto rows_differ = [](const Decoded& d, uint32_t a, uint32_t b) {
    int differing = 0;
    for (uint32_t x = 8; x < 56; ++x) differing += !(d.at(x, a) == d.at(x, b));
    return differing;
  };
  const Decoded grouping = Decode(s, bytes, 2), homogeneity = Decode(s, bytes, 3);
  ASSERT_TRUE(grouping.ok && homogeneity.ok);
  EXPECT_EQ(rows_differ(grouping, 4, 6), 0);
  EXPECT_GT(rows_differ(homogeneity, 4, 6), 8);
  EXPECT_EQ(rows_differ(homogeneity, 6, 8), 0);  // inside, both rows alike
}

TEST(RawLayout, TilesOnSeveralThreadsGiveWhatOneThreadGives) {
  // The same pictures and the same first message, intact or damaged.
  Scratch s;
  DngSpec spec;
  spec.lossless = true;
  spec.white_corner = true;
  spec.tile_width = spec.tile_height = 16;
  DngPieces where;
  const std::vector<uint8_t> intact = WriteDng(spec, &where);
  std::vector<uint8_t> damaged = intact;
  memset(&damaged[where.offsets[2]], 0, where.lengths[2]);           // no start
  damaged[where.offsets[7] + where.lengths[7] / 2] = 0xFF;            // a marker half-way
  damaged[where.offsets[7] + where.lengths[7] / 2 + 1] = 0xC4;
  damaged.resize(where.offsets[10] + where.lengths[10] / 2);          // cut
  for (const std::vector<uint8_t>* bytes : {&intact, static_cast<const std::vector<uint8_t>*>(&damaged)}) {
    const Decoded one = Decode(s, *bytes, 0, 1);
    ASSERT_TRUE(one.ok) << one.error;
    EXPECT_EQ(one.damaged, bytes == &damaged);
    for (uint32_t threads : {2u, 8u, 0u}) {
      SCOPED_TRACE(threads);
      const Decoded many = Decode(s, *bytes, 0, threads);
      ASSERT_TRUE(many.ok) << many.error;
      EXPECT_EQ(many.damaged, one.damaged);
      EXPECT_EQ(many.error, one.error);
      EXPECT_TRUE(many.pixels == one.pixels);
    }
  }
}
