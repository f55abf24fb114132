#include "synth/tone.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <utility>
#include <vector>

namespace {

std::vector<int32_t> Sine(float frequency, uint32_t rate, int32_t n,
                          float volume) {
  std::vector<int32_t> samples(n, 12345);
  MakeTone(samples.data(), frequency, rate, n, volume);
  return samples;
}

// Index of the first of the trailing zeros.
int32_t SilenceStart(const std::vector<int32_t>& samples) {
  int32_t i = static_cast<int32_t>(samples.size());
  while (i > 0 && samples[i - 1] == 0) --i;
  return i;
}

// The synthesis and packing written out plainly, one sample at a time: the
// whole cycles counted one by one, each sample saturated to 32 bits, then
// clamped to 24 bits and stored least significant byte first.
void ReferenceTone(float frequency, uint32_t rate, int32_t n, float volume,
                   std::vector<int32_t>* samples, std::vector<uint8_t>* bytes) {
  const double scaled = static_cast<double>(volume) / 100.0 * 8388608.0;
  const float amplitude = static_cast<float>(
      std::min(std::max(scaled, -double{FLT_MAX}), double{FLT_MAX}));
  double f = std::fabs(static_cast<double>(frequency));
  if (f > rate * 0.5) f = rate * 0.5;
  const double period = rate / f;
  const float omega = static_cast<float>(f * 6.283185307179586 / rate);
  double count = 0;
  for (double k = 1; std::trunc(k * period) <= n; ++k) {
    count = std::trunc(k * period);
  }
  samples->assign(n, 0);
  bytes->clear();
  for (int32_t i = 0; i < n; ++i) {
    if (i < count) {
      const double v =
          std::sin(static_cast<double>(i) * omega) * double{amplitude};
      if (std::isnan(v)) {
        (*samples)[i] = 0;
      } else if (v >= 2147483647.0) {
        (*samples)[i] = INT32_MAX;
      } else if (v <= -2147483648.0) {
        (*samples)[i] = INT32_MIN;
      } else {
        (*samples)[i] = static_cast<int32_t>(v);
      }
    }
    const int32_t clamped =
        std::min(std::max((*samples)[i], -8388608), 8388607);
    for (int shift = 0; shift < 24; shift += 8) {
      bytes->push_back(static_cast<uint8_t>(clamped >> shift));
    }
  }
}

void ExpectSameAsReference(float frequency, uint32_t rate, int32_t n,
                           float volume) {
  SCOPED_TRACE(testing::Message() << frequency << " Hz at " << rate << " Hz, "
                                  << n << " frames, " << volume << " %");
  std::vector<int32_t> expectedSamples;
  std::vector<uint8_t> expectedBytes;
  ReferenceTone(frequency, rate, n, volume, &expectedSamples, &expectedBytes);

  std::vector<int32_t> samples(n, 12345);
  MakeTone(samples.data(), frequency, rate, n, volume);
  ASSERT_TRUE(samples == expectedSamples);
  // A guard area after the 3 n bytes must stay untouched.
  std::vector<uint8_t> packed(3 * size_t(n) + 16, 0xAA);
  NUM24_TO_CHAR(samples.data(), packed.data(), n);
  ASSERT_TRUE(
      std::equal(expectedBytes.begin(), expectedBytes.end(), packed.begin()));
  for (size_t i = expectedBytes.size(); i < packed.size(); ++i) {
    ASSERT_EQ(packed[i], 0xAA) << i;
  }
}

TEST(MakeToneTest, SameBytesAsThePlainFormula) {
  for (uint32_t rate : {44100u, 48000u}) {
    for (float frequency : {440.0f, 82.40689f, 12345.6f, 22050.0f, 30000.0f,
                            -1000.0f, 0.0f, 0.5f, NAN, INFINITY}) {
      // Volumes up to and beyond the one where samples leave 32 bits.
      for (float volume : {25.0f, 100.0f, -50.0f, 0.0f, 25599.99f, 25600.0f,
                           -25600.0f, -1e9f, 3e38f, -INFINITY, NAN}) {
        // Short tones end at every position within a group of frames.
        for (int32_t n : {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 1001}) {
          ExpectSameAsReference(frequency, rate, n, volume);
        }
      }
    }
  }
  ExpectSameAsReference(440.0f, 44100, 5292000, 25.0f);  // 120 s
  ExpectSameAsReference(82.40689f, 44100, 352800, 100.0f);
  ExpectSameAsReference(12345.6f, 48000, 384000, -25.0f);
}

TEST(MakeToneTest, MatchesSineFormulaWithWholeCycles) {
  // 440 Hz: 3520 periods of 100.227... samples end exactly at 352800.
  std::vector<int32_t> a440 = Sine(440.0f, 44100, 352800, 25.0f);
  EXPECT_EQ(SilenceStart(a440), 352800);
  const float omega = static_cast<float>(440.0 * 2 * M_PI / 44100);
  for (int32_t i : {0, 1, 25, 1000, 352799}) {
    EXPECT_EQ(a440[i],
              static_cast<int32_t>(std::sin(i * double(omega)) * 2097152.0))
        << i;
  }
  EXPECT_EQ(a440[0], 0);

  // G6 string: 659 periods of 535.149... samples end at 352663.
  std::vector<int32_t> g6 = Sine(82.40689f, 44100, 352800, 25.0f);
  EXPECT_EQ(SilenceStart(g6), 352663);
  EXPECT_NE(g6[352662], 0);
}

TEST(MakeToneTest, NoWholeCycleGivesSilence) {
  for (float frequency : {0.0f, 0.5f, NAN}) {
    std::vector<int32_t> samples = Sine(frequency, 44100, 44100, 25.0f);
    EXPECT_EQ(SilenceStart(samples), 0) << frequency;
  }
}

TEST(MakeToneTest, NothingWrittenForEmptyTone) {
  std::vector<int32_t> samples(4, 7);
  MakeTone(samples.data(), 440.0f, 44100, 0, 25.0f);
  MakeTone(samples.data(), 440.0f, 44100, -5, 25.0f);
  EXPECT_EQ(samples, std::vector<int32_t>(4, 7));
}

TEST(MakeToneTest, FrequencySignAndNyquistLimit) {
  EXPECT_EQ(Sine(-440.0f, 44100, 44100, 25.0f),
            Sine(440.0f, 44100, 44100, 25.0f));
  EXPECT_EQ(Sine(30000.0f, 44100, 1000, 25.0f),
            Sine(22050.0f, 44100, 1000, 25.0f));
  EXPECT_EQ(Sine(INFINITY, 44100, 1000, 25.0f),
            Sine(22050.0f, 44100, 1000, 25.0f));
  // At half the rate the phase step, held in single precision, samples the
  // sine far from its peaks.
  for (int32_t s : Sine(22050.0f, 44100, 1000, 100.0f)) {
    EXPECT_LT(std::abs(s), 1000);
  }
}

TEST(MakeToneTest, VolumeScalesAndSaturates) {
  EXPECT_EQ(SilenceStart(Sine(440.0f, 44100, 44100, 0.0f)), 0);

  std::vector<int32_t> up = Sine(440.0f, 44100, 44100, 25.0f);
  std::vector<int32_t> down = Sine(440.0f, 44100, 44100, -25.0f);
  for (size_t i = 0; i < up.size(); ++i) ASSERT_EQ(down[i], -up[i]) << i;

  int32_t peak = 0;
  for (int32_t s : Sine(440.0f, 44100, 44100, 100.0f)) {
    peak = std::max(peak, std::abs(s));
  }
  EXPECT_GE(peak, 8388600);
  EXPECT_LE(peak, 8388608);

  // Far below -25600 % the product leaves the 32-bit range: it saturates.
  std::vector<int32_t> huge = Sine(440.0f, 44100, 100, -1e9f);
  EXPECT_EQ(huge[0], 0);
  EXPECT_EQ(huge[25], INT32_MIN);
  EXPECT_EQ(huge[75], INT32_MAX);
}

TEST(MakeToneTest, NonFiniteAndExtremeValuesStillFillEveryFrame) {
  const std::vector<int32_t> nyquist = Sine(22050.0f, 44100, 1000, 25.0f);
  EXPECT_EQ(Sine(-INFINITY, 44100, 1000, 25.0f), nyquist);
  EXPECT_EQ(Sine(FLT_MAX, 44100, 1000, 25.0f), nyquist);
  EXPECT_EQ(Sine(-FLT_MAX, 44100, 1000, 25.0f), nyquist);
  // No whole cycle of these fits into any buffer.
  for (float frequency : {-0.0f, 1e-45f, -NAN}) {
    EXPECT_EQ(SilenceStart(Sine(frequency, 44100, 44100, 25.0f)), 0)
        << frequency;
  }
  // A volume that is not a number gives silence; infinite and the most
  // negative volumes saturate every sample that is not exactly zero.
  EXPECT_EQ(SilenceStart(Sine(440.0f, 44100, 1000, NAN)), 0);
  for (float volume : {-FLT_MAX, -INFINITY, INFINITY}) {
    std::vector<int32_t> samples = Sine(440.0f, 44100, 200, volume);
    EXPECT_EQ(samples[0], 0) << volume;
    const int32_t rising = volume > 0 ? INT32_MAX : INT32_MIN;
    EXPECT_EQ(samples[25], rising) << volume;
    EXPECT_EQ(samples[75], volume > 0 ? INT32_MIN : INT32_MAX) << volume;
    for (int32_t s : samples) {
      ASSERT_TRUE(s == 0 || s == INT32_MIN || s == INT32_MAX) << s;
    }
  }
}

TEST(MakePackedToneTest, SameBytesAsWholeToneThroughBlocks) {
  // In blocks of 4096 frames: several and a part, and less than one; the
  // whole cycles end in the last block, in an earlier one, or not at all.
  for (int32_t n : {3 * 4096 + 1001, 1001}) {
    for (float frequency : {440.0f, 5.0f, 0.5f}) {
      SCOPED_TRACE(testing::Message() << frequency << " Hz, " << n);
      std::vector<uint8_t> expected(3 * size_t(n));
      NUM24_TO_CHAR(Sine(frequency, 44100, n, 100.0f).data(), expected.data(),
                    n);
      std::vector<uint8_t> packed(3 * size_t(n) + 16, 0xAA);
      MakePackedTone(packed.data(),
                     PlanTone(Timbres().front(), {frequency}, 44100, 100.0f, n),
                     n);
      EXPECT_TRUE(std::equal(expected.begin(), expected.end(), packed.begin()));
      EXPECT_EQ(std::count(packed.begin() + 3 * n, packed.end(), 0xAA), 16);
    }
  }
}

std::vector<int32_t> Frames(const Tone& tone, int64_t first, int32_t count) {
  std::vector<int32_t> samples(count, 12345);
  MakeToneFrames(tone, first, count, samples.data());
  return samples;
}

// 441 Hz repeats every 100 frames at 44100 Hz: a whole number of cycles
// holds each partial in one bin of a plain DFT, and nothing else.
TEST(TimbreTest, PartialAmplitudesAndExactPeriod) {
  const int32_t kPeriod = 100, kCycles = 4;
  // Harmonics below 0.45 times the rate: 44 of them at 441 Hz.
  const std::pair<const char*, size_t> kPartials[] = {
      {"sine", 1}, {"warm", 6}, {"bright", 44}};
  for (const auto& [name, partials] : kPartials) {
    SCOPED_TRACE(name);
    const Timbre& timbre = *FindTimbre(name);
    // Two notes make even the sine take the timbres' way.
    const Tone tone =
        PlanTone(timbre, {441.0f, 441.0f}, 44100, 50.0f, kEndless);
    const std::vector<int32_t> block = Frames(tone, 44100, kCycles * kPeriod);
    for (int32_t i = kPeriod; i < kCycles * kPeriod; ++i) {
      ASSERT_LE(std::abs(block[i] - block[i - kPeriod]), 1) << i;
    }
    std::vector<double> expected = HarmonicAmplitudes(timbre, 441, 44100);
    ASSERT_EQ(expected.size(), partials);
    // warm is the first six harmonics at 1/h.
    if (name == std::string("warm")) {
      for (size_t h = 1; h <= partials; ++h) expected[h - 1] = 1.0 / h;
    }
    std::vector<double> measured;
    for (int h = 1; h < kPeriod / 2; ++h) {
      double re = 0, im = 0;
      for (int32_t i = 0; i < kCycles * kPeriod; ++i) {
        re += block[i] * std::cos(2 * M_PI * h * i / kPeriod);
        im += block[i] * std::sin(2 * M_PI * h * i / kPeriod);
      }
      // sin(h phase) starts at zero: no cosine part.
      EXPECT_LT(std::fabs(re), 2.0 * kCycles * kPeriod) << h;
      measured.push_back(im * 2 / (kCycles * kPeriod));
    }
    const double scale = measured[0] / expected[0];
    for (size_t h = 1; h <= measured.size(); ++h) {
      const double want = h <= expected.size() ? expected[h - 1] * scale : 0;
      EXPECT_NEAR(measured[h - 1], want, 2.0) << h;
    }
  }
}

// Most of bright's energy lies where small speakers play, for the lowest
// note a five-string bass tunes to and the lowest of a four-string.
TEST(TimbreTest, BrightHasHalfItsEnergyBetween200HzAnd4kHz) {
  for (uint32_t rate : {44100u, 48000u}) {
    for (double hz : {30.8677, 41.2034}) {
      const std::vector<double> amplitudes =
          HarmonicAmplitudes(*FindTimbre("bright"), hz, rate);
      double energy = 0, band = 0;
      for (size_t h = 1; h <= amplitudes.size(); ++h) {
        const double e = amplitudes[h - 1] * amplitudes[h - 1];
        energy += e;
        if (h * hz >= 200 && h * hz <= 4000) band += e;
      }
      EXPECT_GT(band / energy, 0.5) << hz << " Hz at " << rate;
      EXPECT_LT(amplitudes.size() * hz, 0.45 * rate);
    }
  }
}

int32_t Largest(const std::vector<int32_t>& samples) {
  int32_t largest = 0;
  for (int32_t s : samples) largest = std::max(largest, std::abs(s));
  return largest;
}

// Each note of a chord is the note alone at its share of the volume, and
// a note alone reaches its volume and never passes it.
TEST(TimbreTest, ChordNotesShareTheVolume) {
  const std::vector<float> chord = {261.62558f, 329.62756f, 391.99542f};
  const float share = 100.0f / 3;
  const int32_t sharePeak = static_cast<int32_t>(share / 100 * 8388608);
  for (const char* name : {"sine", "warm", "bright"}) {
    SCOPED_TRACE(name);
    const Timbre& timbre = *FindTimbre(name);
    const std::vector<int32_t> all =
        Frames(PlanTone(timbre, chord, 44100, 100.0f, 44100), 0, 44100);
    std::vector<int32_t> sum(44100, 0);
    for (float f : chord) {
      // Three of the same note sound as one, in the timbres' way.
      const std::vector<int32_t> alone =
          Frames(PlanTone(timbre, {f, f, f}, 44100, share, 44100), 0, 44100);
      for (size_t i = 0; i < sum.size(); ++i) sum[i] += alone[i];
      EXPECT_LE(Largest(alone), sharePeak);
      EXPECT_GT(Largest(alone), sharePeak * 0.999);
    }
    EXPECT_LE(Largest(all), 8388608);
    for (size_t i = 0; i < sum.size(); ++i) {
      ASSERT_LE(std::abs(all[i] - sum[i]), 3) << i;
    }
    // A note with no harmonic below the highest partial is silent and
    // takes no share.
    const std::vector<int32_t> withSilent = Frames(
        PlanTone(timbre, {chord[0], 20000.0f}, 44100, 100.0f, 44100), 0, 44100);
    EXPECT_GT(Largest(withSilent), 8388608 * 0.999);
  }
}

// A frame is the same whichever range it is asked for in, at any index;
// a note ended later changes nothing before the frame it is ended at, ends
// at the end of a whole cycle and fades out to it.
TEST(ToneFramesTest, RangesAndEnds) {
  const Timbre& warm = *FindTimbre("warm");
  Tone tone = PlanTone(warm, {440.0f, 659.2551f}, 44100, 25.0f, kEndless);
  const std::vector<int32_t> whole = Frames(tone, 0, 3 * 4096);
  // Up from silence: half a millisecond in, still below 1 % of the peak.
  EXPECT_EQ(whole[0], 0);
  EXPECT_LT(Largest(std::vector<int32_t>(whole.begin(), whole.begin() + 22)),
            20972);
  for (int64_t first : {0, 1, 4095, 4096, 5000}) {
    const std::vector<int32_t> part = Frames(tone, first, 4097);
    ASSERT_TRUE(std::equal(part.begin(), part.end(), whole.begin() + first))
        << first;
  }
  const int64_t far = (int64_t{1} << 33) + 4000;  // past 32 bits
  const std::vector<int32_t> late = Frames(tone, far, 300);
  EXPECT_EQ(Frames(tone, far + 100, 200),
            std::vector<int32_t>(late.begin() + 100, late.end()));
  EXPECT_GT(Largest(late), 1000000);

  const int64_t from = 10000;
  EndTone(tone, from);
  const std::vector<int32_t> ended = Frames(tone, 0, 20000);
  EXPECT_TRUE(std::equal(whole.begin(), whole.begin() + from, ended.begin()));
  for (const ToneNote& note : tone.notes) {
    const double end = note.cycles * note.period;
    EXPECT_GE(end - note.fadeCycles * note.period, from);
    EXPECT_LT(end - (note.fadeCycles + 1) * note.period, from);
    EXPECT_GE(note.fadeCycles * note.period, 0.01 * 44100);
  }
  const double lastEnd = std::max(tone.notes[0].cycles * tone.notes[0].period,
                                  tone.notes[1].cycles * tone.notes[1].period);
  const int64_t silence = static_cast<int64_t>(lastEnd);
  EXPECT_NE(ended[silence - 1], 0);
  EXPECT_LT(std::abs(ended[silence - 1]), 100);
  EXPECT_EQ(Largest(std::vector<int32_t>(ended.begin() + silence, ended.end())),
            0);
}

std::vector<int32_t> HeldFrames(HeldTone& held, int64_t first, int32_t count) {
  std::vector<int32_t> samples(count, 12345);
  MakeHeldFrames(held, first, count, samples.data());
  return samples;
}

// A held tone, made in blocks as playback asks for them, is the tone of a
// fixed length over its whole cycles: 2 s of it that of an 8 s tone, and
// far past 2^31 frames still the sine formula's frame.
TEST(HeldToneTest, FramesOfTheWholeToneAtTheSameIndex) {
  for (const char* timbre : {"sine", "warm"}) {
    SCOPED_TRACE(timbre);
    const Timbre& t = *FindTimbre(timbre);
    HeldTone held;
    held.tone = PlanTone(t, {440.0f}, 44100, 25.0f, kEndless);
    std::vector<int32_t> made;
    for (int64_t first = 0; first < 88200; first += 2048) {
      const std::vector<int32_t> block = HeldFrames(held, first, 2048);
      made.insert(made.end(), block.begin(), block.end());
    }
    made.resize(88200);
    EXPECT_EQ(made,
              Frames(PlanTone(t, {440.0f}, 44100, 25.0f, 352800), 0, 88200));
  }
  HeldTone held;
  held.tone = PlanTone(Timbres().front(), {440.0f}, 44100, 25.0f, kEndless);
  const int64_t far = (int64_t{1} << 31) + 1000;
  const std::vector<int32_t> late = HeldFrames(held, far, 2048);
  for (int32_t i = 0; i < 2048; ++i) {
    const double x =
        std::sin(static_cast<double>(far + i) * held.tone.sineStep) *
        held.tone.sineAmplitude;
    ASSERT_EQ(late[i], static_cast<int32_t>(x)) << i;
  }
}

// A switch lets the old tone finish the cycle it is in at the frame it is
// asked for, and the new one start from phase zero right after: no gap,
// and no jump: the old tone's last frame lies less than two of its steps
// before the zero crossing that ends its cycle, where the new one's first
// frame is 0. A second switch before the first has sounded takes its place;
// frames since the last switch can be made again.
TEST(HeldToneTest, SwitchEndsOnAWholeCycleAndStartsAtPhaseZero) {
  const Timbre& sine = Timbres().front();
  const Tone a440 = PlanTone(sine, {440.0f}, 44100, 25.0f, kEndless);
  const Tone e330 = PlanTone(sine, {329.63f}, 44100, 25.0f, kEndless);
  HeldTone held;
  held.tone = a440;
  std::vector<int32_t> made = HeldFrames(held, 0, 10000);
  SwitchHeldTone(held, PlanTone(sine, {100.0f}, 44100, 25.0f, kEndless), 10000);
  SwitchHeldTone(held, e330, 10000);
  const std::vector<int32_t> after = HeldFrames(held, 10000, 10000);
  made.insert(made.end(), after.begin(), after.end());

  const double period = 44100.0 / 440.0;
  const int64_t end = static_cast<int64_t>(std::ceil(10000 / period) * period);
  ASSERT_GE(end, 10000);
  ASSERT_LT(end, 10000 + period);
  EXPECT_EQ(std::vector<int32_t>(made.begin(), made.begin() + end),
            Frames(a440, 0, int32_t(end)));
  EXPECT_EQ(std::vector<int32_t>(made.begin() + end, made.end()),
            Frames(e330, 0, int32_t(20000 - end)));
  int32_t largestStep = 0;
  for (int64_t i = 1; i < end; ++i) {
    largestStep = std::max(largestStep, std::abs(made[i] - made[i - 1]));
  }
  EXPECT_EQ(made[end], 0);
  EXPECT_LT(std::abs(made[end - 1]), 2 * largestStep);
  EXPECT_EQ(held.start, end);
  // Asked for again, as after a device took part of a block.
  EXPECT_EQ(
      HeldFrames(held, end - 50, 100),
      std::vector<int32_t>(made.begin() + end - 50, made.begin() + end + 50));
}

TEST(Num24ToCharTest, PacksLittleEndianAndClampsTo24Bits) {
  const std::vector<int32_t> samples = {1,         -1,      8388607,  -8388608,
                                        0,         8388608, -8388609, INT32_MAX,
                                        INT32_MIN, 0x123456};
  const std::vector<uint8_t> expected = {
      0x01, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F, 0x00,
      0x00, 0x80, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0x7F, 0x00, 0x00,
      0x80, 0xFF, 0xFF, 0x7F, 0x00, 0x00, 0x80, 0x56, 0x34, 0x12};
  std::vector<uint8_t> packed(expected.size() + 3, 0xAA);
  NUM24_TO_CHAR(samples.data(), packed.data(), 10);
  EXPECT_EQ(std::vector<uint8_t>(packed.begin(), packed.begin() + 30),
            expected);
  EXPECT_EQ(packed[30], 0xAA);  // nothing beyond n frames

  NUM24_TO_CHAR(samples.data(), packed.data(), 0);
  EXPECT_EQ(packed[0], 0x01);
}

}  // namespace
