#include "app/console_fuzz.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "app/tone_request.h"
#include "synth/tone.h"

namespace {

// Enough frames for whole cycles of any audible pitch, and still cheap.
const int32_t kMaxFrames = 4096;
const size_t kMaxTokenBytes = 65536;

void Require(bool holds, const char* what) {
  if (holds) return;
  fprintf(stderr, "console fuzz: %s\n", what);
  abort();
}

void CheckSettings(const ToneSettings& settings) {
  Require(settings.lengthSeconds >= 1.0f && settings.lengthSeconds <= 120.0f,
          "length outside 1..120 s");
  Require(settings.volumePercent >= -100.0f && settings.volumePercent <= 100.0f,
          "volume outside -100..100 %");
  Require(std::isfinite(settings.frequency), "frequency not finite");
  Require(settings.octave >= -4 && settings.octave <= 1 &&
              settings.octave == std::trunc(settings.octave),
          "octave not one of -4..1");
  Require(settings.sampleRate == 44100, "sample rate changed");
  Require(settings.command.size() <= kMaxTokenBytes &&
              settings.noteName.size() <= kMaxTokenBytes &&
              settings.deviceName.size() <= kMaxTokenBytes,
          "token stored beyond the limit");
}

}  // namespace

bool CheckedTone(ToneSettings& settings) {
  CheckSettings(settings);
  const int32_t n = std::min(
      FrameCount(settings.sampleRate, settings.lengthSeconds), kMaxFrames);
  std::vector<int32_t> samples(n);
  std::vector<uint8_t> packed(3 * size_t(n));
  MakeTone(samples.data(), settings.frequency, settings.sampleRate, n,
           settings.volumePercent);
  NUM24_TO_CHAR(samples.data(), packed.data(), n);
  return true;
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // Menus and prompts would only slow the fuzzer down.
  if (freopen("/dev/null", "w", stdout) == nullptr) abort();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<char> input(data, data + size);
  FILE* in =
      size > 0 ? fmemopen(input.data(), size, "r") : fopen("/dev/null", "r");
  Require(in != nullptr, "cannot open the input");
  ToneSettings settings;
  RunConsole(settings, in, CheckedTone);
  fclose(in);
  CheckSettings(settings);
  return 0;
}
