#include "testing/test_signal.h"

#include <cmath>

namespace {

const double kTwoPi = 6.283185307179586;

// A well-mixed 64-bit value of x (splitmix64's finaliser), so that noise
// and phases depend on the frame and seed alone.
uint64_t Mix(uint64_t x) {
  x += 0x9e3779b97f4a7c15ull;
  x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ull;
  x = (x ^ (x >> 27)) * 0x94d049bb133111ebull;
  return x ^ (x >> 31);
}

// Uniform in (0, 1).
double Uniform(uint64_t bits) {
  return (double(bits >> 11) + 0.5) / 9007199254740992.0;
}

// A standard normal value for frame of seed (Box-Muller).
double Gaussian(uint32_t seed, uint64_t frame) {
  const uint64_t key = Mix(frame ^ (uint64_t(seed) << 40));
  const double radius = std::sqrt(-2 * std::log(Uniform(key)));
  return radius * std::cos(kTwoPi * Uniform(Mix(key)));
}

double Power(const TestSignal& signal) {
  double power = 0;
  for (double amplitude : signal.partials) power += amplitude * amplitude / 2;
  return power;
}

}  // namespace

double PartialFrequency(const TestSignal& signal, int n) {
  const double b = signal.inharmonicity;
  return n * signal.frequency * std::sqrt((1 + b * n * n) / (1 + b));
}

void RenderTestSignal(const TestSignal& signal, uint32_t rate, uint64_t first,
                      size_t count, float* out) {
  const double power = Power(signal);
  const double noise = signal.noiseDb < -200
                           ? 0
                           : std::sqrt(power > 0 ? power : 1) *
                                 std::pow(10, signal.noiseDb / 20);
  const double onset = signal.onsetSeconds * rate;
  const double attack = signal.attackSeconds * rate;
  for (size_t i = 0; i < count; ++i) {
    const uint64_t frame = first + i;
    double value = noise > 0 ? noise * Gaussian(signal.seed, frame) : 0;
    const double since = double(frame) - onset;
    for (size_t p = 0; since >= 0 && p < signal.partials.size(); ++p) {
      if (signal.partials[p] == 0) continue;
      const int n = int(p) + 1;
      double amplitude = signal.partials[p];
      if (signal.decaySeconds > 0) {
        // Higher partials lose energy faster, as on a real string.
        const double tau = signal.decaySeconds / (1 + 0.5 * (n - 1));
        amplitude *= std::exp(-since / (tau * rate));
      }
      if (since < attack) {
        amplitude *= 0.5 - 0.5 * std::cos(kTwoPi / 2 * since / attack);
      }
      const double cycles = PartialFrequency(signal, n) * since / rate;
      const double phase =
          kTwoPi * Uniform(Mix(uint64_t(signal.seed) * 131 + uint64_t(n)));
      value +=
          amplitude * std::sin(kTwoPi * (cycles - std::floor(cycles)) + phase);
    }
    out[i] = static_cast<float>(value);
  }
}

std::vector<float> TestSignalFrames(const TestSignal& signal, uint32_t rate,
                                    size_t count) {
  std::vector<float> frames(count);
  RenderTestSignal(signal, rate, 0, count, frames.data());
  return frames;
}
