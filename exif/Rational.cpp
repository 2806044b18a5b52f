// Turning a stored quotient back into a fraction for the writer: a
// continued-fraction search that alternates between the two neighbouring
// approximations until the relative error is within the tolerance.
#include <cmath>
#include <cstdint>
#include <utility>

#include "exif/TagDirectory.h"

namespace {
constexpr double kMin = 3e-10;
// The numerator must fit in 32 bits; larger values cannot be expressed.
constexpr double kMax = 4294967295.0;
// Each round at least doubles the denominators, so 64 rounds exhaust the
// 32-bit range; the cap only guards against NaN-like arithmetic surprises.
constexpr int kMaxRounds = 64;
}  // namespace

ExifResult DoubleToRational(double x, uint32_t* numerator, uint32_t* denominator, double tolerance) {
  if (!(tolerance >= 0) || std::isnan(x) || (x != 0 && !(x >= kMin && x <= kMax))) {
    // A defined pair for values that have no fraction here: 0/1 below the
    // range (and for negatives and NaN), the largest value above it.
    *numerator = (x > kMax) ? 0xFFFFFFFFu : 0;
    *denominator = 1;
    return kExifNoFraction;
  }
  uint64_t q = 1;
  uint64_t p = static_cast<uint64_t>(std::trunc(x));
  if (static_cast<double>(q) * x == static_cast<double>(p)) {
    *numerator = static_cast<uint32_t>(p);
    *denominator = 1;
    return kExifOk;
  }
  uint64_t p2 = p + 1, q2 = 1;
  for (int round = 0; round < kMaxRounds; ++round) {
    const double dq = static_cast<double>(q), dp = static_cast<double>(p);
    double l = (static_cast<double>(p2) - static_cast<double>(q2) * x) / (dq * x - dp);
    if (l <= 1) {
      std::swap(p, p2);
      std::swap(q, q2);
    }
    const double err = std::fabs(1 - static_cast<double>(p) / (static_cast<double>(q) * x));
    if (err <= tolerance) break;
    double t = 10;
    while (t * err < 1 && t < 1e300) t *= 10;
    if (static_cast<int64_t>(t * err + 0.5) / t <= tolerance) break;
    if (l < 1) l = 1 / l;
    if (!(l < 4294967296.0)) break;  // the next terms could not fit in 32 bits
    const uint64_t n = static_cast<uint64_t>(std::trunc(l));
    const uint64_t np2 = p2 + n * p, nq2 = q2 + n * q;
    const uint64_t np = p + np2, nq = q + nq2;
    if (np > 0xFFFFFFFFu || nq > 0xFFFFFFFFu) break;  // keep the best pair that fits
    p2 = np2;
    q2 = nq2;
    p = np;
    q = nq;
    if (static_cast<double>(q) * x == static_cast<double>(p)) break;
  }
  if (q == 0 || p > 0xFFFFFFFFu || q > 0xFFFFFFFFu) {
    *numerator = static_cast<uint32_t>(std::llround(x));
    *denominator = 1;
    return kExifOk;
  }
  *numerator = static_cast<uint32_t>(p);
  *denominator = static_cast<uint32_t>(q);
  return kExifOk;
}
