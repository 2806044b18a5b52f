// The 16-bit to 8-bit stretch: per band, a 65536-entry table built from a
// histogram with 0.1 % cut off at both ends.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "raster/RasterFile.h"

namespace pw {

// Counts 2-byte samples for the stretch, one 65536-entry histogram per band,
// either over a subsample grid of full-resolution strips or over every
// pixel of an image already reduced.
class StretchHistogram {
 public:
  // The grid: a factor g = min(limit / width, limit / height), at most 1;
  // subsample pixel (j, i) is source pixel (trunc(j / g), trunc(i / g)).
  StretchHistogram(int width, int height, int bands, int limit);

  // Full-resolution rows first .. first + rows - 1 (from the bottom) of a
  // bottom-up strip `stride` pixels wide whose pixels hold
  // `samplesPerPixel` samples, the counted bands first. Strips come bottom
  // first, each once.
  void AddStrip(const uint16_t* strip, int stride, int first, int rows, int samplesPerPixel);

  // Every pixel of `count` pixels.
  void AddEvery(const uint16_t* pixels, size_t count, int samplesPerPixel);

  int Bands() const { return bands_; }
  // Every row of the grid has been counted (later strips add nothing).
  bool Complete() const { return nextRow_ >= m_; }
  // Share of the grid's rows counted so far (0 to 1).
  double Progress() const { return m_ > 0 ? double(nextRow_) / m_ : 1.0; }
  // bands x 65536 counters.
  std::vector<double> TakeCounts();

 private:
  int width_, bands_;
  double g_ = 1;
  int m_ = 0;          // subsample rows
  int nextRow_ = 0;    // next subsample row to count
  std::vector<int> sourceColumn_;
  // Exact counters; folded into doubles before any of them could wrap
  // (no counter exceeds the samples added since the last fold).
  std::vector<uint32_t> counts_;
  std::vector<double> folded_;
  uint64_t sinceFold_ = 0;
  void Room(uint64_t samples);
};

// The counters of several histograms over one image, summed: each took a
// part of the image's rows (bands x 65536 counters).
std::vector<double> SumStretchCounts(std::vector<StretchHistogram>& histograms);

// Rows of a full-width strip `rowBytes` bytes a row: 1024, fewer for a very
// wide image so one strip never takes more than 256 MiB.
int StretchStripRows(int64_t rowBytes);

// Histogram of every band over a subsample grid of at most `limit` pixels a
// side (the whole image when it is smaller), read from `source` (opened
// without stretch, 2-byte samples) in 1024-row strips from the bottom.
// `counts` gets band count x 65536 counters. False when a read fails or the
// pass was stopped: `cancel` is looked at before every strip and during its
// read, and `progress` hears how far the pass has come (from 0, after every
// strip and during its read; false from it stops the pass too).
bool AccumulateStretchHistogram(RasterFile& source, int limit, std::vector<double>& counts,
                                const std::atomic<bool>* cancel = nullptr,
                                const ReadProgress* progress = nullptr);

// One band's table from its 65536 counters: 0 for 0, 1 below the low cut,
// 2..253 between the cuts, 254 above the high cut. When both cuts fall on
// one value (a band whose non-zero samples share it) that value maps to its
// own byte brightness, round(v / 257) kept within 1..254.
void StretchTableFromHistogram(const double* counts, uint8_t* table);

// `tableBands` x 65536 table bytes, the first `countedBands` of them from
// `counts` (countedBands x 65536 counters); the rest stay zero.
std::vector<uint8_t> StretchTablesFromCounts(const std::vector<double>& counts, int tableBands,
                                             int countedBands);

// Opens `path` a second time without stretch and builds band count x 65536
// table bytes over the subsample grid capped at `limit`, under the same
// `cancel` and `progress` as AccumulateStretchHistogram.
bool BuildStretchTables(const std::string& path, int limit, std::vector<uint8_t>& tables,
                        const std::atomic<bool>* cancel = nullptr,
                        const ReadProgress* progress = nullptr);

}  // namespace pw
