#include "testing/pitch_estimate.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

// A sine of known frequency and phase, truncated to integers as the tone
// generator does.
std::vector<int32_t> Sine(double cyclesPerSample, double phase, size_t count,
                          double amplitude = 2097152) {
  std::vector<int32_t> samples(count);
  for (size_t i = 0; i < count; ++i) {
    samples[i] = static_cast<int32_t>(
        amplitude * std::sin(2 * M_PI * cyclesPerSample * i + phase));
  }
  return samples;
}

TEST(FitSineTest, RecoversFrequencyAndPhaseFarBelowACent) {
  struct Case {
    double hz;
    double phase;
    size_t count;
  };
  // Few cycles at a low pitch, many near the top of the band, and a few
  // samples per cycle; phases off zero and across the wrap.
  for (Case c : {Case{27.5, 0.0, 44100}, Case{41.2034447, 1.3, 88200},
                 Case{440.0, -2.5, 44100}, Case{1234.5678, 3.1, 352800},
                 Case{12345.6, 0.7, 44100}, Case{20000.0, -0.4, 44100}}) {
    const double cycles = c.hz / 44100;
    SineFit fit = FitSine(Sine(cycles, c.phase, c.count), c.count);
    ASSERT_TRUE(fit.converged) << c.hz;
    EXPECT_LT(std::fabs(Cents(fit.cyclesPerSample, cycles)), 1e-6) << c.hz;
    EXPECT_NEAR(fit.phase, c.phase, 1e-6) << c.hz;
    EXPECT_NEAR(fit.amplitude, 2097152, 1) << c.hz;
  }
}

TEST(FitSineTest, ResolvesAThousandthOfACent) {
  const double cycles = 82.4068892282175 / 44100;
  const double sharp = cycles * std::exp2(0.001 / 1200);
  SineFit fit = FitSine(Sine(sharp, 0, 44100), 44100);
  ASSERT_TRUE(fit.converged);
  EXPECT_NEAR(Cents(fit.cyclesPerSample, cycles), 0.001, 1e-5);
}

TEST(FitSineTest, FitsOnlyTheGivenSamples) {
  // A tone followed by silence: only the tone's samples count.
  std::vector<int32_t> samples = Sine(0.01, 0, 1000);
  samples.resize(1500, 0);
  SineFit fit = FitSine(samples, 1000);
  ASSERT_TRUE(fit.converged);
  EXPECT_LT(std::fabs(Cents(fit.cyclesPerSample, 0.01)), 1e-6);
}

TEST(FitSineTest, NeedsTwoUpwardCrossings) {
  EXPECT_FALSE(FitSine(std::vector<int32_t>(1000, 0), 1000).converged);
  EXPECT_FALSE(FitSine(Sine(0.001, 0, 1000), 1000).converged);  // one cycle
  EXPECT_FALSE(FitSine(Sine(0.01, 0, 1000), 50).converged);
}

}  // namespace
