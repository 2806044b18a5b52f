#include "raster/StretchTable.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "raster/RasterFile.h"

namespace pw {
namespace {

constexpr int kStripRows = 1024;
// A strip of a very wide image is read in fewer rows; the rows picked for
// the subsample, and so the histogram, stay the same.
constexpr int64_t kStripByteCap = int64_t(256) << 20;

}  // namespace

std::vector<double> SumStretchCounts(std::vector<StretchHistogram>& histograms) {
  if (histograms.empty()) return {};
  std::vector<double> counts = histograms[0].TakeCounts();
  for (size_t k = 1; k < histograms.size(); ++k) {
    const std::vector<double> more = histograms[k].TakeCounts();
    for (size_t i = 0; i < counts.size() && i < more.size(); ++i) counts[i] += more[i];
  }
  return counts;
}

int StretchStripRows(int64_t rowBytes) {
  return int(std::clamp<int64_t>(kStripByteCap / std::max<int64_t>(rowBytes, 1), 1, kStripRows));
}

StretchHistogram::StretchHistogram(int width, int height, int bands, int limit)
    : width_(std::max(width, 0)), bands_(std::max(bands, 0)) {
  if (width < 1 || height < 1) return;
  g_ = std::min(double(limit) / width, double(limit) / height);
  int n = int(width * g_ + 0.5);
  m_ = int(height * g_ + 0.5);
  if (g_ >= 1) {
    g_ = 1;
    n = width;
    m_ = height;
  }
  // Source column of every subsample column; -1 when it falls outside.
  sourceColumn_.resize(size_t(std::max(n, 0)));
  for (int j = 0; j < n; ++j) {
    const int c = int(j / g_);
    sourceColumn_[size_t(j)] = c < width ? c : -1;
  }
  counts_.assign(size_t(bands_) * kStretchTableSize, 0);
  folded_.assign(size_t(bands_) * kStretchTableSize, 0.0);
}

void StretchHistogram::Room(uint64_t samples) {
  if (sinceFold_ + samples <= UINT32_MAX) {
    sinceFold_ += samples;
    return;
  }
  for (size_t k = 0; k < counts_.size(); ++k) folded_[k] += counts_[k];
  std::fill(counts_.begin(), counts_.end(), 0);
  sinceFold_ = samples;
}

void StretchHistogram::AddStrip(const uint16_t* strip, int stride, int first, int rows,
                                int samplesPerPixel) {
  if (!strip || samplesPerPixel < bands_) return;
  for (; nextRow_ < m_; ++nextRow_) {
    const int sourceRow = int(nextRow_ / g_);
    if (sourceRow >= first + rows) break;
    if (sourceRow < first) continue;
    Room(uint64_t(sourceColumn_.size()) * bands_);
    const uint16_t* row = strip + size_t(sourceRow - first) * size_t(stride) * samplesPerPixel;
    for (const int c : sourceColumn_) {
      if (c < 0) continue;
      const uint16_t* px = row + size_t(c) * samplesPerPixel;
      for (int b = 0; b < bands_; ++b) ++counts_[size_t(b) * 65536 + px[b]];
    }
  }
}

void StretchHistogram::AddEvery(const uint16_t* pixels, size_t count, int samplesPerPixel) {
  if (!pixels || samplesPerPixel < bands_ || bands_ < 1) return;
  constexpr size_t kChunk = size_t(1) << 28;  // pixels between checks for room
  while (count > 0) {
    const size_t n = std::min(count, kChunk);
    Room(uint64_t(n) * bands_);
    if (bands_ == 1 && samplesPerPixel == 1) {
      uint32_t* c = counts_.data();
      for (size_t i = 0; i < n; ++i) ++c[pixels[i]];
    } else {
      for (size_t i = 0; i < n; ++i)
        for (int b = 0; b < bands_; ++b)
          ++counts_[size_t(b) * 65536 + pixels[i * size_t(samplesPerPixel) + size_t(b)]];
    }
    pixels += n * size_t(samplesPerPixel);
    count -= n;
  }
}

std::vector<double> StretchHistogram::TakeCounts() {
  std::vector<double> counts(counts_.size());
  for (size_t k = 0; k < counts.size(); ++k) counts[k] = folded_[k] + counts_[k];
  return counts;
}

bool AccumulateStretchHistogram(RasterFile& source, int limit, std::vector<double>& counts,
                                const std::atomic<bool>* cancel, const ReadProgress* progress) {
  const int width = source.Width();
  const int height = source.Height();
  const int bands = source.BandCount();
  if (!source.IsOpen() || width < 1 || height < 1 || bands < 1 ||
      source.BytesPerSampleOfFile() != 2)
    return false;

  StretchHistogram histogram(width, height, bands, limit);
  const int64_t rowBytes = int64_t(width) * bands * 2;
  const int stripRows = StretchStripRows(rowBytes);
  std::vector<uint16_t> strip(size_t(width) * bands * stripRows);
  // The pass ends early once the grid is complete: the share of the grid's
  // rows counted is how far it has come.
  auto tell = [&](double fraction) {
    return !progress || !*progress || (*progress)(std::clamp(fraction, 0.0, 1.0));
  };
  if (!tell(0)) return false;

  for (int first = 0; first < height && !histogram.Complete(); first += stripRows) {
    if (cancel && cancel->load(std::memory_order_relaxed)) return false;
    const int rows = std::min(stripRows, height - first);
    const ReadProgress readProgress = [&](double f) {
      return tell(histogram.Progress() + f * (double(rows) / height));
    };
    std::fill(strip.begin(), strip.end(), 0);
    if (source.ReadWindow(0, first, width, first + rows, strip.data(), width, stripRows, bands,
                          width, rows, -1, cancel, 0, &readProgress) != 0)
      return false;
    histogram.AddStrip(strip.data(), width, first, rows, bands);
    if (!tell(histogram.Progress())) return false;
  }
  if (cancel && cancel->load(std::memory_order_relaxed)) return false;
  counts = histogram.TakeCounts();
  return true;
}

void StretchTableFromHistogram(const double* counts, uint8_t* table) {
  double total = 0;
  for (int v = 1; v < 65536; ++v) total += counts[v];

  int low = 1;
  int high = 65535;
  if (total > 0) {
    double s = 0.0001;
    for (int v = 1; v <= 65535; ++v) {
      s += counts[v];
      if (s / total > 0.001) {
        low = v;
        break;
      }
    }
    s = 0.0001;
    for (int v = 65534; v >= 1; --v) {
      s += counts[v];
      if (s / total > 0.001) {
        high = v;
        break;
      }
    }
  } else {
    // Nothing but zeros: every ratio would be infinite, so both scans stop
    // at their first value.
    low = 1;
    high = 65534;
  }

  table[0] = 0;
  for (int v = 1; v < low; ++v) table[v] = 1;
  if (high == low) {
    // Every non-zero sample has this one value (a flat colour, or one colour
    // beside black): there is nothing to stretch, so it keeps its own
    // brightness as a byte (v / 257) within the table's 1..254. The bottom
    // of the range would draw pure red as black.
    const long scaled = std::lround(double(low) / 257.0);
    table[low] = uint8_t(std::clamp(scaled, 1L, 254L));
  } else {
    for (int v = low; v <= high; ++v) {
      const double t = std::trunc(double(v - low) * 251.0 / double(high - low) + 2.0);
      table[v] = uint8_t(t > 253 ? 253 : (t < 1 ? 1 : t));
    }
  }
  for (int v = high + 1; v <= 65535; ++v) table[v] = 254;
}

std::vector<uint8_t> StretchTablesFromCounts(const std::vector<double>& counts, int tableBands,
                                             int countedBands) {
  std::vector<uint8_t> tables(size_t(std::max(tableBands, 0)) * kStretchTableSize, 0);
  for (int b = 0; b < countedBands && b < tableBands; ++b)
    StretchTableFromHistogram(counts.data() + size_t(b) * kStretchTableSize,
                              tables.data() + size_t(b) * kStretchTableSize);
  return tables;
}

bool BuildStretchTables(const std::string& path, int limit, std::vector<uint8_t>& tables,
                        const std::atomic<bool>* cancel, const ReadProgress* progress) {
  RasterFile source;
  const bool noStretch = false;
  if (!source.Open(path, noStretch)) return false;
  std::vector<double> counts;
  if (!AccumulateStretchHistogram(source, limit, counts, cancel, progress)) return false;
  const int bands = source.BandCount();
  tables = StretchTablesFromCounts(counts, bands, bands);
  return true;
}

}  // namespace pw
