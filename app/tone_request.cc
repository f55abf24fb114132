#include "app/tone_request.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <new>

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

// Maps the whole pages of a fresh buffer in one call rather than one page
// fault each as they are first written, in huge pages where the kernel
// allows: a long tone spent a sizeable part of its synthesis in those faults
// and, packing into the buffer, in TLB misses. Kernels without these simply
// fault.
void MapPagesNow(void* buffer, size_t bytes) {
#ifdef MADV_POPULATE_WRITE
  const uintptr_t page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
  const uintptr_t first = reinterpret_cast<uintptr_t>(buffer);
  const uintptr_t start = (first + page - 1) / page * page;
  const uintptr_t end = (first + bytes) / page * page;
  if (end > start) {
    void* pages = reinterpret_cast<void*>(start);
#ifdef MADV_HUGEPAGE
    madvise(pages, end - start, MADV_HUGEPAGE);
#endif
    madvise(pages, end - start, MADV_POPULATE_WRITE);
  }
#else
  (void)buffer;
  (void)bytes;
#endif
}

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

  // Plain new[] leaves the memory unfilled: every byte is written below.
  PackedBuffer packed(new (std::nothrow) uint8_t[3 * size_t(n)]);
  if (!packed) {
    ClosePcm(device);
    fprintf(stderr, "not enough memory for a tone of %i frames\n", n);
    EndToneSignals(settings);
    return false;
  }
  MapPagesNow(packed.get(), 3 * size_t(n));
  MakePackedTone(packed.get(), settings.frequency, settings.sampleRate, n,
                 settings.volumePercent);
  Countdown countdown =
      StartCountdown(settings.frequency, double(n) / settings.sampleRate);
  PlayControl control;
  control.stop = ToneSignalFlag();
  control.progress = UpdateCountdown;
  control.context = &countdown;
  PLAY(device, n, packed.get(), control);
  EraseCountdown(countdown);
  EndToneSignals(settings);
  return true;
}
