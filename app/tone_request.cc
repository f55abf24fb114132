#include <cmath>
#include <new>

#include "app/settings.h"
#include "audio/pcm.h"
#include "synth/tone.h"

int32_t FrameCount(uint32_t sampleRate, float lengthSeconds) {
  const double frames = std::trunc(static_cast<double>(sampleRate) *
                                   static_cast<double>(lengthSeconds));
  if (!(frames > 0)) return 0;
  if (frames >= INT32_MAX) return INT32_MAX;
  return static_cast<int32_t>(frames);
}

bool PlayTone(ToneSettings& settings) {
  const int32_t n = FrameCount(settings.sampleRate, settings.lengthSeconds);
  printf("Frequency = %.2f Hz\n", settings.frequency);
  fflush(stdout);

  // Plain new[] leaves the memory unfilled: every byte is written below.
  SampleBuffer samples(new (std::nothrow) int32_t[n]);
  PackedBuffer packed(new (std::nothrow) uint8_t[3 * size_t(n)]);
  if (!samples || !packed) {
    fprintf(stderr, "not enough memory for a tone of %i frames\n", n);
    return false;
  }
  MakeTone(samples.get(), settings.frequency, settings.sampleRate, n,
           settings.volumePercent);
  NUM24_TO_CHAR(samples.get(), packed.get(), n);
  samples.reset();
  PLAY(settings.deviceName, settings.sampleRate, 2, n, packed.get());
  return true;
}
