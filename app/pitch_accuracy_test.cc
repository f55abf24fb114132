// End-to-end pitch accuracy: tones from the built binary, recorded through
// ALSA's file plugin and measured by a least-squares sine fit.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "pitch/note.h"
#include "testing/pitch_estimate.h"
#include "testing/process.h"

namespace {

const uint32_t kRate = 44100;
const int32_t kFrames = 8 * kRate;

struct PitchCase {
  std::string label;
  std::string argument;  // the frequency as given on the command line
  double intended;       // the exact pitch, Hz
  std::string console;   // console input that plays the same tone
};

// A note's frequency as the console plays it: Get_Freq rounded to single
// precision, printed so that it reads back to the same float.
PitchCase Note(const std::string& label, const std::string& name, double octave,
               const std::string& console) {
  const double hz = Get_Freq(name, octave);
  char argument[32];
  snprintf(argument, sizeof argument, "%.9g", static_cast<float>(hz));
  return {label, argument, hz, console + "\nx\n"};
}

PitchCase Typed(const std::string& hz) {
  return {hz + " Hz", hz, strtod(hz.c_str(), nullptr), "z " + hz + "\nx\n"};
}

std::vector<PitchCase> Cases() {
  return {Note("G1", "e", -1, "G1"),
          Note("G2", "b", -1, "G2"),
          Note("G3", "g", -2, "G3"),
          Note("G4", "d", -2, "G4"),
          Note("G5", "a", -2, "G5"),
          Note("G6", "e", -3, "G6"),
          Note("B1", "g", -3, "B1"),
          Note("B2", "d", -3, "B2"),
          Note("B3", "a", -3, "B3"),
          Note("B4", "e", -4, "B4"),
          Note("a, octave -4", "a", -4, "o -4 a p"),
          Note("a, octave 1", "a", 1, "o 1 a p"),
          Note("g#, octave 1", "g#", 1, "o 1 g# p"),
          Typed("1000"),
          Typed("27.5"),
          Typed("12345.6")};
}

std::vector<int32_t> RecordOneShot(const TestDir& dir,
                                   const std::string& frequency) {
  const std::string recording = dir.path + "/one-shot.raw";
  RunResult run =
      RunLarkhorn(dir, {frequency, "8", "file:'" + recording + "',raw"});
  EXPECT_EQ(run.exitStatus, 0) << frequency;
  EXPECT_EQ(run.err, "") << frequency;
  return MonoFromStereo24(ReadFile(recording));
}

// Every tone is the intended pitch to far better than a hundredth of a
// cent, starts at phase zero and stops at the end of its last whole cycle,
// with less than a cycle of silence after it.
TEST(PitchAccuracyTest, RecordedTonesHaveTheIntendedPitch) {
  TestDir dir;
  double worst = 0;
  std::string worstLabel;
  for (const PitchCase& c : Cases()) {
    SCOPED_TRACE(c.label);
    const std::vector<int32_t> samples = RecordOneShot(dir, c.argument);
    ASSERT_EQ(samples.size(), size_t(kFrames));
    size_t end = samples.size();
    while (end > 0 && samples[end - 1] == 0) --end;

    const SineFit fit = FitSine(samples, end);
    ASSERT_TRUE(fit.converged);
    const double cents = Cents(fit.cyclesPerSample * kRate, c.intended);
    printf("%-14s %12.6f Hz  error %+.2e cent\n", c.label.c_str(), c.intended,
           cents);
    EXPECT_LT(std::fabs(cents), 0.01);
    EXPECT_NEAR(fit.phase, 0, 1e-6);

    // The tone stops at the last sample before its last whole cycle ends.
    // Cycles are counted with the exact period but stepped with the phase
    // step in single precision, so over 8 s that end may drift by about a
    // hundredth of a sample.
    const double period = 1 / fit.cyclesPerSample;
    const double cycleEnd = std::round(end / period) * period;
    EXPECT_GE(cycleEnd - end, -0.05);
    EXPECT_LT(cycleEnd - end, 1);
    EXPECT_GT(cycleEnd + period, kFrames);

    if (std::fabs(cents) > std::fabs(worst)) {
      worst = cents;
      worstLabel = c.label;
    }
  }
  printf("worst pitch error %+.2e cent (%s)\n", worst, worstLabel.c_str());
}

// The console plays each of these tones exactly as the one-shot run does.
TEST(PitchAccuracyTest, ConsolePlaysTheSameTones) {
  TestDir dir;
  const std::string recording = dir.path + "/console.raw";
  WriteAlsaConfig(dir, RecordingDefault(recording));
  for (const PitchCase& c : Cases()) {
    SCOPED_TRACE(c.label);
    RunResult run = RunLarkhorn(dir, {}, c.console);
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_TRUE(MonoFromStereo24(ReadFile(recording)) ==
                RecordOneShot(dir, c.argument));
  }
}

}  // namespace
