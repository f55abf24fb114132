#include "synth/tone.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <new>

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

// The low 24 bits of v after clamping it to the signed 24-bit range.
uint32_t Clamp24(int32_t v) {
  return static_cast<uint32_t>(std::min(std::max(v, -8388608), 8388607)) &
         0xFFFFFF;
}

// Stores word least significant byte first.
void StoreWord(uint8_t* out, uint32_t word) {
#if __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  word = __builtin_bswap32(word);
#endif
  std::memcpy(out, &word, sizeof word);
}

// Maps the whole pages of a fresh buffer in one call rather than one page
// fault each as they are first written, in huge pages where the kernel
// allows: a long tone spent a sizeable part of its synthesis in those faults
// and, packing into the buffer, in TLB misses. Kernels without these simply
// fault.
void MapPagesNow(void* buffer, size_t bytes) {
#ifdef MADV_POPULATE_WRITE
  const uintptr_t page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
  const uintptr_t first = reinterpret_cast<uintptr_t>(buffer);
  const uintptr_t start = (first + page - 1) / page * page;
  const uintptr_t end = (first + bytes) / page * page;
  if (end > start) {
    void* pages = reinterpret_cast<void*>(start);
#ifdef MADV_HUGEPAGE
    madvise(pages, end - start, MADV_HUGEPAGE);
#endif
    madvise(pages, end - start, MADV_POPULATE_WRITE);
  }
#else
  (void)buffer;
  (void)bytes;
#endif
}

}  // namespace

void MakeTone(int32_t* samples, float frequency, uint32_t rate, int32_t n,
              float volume, int32_t first, int32_t count) {
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
  if (first < 0 || count <= 0 || int64_t{first} + count > n) return;

  // The whole cycles always end at the same frame of the tone, wherever
  // this range lies in it.
  int32_t whole = 0;
  if (!std::isnan(f) && rate > 0) whole = WholeCycleFrames(period, n);
  const int32_t end = first + count;
  const int32_t sineEnd = std::min(std::max(whole, first), end);
  const double step = omega;
  const double a = amplitude;
  if (std::fabs(a) < 2147483648.0) {
    // |sin| <= 1 keeps every product inside the 32-bit range: no checks.
    for (int32_t i = first; i < sineEnd; ++i) {
      samples[i - first] = static_cast<int32_t>(std::sin(i * step) * a);
    }
  } else {
    for (int32_t i = first; i < sineEnd; ++i) {
      samples[i - first] = SaturateToInt32(std::sin(i * step) * a);
    }
  }
  std::fill(samples + (sineEnd - first), samples + count, 0);
}

void NUM24_TO_CHAR(const int32_t* samples, uint8_t* packed, int32_t n) {
  if (n <= 0) return;
  // Each frame is stored as a whole 32-bit word whose top byte the next
  // frame overwrites; the last frame, which has no successor, bytewise.
  for (int32_t i = 0; i < n - 1; ++i) {
    StoreWord(packed + 3 * static_cast<size_t>(i), Clamp24(samples[i]));
  }
  const uint32_t last = Clamp24(samples[n - 1]);
  uint8_t* out = packed + 3 * static_cast<size_t>(n - 1);
  out[0] = static_cast<uint8_t>(last);
  out[1] = static_cast<uint8_t>(last >> 8);
  out[2] = static_cast<uint8_t>(last >> 16);
}

PackedBuffer NewPackedBuffer(int32_t n) {
  const size_t bytes = 3 * static_cast<size_t>(std::max(n, 0));
  // Plain new[] leaves the memory unfilled: the tone writes every byte.
  PackedBuffer packed(new (std::nothrow) uint8_t[bytes]);
  if (packed) MapPagesNow(packed.get(), bytes);
  return packed;
}

void MakePackedTone(uint8_t* packed, float frequency, uint32_t rate, int32_t n,
                    float volume) {
  // 16 KB of samples: small enough to stay in the first-level cache between
  // computing and packing them, large enough that the per-block set-up
  // does not show.
  const int32_t kBlockFrames = 4096;
  int32_t block[kBlockFrames];
  int32_t count = 0;
  for (int32_t first = 0; first < n; first += count) {
    count = std::min(kBlockFrames, n - first);
    MakeTone(block, frequency, rate, n, volume, first, count);
    NUM24_TO_CHAR(block, packed + 3 * static_cast<size_t>(first), count);
  }
}
