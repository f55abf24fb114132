// Sounds an instrument could make, generated for the tests, the test card's
// capture mode and the listening benchmark: partials of a string or pipe,
// slightly inharmonic if asked, decaying after a sharp attack, in white
// noise.
#ifndef LARKHORN_TESTING_TEST_SIGNAL_H_
#define LARKHORN_TESTING_TEST_SIGNAL_H_

#include <cstddef>
#include <cstdint>
#include <vector>

struct TestSignal {
  double frequency = 440;  // of the first partial, Hz
  // Peak amplitude of each partial, from the first, in full scale (1.0);
  // a zero leaves that partial out.
  std::vector<double> partials = {0.5};
  // A stiff string's partial n sounds at n f sqrt((1 + B n^2) / (1 + B)),
  // B being this; the first partial stays at frequency.
  double inharmonicity = 0;
  // Seconds for the first partial to fall to 1/e, the higher ones sooner,
  // as a plucked string's do; 0 for a steady tone.
  double decaySeconds = 0;
  double onsetSeconds = 0;  // silence (or noise alone) before the note
  // Seconds the note takes to rise to full strength after its onset (a
  // raised cosine); 0 for a pluck's sharp attack.
  double attackSeconds = 0;
  // White noise throughout, in dB relative to the note's power at its
  // onset; below -200 there is none. With no partials, relative to full
  // scale.
  double noiseDb = -1000;
  uint32_t seed = 1;  // the partials' starting phases and the noise
};

// Frames [first, first + count) of signal at rate, into out. The same
// frame always gets the same value, however the signal is cut into calls.
void RenderTestSignal(const TestSignal& signal, uint32_t rate, uint64_t first,
                      size_t count, float* out);

// RenderTestSignal from frame 0 into a vector.
std::vector<float> TestSignalFrames(const TestSignal& signal, uint32_t rate,
                                    size_t count);

// The frequency of partial n (from 1) of signal.
double PartialFrequency(const TestSignal& signal, int n);

#endif  // LARKHORN_TESTING_TEST_SIGNAL_H_
