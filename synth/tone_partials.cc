// The spectrum of tones as the program makes them: how far each partial is
// from its exact multiple of the note (in cents, by the phase it gains
// between the two halves of a long stretch), the strongest component that is
// no partial (in dB below the tone's peak), the share of the energy between
// 200 Hz and 4 kHz, and the largest sample as a share of the peak the volume
// sets. Over 2^20 frames of each tone after its fade-in, Kaiser-windowed.
// Usage: build/larkhorn_partials
#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdio>
#include <string>
#include <vector>

#include "synth/tone.h"

namespace {

using Complex = std::complex<double>;

const int kLog2Frames = 20;
const int64_t kFrames = int64_t{1} << kLog2Frames;
const int64_t kStart = 1 << 16;  // past every fade-in
const float kVolume = 25.0f;
// Sidelobes about 190 dB down; the main lobe within kLobeBins of its centre.
const double kKaiserBeta = 20;
const double kLobeBins = 8;

// The zeroth-order modified Bessel function of the first kind.
double BesselI0(double x) {
  double sum = 1, term = 1;
  for (int k = 1; term > 1e-17 * sum; ++k) {
    term *= (x / (2 * k)) * (x / (2 * k));
    sum += term;
  }
  return sum;
}

std::vector<double> Kaiser(size_t n) {
  std::vector<double> window(n);
  for (size_t i = 0; i < n; ++i) {
    const double r = 2.0 * i / (n - 1) - 1;
    window[i] =
        BesselI0(kKaiserBeta * std::sqrt(1 - r * r)) / BesselI0(kKaiserBeta);
  }
  return window;
}

// In-place radix-2 transform; x.size() a power of two.
void Fft(std::vector<Complex>& x) {
  const size_t n = x.size();
  for (size_t i = 1, j = 0; i < n; ++i) {
    size_t bit = n >> 1;
    for (; j & bit; bit >>= 1) j ^= bit;
    j ^= bit;
    if (i < j) std::swap(x[i], x[j]);
  }
  std::vector<Complex> twiddle(n / 2);
  for (size_t k = 0; k < n / 2; ++k) {
    twiddle[k] = std::polar(1.0, -2 * M_PI * double(k) / double(n));
  }
  for (size_t length = 2; length <= n; length <<= 1) {
    const size_t stride = n / length;
    for (size_t i = 0; i < n; i += length) {
      for (size_t k = 0; k < length / 2; ++k) {
        const Complex t = twiddle[k * stride] * x[i + k + length / 2];
        x[i + k + length / 2] = x[i + k] - t;
        x[i + k] += t;
      }
    }
  }
}

// The windowed spectrum of samples[from, from + n), scaled so that a
// sinusoid of amplitude a shows as a at its frequency.
std::vector<Complex> Spectrum(const std::vector<int32_t>& samples, size_t from,
                              size_t n) {
  const std::vector<double> window = Kaiser(n);
  double gain = 0;
  for (double w : window) gain += w;
  std::vector<Complex> x(n);
  for (size_t i = 0; i < n; ++i) {
    x[i] = samples[from + i] * window[i] * 2 / gain;
  }
  Fft(x);
  x.resize(n / 2);
  return x;
}

struct Case {
  const char* label;
  const char* timbre;
  uint32_t rate;
  std::vector<float> frequencies;
};

void Measure(const Case& c) {
  const Timbre& timbre = *FindTimbre(c.timbre);
  const Tone tone = PlanTone(timbre, c.frequencies, c.rate, kVolume, kEndless);
  std::vector<int32_t> samples(kFrames);
  MakeToneFrames(tone, kStart, kFrames, samples.data());
  const double peak = kVolume / 100 * 8388608;
  int32_t largest = 0;
  for (int32_t s : samples) largest = std::max(largest, std::abs(s));

  // Every partial's frequency, and in how many bins of the full spectrum.
  std::vector<double> partials;
  for (float f : c.frequencies) {
    const size_t count = HarmonicAmplitudes(timbre, f, c.rate).size();
    for (size_t h = 1; h <= count; ++h) partials.push_back(h * double(f));
  }
  const double binHz = double(c.rate) / kFrames;
  const std::vector<Complex> whole = Spectrum(samples, 0, kFrames);
  std::vector<bool> partial(whole.size(), false);
  for (double hz : partials) {
    const double centre = hz / binHz;
    for (double k = std::ceil(centre - kLobeBins); k <= centre + kLobeBins;
         ++k) {
      if (k >= 0 && k < whole.size()) partial[size_t(k)] = true;
    }
  }
  double spur = 0, spurHz = 0, energy = 0, band = 0;
  for (size_t k = 0; k < whole.size(); ++k) {
    const double a = std::abs(whole[k]);
    energy += a * a;
    if (k * binHz >= 200 && k * binHz <= 4000) band += a * a;
    if (!partial[k] && a > spur) {
      spur = a;
      spurHz = k * binHz;
    }
  }

  // A partial at F gains 2 pi F shift / rate between the halves; what it
  // gains beyond that is its error. Only a lone note's partials stand
  // clear of each other.
  double worstCents = NAN;
  if (c.frequencies.size() == 1) {
    const size_t half = kFrames / 2;
    const std::vector<Complex> first = Spectrum(samples, 0, half);
    const std::vector<Complex> second = Spectrum(samples, half, half);
    worstCents = 0;
    for (double hz : partials) {
      const size_t k = size_t(std::lround(hz * half / c.rate));
      const double expected = hz * half / c.rate;
      double turn = std::arg(second[k] / first[k]) / (2 * M_PI) -
                    (expected - std::floor(expected));
      turn -= std::round(turn);
      const double measured = hz + turn * c.rate / half;
      worstCents =
          std::max(worstCents, std::fabs(1200 * std::log2(measured / hz)));
    }
  }
  printf("%-26s %6zu %12.1e %9.1f %9.0f %8.3f %8.5f\n", c.label,
         partials.size(), worstCents, 20 * std::log10(spur / peak), spurHz,
         band / energy, largest / peak);
}

}  // namespace

int main() {
  // Notes as the program stores them, in single precision.
  const float b0 = 30.867706f, e1 = 41.203445f, a1 = 55.0f, e2 = 82.406891f;
  const Case cases[] = {
      {"sine A4 (the sine formula)", "sine", 44100, {440.0f}},
      {"warm A4", "warm", 44100, {440.0f}},
      {"warm C4 E4 G4", "warm", 44100, {261.62558f, 329.62756f, 391.99542f}},
      {"bright B0", "bright", 44100, {b0}},
      {"bright E1", "bright", 44100, {e1}},
      {"bright A1", "bright", 44100, {a1}},
      {"bright E2", "bright", 44100, {e2}},
      {"bright C6", "bright", 44100, {1046.5022f}},
      {"bright B0 at 48000 Hz", "bright", 48000, {b0}},
      {"bright B0 F#1 B1", "bright", 44100, {b0, 46.249302f, 61.735413f}},
      {"sine B0 F#1 B1", "sine", 44100, {b0, 46.249302f, 61.735413f}},
  };
  printf("%-26s %6s %12s %9s %9s %8s %8s\n", "tone", "parts", "worst_cents",
         "spur_dB", "spur_Hz", "200-4k", "largest");
  for (const Case& c : cases) Measure(c);
  return 0;
}
