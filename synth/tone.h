// Sine tone synthesis and packing to signed 24-bit little-endian bytes.
#ifndef LARKHORN_SYNTH_TONE_H_
#define LARKHORN_SYNTH_TONE_H_

#include <cstdint>
#include <memory>

// One signed 32-bit sample per frame; full scale is +-2^23.
using SampleBuffer = std::unique_ptr<int32_t[]>;
// Three bytes per frame, signed 24-bit little-endian (S24_3LE), one channel.
using PackedBuffer = std::unique_ptr<uint8_t[]>;

// Fills samples[0..n) with whole cycles of a sine starting at phase zero,
// then zeros. volume is in percent of 24-bit full scale; the frequency's
// sign is ignored and it is limited to half the rate. A frequency that is
// not a number gives silence.
void MakeTone(int32_t* samples, float frequency, uint32_t rate, int32_t n,
              float volume);

// Writes the low three bytes of each of the n samples, least significant
// first, after clamping each to the 24-bit range.
void NUM24_TO_CHAR(const int32_t* samples, uint8_t* packed, int32_t n);

#endif  // LARKHORN_SYNTH_TONE_H_
