// The pitch detector over a table of generated signals from B0 to C8:
// steady tones (pure, with harmonics, with the fundamental missing, in
// white noise 20 dB below) and plucked notes (sharp attack, exponential
// decay, slightly inharmonic partials, in a room's noise 40 dB below the
// attack), each after a short silence. Each signal is heard with its onset
// at three places between two readings (96, 46 and 6 ms before the next)
// and with two attacks (sharp, and a 10 ms rise), each with its own
// partials' phases. For each it prints, over those six, the median and
// worst error in cents over the readings from half a second after the
// onset (a plucked note's while it stands above the noise), wrong notes
// (readings 50 cents or more off, or a pitch where there is none), dashes
// where there is a note, the longest time from the onset to the first
// reading and the worst first reading's error, how far a plucked note's
// readings wander, and the CPU time per second of sound. Then silence and
// noise alone, which should give no reading.
// A benchmark: it prints figures, it does not pass or fail.
#include <time.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "listen/listen.h"
#include "testing/test_signal.h"

namespace {

const uint32_t kRate = 44100;
// Readings come every tenth of a second of sound, as the program takes
// them; the onsets fall at several places between two.
const size_t kReadingFrames = kRate / 10;
const double kOnsets[] = {0.2037, 0.2537, 0.2937};
const double kAttacks[] = {0, 0.01};
const double kSteadySeconds = 3;
// Off equal temperament, so that no error hides in a round number.
const double kDetuneCents = 6.8;

struct Note {
  const char* name;
  int semitonesFromA4;
};

const Note kNotes[] = {
    {"B0", -46}, {"E1", -41}, {"G#1", -37}, {"A1", -36},
    {"E2", -29}, {"A2", -24}, {"D3", -19},  {"G3", -14},
    {"E4", -5},  {"A4", 0},   {"E5", 7},    {"A5", 12},
    {"E6", 19},  {"A6", 24},  {"E7", 31},   {"C8", 39},
};

struct Kind {
  const char* name;
  bool plucked;
};

const Kind kKinds[] = {{"pure", false},
                       {"harmonics", false},
                       {"missing", false},
                       {"noise", false},
                       {"plucked", true}};

double CpuSeconds() {
  timespec ts;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return double(ts.tv_sec) + ts.tv_nsec * 1e-9;
}

TestSignal Signal(const Kind& kind, double hz, uint32_t seed) {
  TestSignal signal;
  signal.frequency = hz;
  signal.seed = seed;
  signal.partials.clear();
  const std::string name = kind.name;
  for (int n = 1; n <= 8 && n * hz < 0.45 * kRate; ++n) {
    if (name == "pure" && n > 1) break;
    if (kind.plucked) {
      // Plucked a fifth of the way along, heard through a pickup.
      signal.partials.push_back(0.5 * std::fabs(std::sin(n * M_PI * 0.2)) / n);
    } else {
      signal.partials.push_back(0.4 / n);
    }
  }
  if (name == "missing") signal.partials[0] = 0;
  if (name == "noise") signal.noiseDb = -20;
  if (kind.plucked) {
    signal.inharmonicity = 1e-4;
    signal.decaySeconds = std::clamp(1.5 * std::sqrt(82.0 / hz), 0.3, 3.0);
    signal.noiseDb = -40;
  }
  return signal;
}

// Seconds after the onset at which a plucked note's fundamental falls to
// the noise.
double IntoNoiseSeconds(const TestSignal& signal) {
  if (signal.decaySeconds <= 0) return 1e9;
  return signal.decaySeconds * std::log(std::pow(10, -signal.noiseDb / 20));
}

struct Result {
  double wander = 0, firstMs = -1, firstCents = 0, cpu = 0, seconds = 0;
  int wrong = 0, dashes = 0;
  std::vector<double> errors;  // from half a second after the onset
};

// Adds what the detector reads of signal over seconds of sound to result.
void Measure(const TestSignal& signal, double seconds, Result& result) {
  PitchDetector detector;
  std::string err;
  if (!MakePitchDetector(kRate, &detector, &err)) {
    fprintf(stderr, "%s\n", err.c_str());
    return;
  }
  const std::vector<float> sound =
      TestSignalFrames(signal, kRate, size_t(seconds * kRate));
  const bool note = !signal.partials.empty();
  const double end =
      signal.onsetSeconds + std::min(seconds, IntoNoiseSeconds(signal));
  std::vector<double> heard;
  double firstMs = -1;
  for (size_t at = 0; at + kReadingFrames <= sound.size();
       at += kReadingFrames) {
    const double start = CpuSeconds();
    AddSound(detector, sound.data() + at, kReadingFrames);
    const PitchReading reading = MeasurePitch(detector);
    result.cpu += CpuSeconds() - start;
    const double t = double(at + kReadingFrames) / kRate;
    const bool sounding = note && t >= signal.onsetSeconds && t < end;
    if (!sounding) {
      // Before the onset, after the note has died, or no note at all.
      if (reading.found && (!note || t < signal.onsetSeconds)) ++result.wrong;
      continue;
    }
    if (!reading.found) {
      if (firstMs >= 0) ++result.dashes;
      continue;
    }
    const double cents = 1200 * std::log2(reading.hz / signal.frequency);
    if (std::fabs(cents) >= 50) ++result.wrong;
    if (firstMs < 0) {
      firstMs = 1000 * (t - signal.onsetSeconds);
      result.firstMs = std::max(result.firstMs, firstMs);
      result.firstCents = std::max(result.firstCents, std::fabs(cents));
    }
    heard.push_back(cents);
    if (t >= signal.onsetSeconds + 0.5)
      result.errors.push_back(std::fabs(cents));
  }
  // A note never read counts as late as the whole signal.
  if (note && firstMs < 0) result.firstMs = 1e3 * seconds;
  result.seconds += seconds;
  if (!heard.empty()) {
    result.wander = std::max(result.wander,
                             *std::max_element(heard.begin(), heard.end()) -
                                 *std::min_element(heard.begin(), heard.end()));
  }
}

double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

double Worst(const std::vector<double>& values) {
  return values.empty() ? 0 : *std::max_element(values.begin(), values.end());
}

}  // namespace

int main() {
  printf("%-10s %-4s %9s %9s %9s %6s %6s %9s %9s %9s %6s\n", "signal", "note",
         "Hz", "median_c", "worst_c", "wrong", "dashes", "first_ms", "first_c",
         "wander_c", "cpu_%");
  uint32_t seed = 1;
  for (const Kind& kind : kKinds) {
    for (const Note& note : kNotes) {
      const double hz =
          440 * std::exp2((note.semitonesFromA4 + kDetuneCents / 100) / 12);
      Result r;
      for (double onset : kOnsets) {
        for (double attack : kAttacks) {
          TestSignal signal = Signal(kind, hz, seed++);
          signal.onsetSeconds = onset;
          signal.attackSeconds = attack;
          const double seconds =
              kind.plucked
                  ? std::min(onset + IntoNoiseSeconds(signal) + 0.5, 8.0)
                  : 1 + onset + 0.5;
          Measure(signal, seconds, r);
        }
      }
      char wander[16] = "";
      if (kind.plucked) snprintf(wander, sizeof wander, "%.3f", r.wander);
      printf("%-10s %-4s %9.3f %9.3f %9.3f %6d %6d %9.0f %9.3f %9s %6.2f\n",
             kind.name, note.name, hz, Median(r.errors), Worst(r.errors),
             r.wrong, r.dashes, r.firstMs, r.firstCents, wander,
             100 * r.cpu / r.seconds);
      fflush(stdout);
    }
  }
  for (double noiseDb : {-1000.0, -60.0, -20.0, 0.0}) {
    TestSignal signal;
    signal.partials.clear();
    signal.noiseDb = noiseDb;
    signal.seed = seed++;
    Result r;
    Measure(signal, kSteadySeconds, r);
    char name[32];
    if (noiseDb < -200) {
      snprintf(name, sizeof name, "silence");
    } else {
      snprintf(name, sizeof name, "noise%+.0fdB", noiseDb);
    }
    printf("%-10s %-4s %9s %9s %9s %6d %6s %9s %9s %9s %6.2f\n", name, "-", "-",
           "-", "-", r.wrong, "-", "-", "-", "", 100 * r.cpu / r.seconds);
  }
  return 0;
}
