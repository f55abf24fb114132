// Measures the pitch and phase of a recorded sine tone by a least-squares
// sine fit over all its samples.
#ifndef LARKHORN_TESTING_PITCH_ESTIMATE_H_
#define LARKHORN_TESTING_PITCH_ESTIMATE_H_

#include <cstddef>
#include <cstdint>
#include <vector>

struct SineFit {
  bool converged = false;
  double cyclesPerSample = 0;  // frequency / sample rate
  double phase = 0;            // of amplitude * sin(...) at sample 0, radians
  double amplitude = 0;
};

// Fits amplitude * sin(2 pi cyclesPerSample i + phase) + offset to
// samples[0..count). The frequency starts from a line fitted through the
// upward zero crossings and is refined by Gauss-Newton; not converged when
// there are fewer than two upward crossings.
SineFit FitSine(const std::vector<int32_t>& samples, size_t count);

// The interval from reference to measured in cents (1/1200 octave).
double Cents(double measured, double reference);

#endif  // LARKHORN_TESTING_PITCH_ESTIMATE_H_
