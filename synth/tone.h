// Tone synthesis: one note or several sounding together, each a waveform of
// the note's harmonics in a timbre, made frame by frame from the frame's
// index alone; and packing to signed 24-bit little-endian bytes.
#ifndef LARKHORN_SYNTH_TONE_H_
#define LARKHORN_SYNTH_TONE_H_

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// Three bytes per frame, signed 24-bit little-endian (S24_3LE), one channel.
using PackedBuffer = std::unique_ptr<uint8_t[]>;

// How strong each harmonic of a note is.
struct Timbre {
  const char* name;  // as given on the command line
  std::string help;  // what it is for, for --help
  int harmonics;     // the most it has
  bool fades;        // fades in and out over whole cycles
  // Amplitude of harmonic 1, 2, ... of a note of hz Hz, before the
  // waveform is scaled to the volume.
  double (*amplitude)(int harmonic, double hz);
};

// Every timbre, the plain sine first.
const std::vector<Timbre>& Timbres();

// The timbre of that name, or null.
const Timbre* FindTimbre(const std::string& name);

// The names, separated by ", ".
std::string TimbreNames();

// No partial of a timbre or a chord at or above this share of the rate,
// where a device's anti-alias filter would start to take it away.
const double kHighestPartialShare = 0.45;

// The amplitudes of a note's harmonics 1, 2, ... in timbre, those below
// kHighestPartialShare of the rate (none for a frequency that is not above
// 0).
std::vector<double> HarmonicAmplitudes(const Timbre& timbre, double hz,
                                       uint32_t rate);

// The cycles of a note that has no end yet.
const int64_t kEndless = INT64_MAX;

// One note of a tone. It starts at frame 0 at phase zero and sounds for
// whole cycles, then is silent.
struct ToneNote {
  double period;          // frames per cycle
  double cyclesPerFrame;  // the note's frequency over the rate
  int64_t cycles;         // how many it sounds, or kEndless
  // A raised cosine over this many cycles fades it in from frame 0 and out
  // to the end of its last cycle; 0 for none.
  int64_t fadeCycles;
  // One cycle of its waveform in sample units, as a cubic in the fraction
  // of each of kWaveSegments equal segments (4 coefficients, lowest power
  // first). Empty for a silent note.
  std::vector<double> wave;
};

// A power of two, so that a phase's segment and fraction are exact.
const int kWaveSegments = 2048;

// Notes sounding together.
struct Tone {
  // A lone sine is made as it always was: sin(frame * sineStep) *
  // sineAmplitude, truncated, over notes[0]'s whole cycles.
  bool sineFormula = false;
  float sineStep = 0;
  float sineAmplitude = 0;
  std::vector<ToneNote> notes;
};

// The tone of the notes at these frequencies (sign ignored, limited to half
// the rate; not a number gives silence) in timbre, each with the same peak,
// the largest sample of their sum at most volume percent of 24-bit full
// scale. Each note sounds as many whole cycles as fit into frames, or
// endlessly when frames is kEndless.
Tone PlanTone(const Timbre& timbre, const std::vector<float>& frequencies,
              uint32_t rate, float volume, int64_t frames);

// Ends each note still sounding at frame from after the first whole cycle
// that lets its fade-out start no earlier than from: no frame before from
// changes.
void EndTone(Tone& tone, int64_t from);

// The first frame after the last note's last whole cycle, INT64_MAX while
// one sounds endlessly.
int64_t ToneEnd(const Tone& tone);

// A tone held until it is stopped, made block by block as it plays, which
// may switch to another: the tone sounding, the frame of the stream at which
// its frame 0 plays, and the tone that follows once it has ended; and the
// one before, for frames asked for again after a device took only part of
// a block.
struct HeldTone {
  Tone tone;
  int64_t start = 0;
  bool switching = false;
  Tone next;
  Tone previous;
  int64_t previousStart = 0;
};

// Ends the held tone at the end of its first whole cycle at or after stream
// frame from (as EndTone does), and lets next follow right after it, from
// its phase zero. A switch still pending has next follow instead.
void SwitchHeldTone(HeldTone& held, Tone next, int64_t from);

// Fills samples[0..count) with frames [first, first + count) of the held
// stream: each frame of a tone the same as MakeToneFrames makes at the same
// index. Frames are asked for in order, from 0, and may be asked for again
// from any frame since the last switch's.
void MakeHeldFrames(HeldTone& held, int64_t first, int32_t count,
                    int32_t* samples);

// Fills samples[0..count) with frames [first, first + count) of tone: the
// same values whatever range they are asked for in. Nothing is written for
// a negative first or count.
void MakeToneFrames(const Tone& tone, int64_t first, int32_t count,
                    int32_t* samples);

// Fills samples[0..n) with a sine tone of n frames: whole cycles of a sine
// starting at phase zero, then zeros. volume is in percent of 24-bit full
// scale.
void MakeTone(int32_t* samples, float frequency, uint32_t rate, int32_t n,
              float volume);

// Writes the low three bytes of each of the n samples, least significant
// first, after clamping each to the 24-bit range.
void NUM24_TO_CHAR(const int32_t* samples, uint8_t* packed, int32_t n);

// A buffer for n packed frames, its pages mapped at once rather than
// faulted in as the tone is written; null when the memory cannot be had.
PackedBuffer NewPackedBuffer(int32_t n);

// Fills packed[0..3 n) with frames [0, n) of tone, the same bytes as
// MakeToneFrames and NUM24_TO_CHAR over all n frames, through a small block
// of samples that stays in cache instead of a buffer of n samples.
void MakePackedTone(uint8_t* packed, const Tone& tone, int32_t n);

#endif  // LARKHORN_SYNTH_TONE_H_
