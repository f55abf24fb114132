// Sine tone synthesis and packing to signed 24-bit little-endian bytes.
#ifndef LARKHORN_SYNTH_TONE_H_
#define LARKHORN_SYNTH_TONE_H_

#include <cstdint>
#include <memory>

// Three bytes per frame, signed 24-bit little-endian (S24_3LE), one channel.
using PackedBuffer = std::unique_ptr<uint8_t[]>;

// A tone of n frames is whole cycles of a sine starting at phase zero, then
// zeros. volume is in percent of 24-bit full scale; the frequency's sign is
// ignored and it is limited to half the rate. A frequency that is not a
// number gives silence.
// Fills samples[0..count) with frames [first, first + count) of that tone;
// a range that does not lie within [0, n) writes nothing.
void MakeTone(int32_t* samples, float frequency, uint32_t rate, int32_t n,
              float volume, int32_t first, int32_t count);

// Fills samples[0..n) with the whole tone.
inline void MakeTone(int32_t* samples, float frequency, uint32_t rate,
                     int32_t n, float volume) {
  MakeTone(samples, frequency, rate, n, volume, 0, n);
}

// Writes the low three bytes of each of the n samples, least significant
// first, after clamping each to the 24-bit range.
void NUM24_TO_CHAR(const int32_t* samples, uint8_t* packed, int32_t n);

// A buffer for n packed frames, its pages mapped at once rather than
// faulted in as the tone is written; null when the memory cannot be had.
PackedBuffer NewPackedBuffer(int32_t n);

// Fills packed[0..3 n) with the whole tone, the same bytes as MakeTone and
// NUM24_TO_CHAR over all n frames, through a small block of samples that
// stays in cache instead of a buffer of n samples.
void MakePackedTone(uint8_t* packed, float frequency, uint32_t rate, int32_t n,
                    float volume);

#endif  // LARKHORN_SYNTH_TONE_H_
