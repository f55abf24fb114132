#include "app/tone_request.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "app/countdown.h"
#include "app/interrupt.h"
#include "audio/pcm.h"
#include "synth/tone.h"

int32_t FrameCount(uint32_t sampleRate, float lengthSeconds) {
  const double frames = std::trunc(static_cast<double>(sampleRate) *
                                   static_cast<double>(lengthSeconds));
  if (!(frames > 0)) return 0;
  if (frames >= INT32_MAX) return INT32_MAX;
  return static_cast<int32_t>(frames);
}

namespace {

// Ctrl-C in the console stops the tone alone; any other caught signal now
// ends the program as it would have.
void EndToneSignals(const ToneSettings& settings) {
  const int signal = ReleaseToneSignals();
  if (signal != 0 && (signal != SIGINT || settings.oneShot)) {
    EndBySignal(signal);
  }
}

}  // namespace

bool PlayTone(ToneSettings& settings) {
  printf("Frequency = %.2f Hz\n", settings.frequency);
  fflush(stdout);
  // From here on a signal lets the device be dropped and closed first.
  CatchToneSignals();
  // The device first: the tone is made at the rate it settles on, so that
  // it plays in tune and lasts as long as asked.
  PcmDevice device = OpenPcm(settings.deviceName, settings.sampleRate, 2);
  const int32_t n = FrameCount(settings.sampleRate, settings.lengthSeconds);

  PackedBuffer packed = NewPackedBuffer(n);
  if (!packed || !AllocateWriteBuffers(device)) {
    ClosePcm(device);
    fprintf(stderr, "not enough memory for a tone of %i frames\n", n);
    EndToneSignals(settings);
    return false;
  }
  std::vector<float> frequencies = {settings.frequency};
  for (const NamedNote& note : settings.withNotes) {
    frequencies.push_back(NotePitch(settings, note));
  }
  const Tone tone = PlanTone(*settings.timbre, frequencies, settings.sampleRate,
                             settings.volumePercent, n);
  MakePackedTone(packed.get(), tone, n);
  Countdown countdown =
      StartCountdown(settings.frequency, double(n) / settings.sampleRate);
  PlayControl control;
  control.stop = ToneSignalFlag();
  control.progress = UpdateCountdown;
  control.context = &countdown;
  const int error = PLAY(device, n, packed.get(), control);
  EraseCountdown(countdown);
  if (error < 0) {
    fprintf(stderr, "unable to write to pcm device: %s\n", PcmErrorText(error));
  }
  // Closing the device lets a recording through ALSA's file plugin keep what
  // it got (its header is written at close), also after a failure.
  ClosePcm(device);
  if (error < 0) exit(1);
  EndToneSignals(settings);
  return true;
}
