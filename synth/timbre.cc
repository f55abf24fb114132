#include <cmath>
#include <cstdio>

#include "synth/tone.h"

namespace {

const int kWarmHarmonics = 6;

// bright's band, in Hz.
const double kBodyLow = 300;
const double kBodyHigh = 3000;
// The wave table's cubics keep everything that is no partial more than
// 100 dB down with four segments a cycle of the highest harmonic.
const int kBrightHarmonics = kWaveSegments / 4;

std::string Hz(double hz) {
  char text[32];
  snprintf(text, sizeof text, "%g Hz", hz);
  return text;
}

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
      {"warm",
       "harmonics 1-" + std::to_string(kWarmHarmonics) +
           " at 1/h: partials that beat in every interval",
       kWarmHarmonics, true, WarmAmplitude},
      {"bright",
       "harmonics from " + Hz(kBodyLow) + " to " + Hz(kBodyHigh) +
           ": small speakers play them",
       kBrightHarmonics, true, BrightAmplitude},
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
