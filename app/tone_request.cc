#include <sys/mman.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
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

}  // namespace

bool PlayTone(ToneSettings& settings) {
  const int32_t n = FrameCount(settings.sampleRate, settings.lengthSeconds);
  printf("Frequency = %.2f Hz\n", settings.frequency);
  fflush(stdout);

  // Plain new[] leaves the memory unfilled: every byte is written below.
  PackedBuffer packed(new (std::nothrow) uint8_t[3 * size_t(n)]);
  if (!packed) {
    fprintf(stderr, "not enough memory for a tone of %i frames\n", n);
    return false;
  }
  MapPagesNow(packed.get(), 3 * size_t(n));
  MakePackedTone(packed.get(), settings.frequency, settings.sampleRate, n,
                 settings.volumePercent);
  PLAY(settings.deviceName, settings.sampleRate, 2, n, packed.get());
  return true;
}
