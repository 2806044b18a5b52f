// Small statistics the benchmarks share.
#pragma once

#include <algorithm>
#include <cstddef>
#include <vector>

namespace pw::bench {

// The middle of the runs (the mean of the two middle ones for an even
// count); 0 when there were none.
inline double Median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  const size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

}  // namespace pw::bench
