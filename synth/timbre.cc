#include <cmath>

#include "synth/tone.h"

namespace {

// No partial at or above this share of the rate, where a device's
// anti-alias filter would start to take it away.
const double kHighestPartialShare = 0.45;

// bright's band, in Hz.
const double kBodyLow = 300;
const double kBodyHigh = 3000;

double SineAmplitude(int harmonic, double) { return harmonic == 1 ? 1 : 0; }

double WarmAmplitude(int harmonic, double) { return 1.0 / harmonic; }

// A sawtooth's harmonics (1/h) through a band fixed in Hz whose edges fall
// 12 dB an octave, second-order Butterworth high- and low-pass, as an
// instrument's body shapes a string's: whatever the note, most of the
// energy lies where small speakers play it.
double BrightAmplitude(int harmonic, double hz) {
  const double f = harmonic * hz;
  const double low = f * f / std::sqrt(std::pow(f, 4) + std::pow(kBodyLow, 4));
  const double high = 1 / std::sqrt(1 + std::pow(f / kBodyHigh, 4));
  return low * high / harmonic;
}

}  // namespace

const std::vector<Timbre>& Timbres() {
  static const std::vector<Timbre> timbres = {
      {"sine", "a pure sine", 1, false, SineAmplitude},
      {"warm", "harmonics 1-6 at 1/h: partials that beat in every interval", 6,
       true, WarmAmplitude},
      {"bright", "harmonics from 300 Hz to 3 kHz: small speakers play them",
       512, true, BrightAmplitude},
  };
  return timbres;
}

const Timbre* FindTimbre(const std::string& name) {
  for (const Timbre& timbre : Timbres()) {
    if (name == timbre.name) return &timbre;
  }
  return nullptr;
}

std::string TimbreNames() {
  std::string names;
  for (const Timbre& timbre : Timbres()) {
    if (!names.empty()) names += ", ";
    names += timbre.name;
  }
  return names;
}

std::vector<double> HarmonicAmplitudes(const Timbre& timbre, double hz,
                                       uint32_t rate) {
  std::vector<double> amplitudes;
  if (!(hz > 0)) return amplitudes;
  for (int h = 1; h <= timbre.harmonics && h * hz < kHighestPartialShare * rate;
       ++h) {
    amplitudes.push_back(timbre.amplitude(h, hz));
  }
  return amplitudes;
}
