#include "synth/tone.h"

#include <cfloat>
#include <cmath>

namespace {

const double kTwoPi = 6.283185307179586;
const double kFullScale = 8388608.0;  // 2^23

// Number of leading samples that hold whole cycles of period p: the largest
// trunc(k * p) that does not exceed n.
int32_t WholeCycleFrames(double p, int32_t n) {
  if (!(p > 0) || std::isinf(p)) return 0;
  double k = std::floor(n / p);
  // n / p may round either way; step to the exact boundary.
  while (k > 0 && std::trunc(k * p) > n) k -= 1;
  while (std::trunc((k + 1) * p) <= n) k += 1;
  return static_cast<int32_t>(std::trunc(k * p));
}

// Truncates toward zero, saturating at the ends of the 32-bit range.
int32_t SaturateToInt32(double v) {
  if (v != v) return 0;
  if (v >= 2147483647.0) return INT32_MAX;
  if (v <= -2147483648.0) return INT32_MIN;
  return static_cast<int32_t>(v);
}

}  // namespace

void MakeTone(int32_t* samples, float frequency, uint32_t rate, int32_t n,
              float volume) {
  // Beyond single precision the samples saturate anyway; bound the amplitude
  // so that narrowing it stays defined (NaN passes through: silence).
  double scaled = volume / 100.0 * kFullScale;
  if (scaled > FLT_MAX) scaled = FLT_MAX;
  if (scaled < -FLT_MAX) scaled = -FLT_MAX;
  const float amplitude = static_cast<float>(scaled);
  double f = frequency;
  if (f < 0) f = -f;
  const double nyquist = rate * 0.5;
  if (f > nyquist) f = nyquist;
  const double period = rate / f;
  const float omega = static_cast<float>(f * kTwoPi / rate);
  if (n <= 0) return;

  int32_t count = 0;
  if (!std::isnan(f) && rate > 0) count = WholeCycleFrames(period, n);
  for (int32_t i = 0; i < count; ++i) {
    samples[i] = SaturateToInt32(std::sin(static_cast<double>(i) * omega) *
                                 static_cast<double>(amplitude));
  }
  for (int32_t i = count; i < n; ++i) samples[i] = 0;
}

void NUM24_TO_CHAR(const int32_t* samples, uint8_t* packed, int32_t n) {
  for (int32_t i = 0; i < n; ++i) {
    int32_t v = samples[i];
    if (v > 8388607) v = 8388607;
    if (v < -8388608) v = -8388608;
    const uint32_t bits = static_cast<uint32_t>(v);
    uint8_t* out = packed + 3 * static_cast<size_t>(i);
    out[0] = static_cast<uint8_t>(bits);
    out[1] = static_cast<uint8_t>(bits >> 8);
    out[2] = static_cast<uint8_t>(bits >> 16);
  }
}
