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

// Each note's phase is worked out to the last bit at every multiple of
// this many frames and reached from there by one multiplication, so that a
// frame's value does not depend on where the range it is asked for begins.
const int64_t kAnchorFrames = 4096;

// The shortest fade in or out, in seconds: long enough that a speaker does
// not click at the steep start of a rich waveform.
const double kFadeSeconds = 0.01;

// Frames of samples made at a time: small enough to stay in the first-level
// cache, large enough that the per-block set-up does not show.
const int32_t kBlockFrames = 4096;

// Cycle counts up to this are exact in double precision, and so are their
// neighbours: past it a count is left as estimated.
const double kExactCycles = 4503599627370496.0;  // 2^52

// How many whole cycles of period p fit into n frames: the largest k whose
// boundary trunc(k * p) does not exceed n.
int64_t WholeCycles(double p, int64_t n) {
  if (!(p > 0) || std::isinf(p)) return 0;
  double k = std::floor(static_cast<double>(n) / p);
  // n / p may round either way; step to the exact boundary.
  while (k > 0 && k < kExactCycles && std::trunc(k * p) > n) k -= 1;
  while (k < kExactCycles && std::trunc((k + 1) * p) <= n) k += 1;
  return static_cast<int64_t>(k);
}

// The least number of cycles of period p that reach frame from.
double CyclesReaching(double p, int64_t from) {
  double k = std::ceil(static_cast<double>(from) / p);
  while (k > 0 && k < kExactCycles && (k - 1) * p >= from) k -= 1;
  while (k < kExactCycles && k * p < from) k += 1;
  return k;
}

// The first frame after note's last whole cycle.
int64_t EndFrame(const ToneNote& note) {
  if (note.cycles == kEndless) return INT64_MAX;
  if (note.cycles <= 0) return 0;  // also when the period is not finite
  const double end = std::trunc(note.cycles * note.period);
  return end < 9e18 ? static_cast<int64_t>(end) : INT64_MAX;
}

// Truncates toward zero, saturating at the ends of the 32-bit range.
int32_t SaturateToInt32(double v) {
  if (v != v) return 0;
  if (v >= 2147483647.0) return INT32_MAX;
  if (v <= -2147483648.0) return INT32_MIN;
  return static_cast<int32_t>(v);
}

// volume percent of full scale, held in single precision as the sine's
// amplitude always was. Beyond single precision the samples saturate
// anyway; bounding it keeps the narrowing defined (NaN passes: silence).
float Amplitude(float volume) {
  double scaled = volume / 100.0 * kFullScale;
  if (scaled > FLT_MAX) scaled = FLT_MAX;
  if (scaled < -FLT_MAX) scaled = -FLT_MAX;
  return static_cast<float>(scaled);
}

double Cubic(const double* c, double t) {
  return ((c[3] * t + c[2]) * t + c[1]) * t + c[0];
}

// The largest magnitude of the piecewise cubic wave over every fraction of
// every segment: at the segments' ends and where the slope is zero.
double LargestMagnitude(const std::vector<double>& wave) {
  double largest = 0;
  for (size_t s = 0; s < wave.size(); s += 4) {
    const double* c = &wave[s];
    double candidates[4] = {0, 1, 0, 0};
    int count = 2;
    // The slope c1 + 2 c2 t + 3 c3 t^2, its roots in the stable form.
    const double a = 3 * c[3], b = 2 * c[2];
    const double discriminant = b * b - 4 * a * c[1];
    if (discriminant >= 0) {
      const double q = -0.5 * (b + std::copysign(std::sqrt(discriminant), b));
      if (a != 0) candidates[count++] = q / a;
      if (q != 0) candidates[count++] = c[1] / q;
    }
    for (int i = 0; i < count; ++i) {
      const double t = candidates[i];
      if (t >= 0 && t <= 1) largest = std::max(largest, std::fabs(Cubic(c, t)));
    }
  }
  return largest;
}

// One cycle of the sum of amplitudes[h - 1] * sin(h * phase), as cubics
// through its exact values and slopes at the segment boundaries, scaled so
// that its largest magnitude is peak.
std::vector<double> Wave(const std::vector<double>& amplitudes, double peak) {
  if (amplitudes.empty()) return {};
  const int n = kWaveSegments;
  std::vector<double> sine(n), cosine(n);
  for (int j = 0; j < n; ++j) {
    sine[j] = std::sin(kTwoPi * j / n);
    cosine[j] = std::cos(kTwoPi * j / n);
  }
  std::vector<double> value(n + 1, 0), slope(n + 1, 0);
  for (int k = 0; k < n; ++k) {
    for (size_t h = 1; h <= amplitudes.size(); ++h) {
      const size_t j = h * k % n;
      value[k] += amplitudes[h - 1] * sine[j];
      slope[k] += amplitudes[h - 1] * h * cosine[j];
    }
  }
  value[n] = value[0];
  slope[n] = slope[0];
  const double segment = kTwoPi / n;  // slopes per segment, not per radian
  std::vector<double> wave(4 * n);
  for (int k = 0; k < n; ++k) {
    const double v0 = value[k], v1 = value[k + 1];
    const double s0 = slope[k] * segment, s1 = slope[k + 1] * segment;
    wave[4 * k] = v0;
    wave[4 * k + 1] = s0;
    wave[4 * k + 2] = 3 * (v1 - v0) - 2 * s0 - s1;
    wave[4 * k + 3] = 2 * (v0 - v1) + s0 + s1;
  }
  const double largest = LargestMagnitude(wave);
  const double scale = largest > 0 ? peak / largest : 0;
  for (double& c : wave) c *= scale;
  return wave;
}

// frame * cyclesPerFrame less its whole cycles, to the last bit.
double CyclePhase(int64_t frame, double cyclesPerFrame) {
  const double i = static_cast<double>(frame);
  const double product = i * cyclesPerFrame;
  const double error = std::fma(i, cyclesPerFrame, -product);
  const double phase = (product - std::floor(product)) + error;
  return phase - std::floor(phase);
}

// The level of note at frame: a raised cosine from silence over its first
// fadeCycles cycles and to silence at the end of its last.
double FadeGain(const ToneNote& note, int64_t frame) {
  const double length = note.fadeCycles * note.period;
  const double i = static_cast<double>(frame);
  double gain = 1;
  if (i < length) gain *= 0.5 - 0.5 * std::cos(M_PI * i / length);
  if (note.cycles != kEndless) {
    const double toEnd = note.cycles * note.period - i;
    if (toEnd < length) gain *= 0.5 - 0.5 * std::cos(M_PI * toEnd / length);
  }
  return gain;
}

// Adds frames [from, to) of note, all within the anchor block that starts
// at frame block, to sum (whose first entry is frame from); faded, each at
// its fade gain.
void AddWave(const ToneNote& note, int64_t block, int64_t from, int64_t to,
             bool faded, double* sum) {
  const double anchor = CyclePhase(block, note.cyclesPerFrame);
  const double step = note.cyclesPerFrame;
  const double* wave = note.wave.data();
  for (int64_t i = from; i < to; ++i) {
    double phase = anchor + static_cast<double>(i - block) * step;
    phase -= static_cast<double>(static_cast<int64_t>(phase));
    // Exact, with a power-of-two segment count: below kWaveSegments.
    const double position = phase * kWaveSegments;
    const int segment = static_cast<int>(position);
    double value = Cubic(wave + 4 * segment, position - segment);
    if (faded) value *= FadeGain(note, i);
    sum[i - from] += value;
  }
}

// Adds frames [first, first + count) of note, within one anchor block, to
// sum: the frames of its fades apart from the rest.
void AddNote(const ToneNote& note, int64_t first, int32_t count, double* sum) {
  const int64_t end = std::min(EndFrame(note), first + count);
  if (note.wave.empty() || end <= first) return;
  const int64_t block = first / kAnchorFrames * kAnchorFrames;
  int64_t steadyFrom = first, steadyTo = end;
  if (note.fadeCycles > 0) {
    const double length = note.fadeCycles * note.period;
    const double fadeInEnd = std::ceil(length);
    if (first < fadeInEnd) {
      steadyFrom = static_cast<int64_t>(std::min<double>(fadeInEnd, end));
    }
    if (note.cycles != kEndless) {
      const double fadeOutFrom = std::floor(note.cycles * note.period - length);
      if (end > fadeOutFrom) {
        steadyTo = static_cast<int64_t>(std::max<double>(fadeOutFrom, first));
      }
    }
    steadyTo = std::max(steadyTo, steadyFrom);
    AddWave(note, block, first, steadyFrom, true, sum);
    AddWave(note, block, steadyTo, end, true, sum + (steadyTo - first));
  }
  AddWave(note, block, steadyFrom, steadyTo, false, sum + (steadyFrom - first));
}

// MakeToneFrames of a lone sine, by the sine formula.
void MakeSineFrames(const Tone& tone, int64_t first, int32_t count,
                    int32_t* samples) {
  const int64_t stop = first + count;
  const int64_t sineEnd =
      std::min(std::max(EndFrame(tone.notes[0]), first), stop);
  const double step = tone.sineStep;
  const double a = tone.sineAmplitude;
  if (std::fabs(a) < 2147483648.0) {
    // |sin| <= 1 keeps every product inside the 32-bit range: no checks.
    for (int64_t i = first; i < sineEnd; ++i) {
      samples[i - first] =
          static_cast<int32_t>(std::sin(static_cast<double>(i) * step) * a);
    }
  } else {
    for (int64_t i = first; i < sineEnd; ++i) {
      samples[i - first] =
          SaturateToInt32(std::sin(static_cast<double>(i) * step) * a);
    }
  }
  std::fill(samples + (sineEnd - first), samples + count, 0);
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

void MakePackedTone(uint8_t* packed, const Tone& tone, int32_t n) {
  int32_t block[kBlockFrames];
  int32_t count = 0;
  for (int32_t first = 0; first < n; first += count) {
    count = std::min(kBlockFrames, n - first);
    MakeToneFrames(tone, first, count, block);
    NUM24_TO_CHAR(block, packed + 3 * static_cast<size_t>(first), count);
  }
}

Tone PlanTone(const Timbre& timbre, const std::vector<float>& frequencies,
              uint32_t rate, float volume, int64_t frames) {
  Tone tone;
  const float amplitude = Amplitude(volume);
  const double nyquist = rate * 0.5;
  // A timbre of the fundamental alone is the sine.
  tone.sineFormula =
      frequencies.size() == 1 && timbre.harmonics == 1 && !timbre.fades;
  // Each note that sounds the same share, so that their sum never passes
  // the peak; one with no harmonic below the highest partial is silent.
  std::vector<std::vector<double>> harmonics;
  size_t sounding = 0;
  for (float frequency : frequencies) {
    harmonics.push_back(
        HarmonicAmplitudes(timbre, std::fabs(double(frequency)), rate));
    if (!harmonics.back().empty()) ++sounding;
  }
  for (size_t i = 0; i < frequencies.size(); ++i) {
    double f = frequencies[i];
    if (f < 0) f = -f;
    if (f > nyquist) f = nyquist;
    ToneNote note;
    note.period = rate / f;
    note.cyclesPerFrame = f / rate;
    const bool sounds = !std::isnan(f) && rate > 0;
    note.cycles = !sounds              ? 0
                  : frames == kEndless ? kEndless
                                       : WholeCycles(note.period, frames);
    note.fadeCycles = 0;
    if (sounds && timbre.fades) {
      note.fadeCycles = std::max<int64_t>(
          1, static_cast<int64_t>(std::ceil(kFadeSeconds * f)));
    }
    if (tone.sineFormula) {
      tone.sineStep = static_cast<float>(f * kTwoPi / rate);
      tone.sineAmplitude = amplitude;
    } else {
      note.wave = Wave(harmonics[i], amplitude / static_cast<double>(sounding));
    }
    tone.notes.push_back(std::move(note));
  }
  return tone;
}

void EndTone(Tone& tone, int64_t from) {
  from = std::max<int64_t>(from, 0);
  for (ToneNote& note : tone.notes) {
    if (EndFrame(note) <= from) continue;
    // The fade-out, which ends with the last cycle, starts at or after
    // from; a frame too far off for 64 bits leaves the note sounding.
    const double cycles = CyclesReaching(note.period, from) +
                          static_cast<double>(note.fadeCycles);
    if (cycles < 9e18) {
      note.cycles = std::min(note.cycles, static_cast<int64_t>(cycles));
    }
  }
}

void MakeToneFrames(const Tone& tone, int64_t first, int32_t count,
                    int32_t* samples) {
  if (first < 0 || count <= 0 || first > INT64_MAX - count) return;
  if (tone.sineFormula) {
    MakeSineFrames(tone, first, count, samples);
    return;
  }
  double sum[kAnchorFrames];
  int32_t chunk = 0;
  for (int32_t done = 0; done < count; done += chunk) {
    // Within one anchor block, which holds no more than a block of frames.
    const int64_t frame = first + done;
    const int64_t blockLeft = kAnchorFrames - frame % kAnchorFrames;
    chunk = static_cast<int32_t>(std::min<int64_t>(count - done, blockLeft));
    std::fill(sum, sum + chunk, 0.0);
    for (const ToneNote& note : tone.notes) AddNote(note, frame, chunk, sum);
    for (int32_t j = 0; j < chunk; ++j) {
      samples[done + j] = SaturateToInt32(sum[j]);
    }
  }
}

void MakeTone(int32_t* samples, float frequency, uint32_t rate, int32_t n,
              float volume) {
  if (n <= 0) return;
  const Tone tone = PlanTone(Timbres().front(), {frequency}, rate, volume, n);
  MakeToneFrames(tone, 0, n, samples);
}

int64_t ToneEnd(const Tone& tone) {
  int64_t end = 0;
  for (const ToneNote& note : tone.notes) end = std::max(end, EndFrame(note));
  return end;
}

namespace {

// Stream frames from here on are the next tone's.
int64_t SwitchFrame(const HeldTone& held) {
  const int64_t end = ToneEnd(held.tone);
  return end > INT64_MAX - held.start ? INT64_MAX : held.start + end;
}

// Lets the next tone sound once the stream has reached frame.
void FollowOn(HeldTone& held, int64_t frame) {
  if (!held.switching) return;
  const int64_t switchFrame = SwitchFrame(held);
  if (frame < switchFrame) return;
  held.previous = std::move(held.tone);
  held.previousStart = held.start;
  held.tone = std::move(held.next);
  held.start = switchFrame;
  held.switching = false;
}

}  // namespace

void SwitchHeldTone(HeldTone& held, Tone next, int64_t from) {
  FollowOn(held, from);
  if (!held.switching) EndTone(held.tone, from - held.start);
  held.next = std::move(next);
  held.switching = true;
}

void MakeHeldFrames(HeldTone& held, int64_t first, int32_t count,
                    int32_t* samples) {
  int32_t done = 0;
  while (done < count) {
    const int64_t frame = first + done;
    FollowOn(held, frame);
    int32_t chunk = count - done;
    if (frame < held.start) {
      chunk =
          static_cast<int32_t>(std::min<int64_t>(chunk, held.start - frame));
      MakeToneFrames(held.previous, frame - held.previousStart, chunk,
                     samples + done);
      done += chunk;
      continue;
    }
    if (held.switching) {
      chunk = static_cast<int32_t>(
          std::min<int64_t>(chunk, SwitchFrame(held) - frame));
    }
    MakeToneFrames(held.tone, frame - held.start, chunk, samples + done);
    done += chunk;
  }
}
