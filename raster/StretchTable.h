// The 16-bit to 8-bit stretch: per band, a 65536-entry table built from a
// histogram with 0.1 % cut off at both ends.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace pw {

class RasterFile;

// Histogram of every band over a subsample grid of at most `limit` pixels a
// side (the whole image when it is smaller), read from `source` (opened
// without stretch, 2-byte samples) in 1024-row strips from the bottom.
// `counts` gets band count x 65536 counters. False when a read fails.
bool AccumulateStretchHistogram(RasterFile& source, int limit, std::vector<double>& counts);

// One band's table from its 65536 counters: 0 for 0, 1 below the low cut,
// 2..253 between the cuts, 254 above the high cut. A band whose non-zero
// samples share one value maps that value to 1.
void StretchTableFromHistogram(const double* counts, uint8_t* table);

// Opens `path` a second time without stretch and builds band count x 65536
// table bytes over the subsample grid capped at `limit`. `counts`, when
// given, keeps the histogram.
bool BuildStretchTables(const std::string& path, int limit, std::vector<uint8_t>& tables,
                        std::vector<double>* counts = nullptr);

}  // namespace pw
