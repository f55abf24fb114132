#include "synth/tone.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <vector>

namespace {

std::vector<int32_t> Tone(float frequency, uint32_t rate, int32_t n,
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
  std::vector<int32_t> a440 = Tone(440.0f, 44100, 352800, 25.0f);
  EXPECT_EQ(SilenceStart(a440), 352800);
  const float omega = static_cast<float>(440.0 * 2 * M_PI / 44100);
  for (int32_t i : {0, 1, 25, 1000, 352799}) {
    EXPECT_EQ(a440[i],
              static_cast<int32_t>(std::sin(i * double(omega)) * 2097152.0))
        << i;
  }
  EXPECT_EQ(a440[0], 0);

  // G6 string: 659 periods of 535.149... samples end at 352663.
  std::vector<int32_t> g6 = Tone(82.40689f, 44100, 352800, 25.0f);
  EXPECT_EQ(SilenceStart(g6), 352663);
  EXPECT_NE(g6[352662], 0);
}

TEST(MakeToneTest, NoWholeCycleGivesSilence) {
  for (float frequency : {0.0f, 0.5f, NAN}) {
    std::vector<int32_t> samples = Tone(frequency, 44100, 44100, 25.0f);
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
  EXPECT_EQ(Tone(-440.0f, 44100, 44100, 25.0f),
            Tone(440.0f, 44100, 44100, 25.0f));
  EXPECT_EQ(Tone(30000.0f, 44100, 1000, 25.0f),
            Tone(22050.0f, 44100, 1000, 25.0f));
  EXPECT_EQ(Tone(INFINITY, 44100, 1000, 25.0f),
            Tone(22050.0f, 44100, 1000, 25.0f));
  // At half the rate the phase step, held in single precision, samples the
  // sine far from its peaks.
  for (int32_t s : Tone(22050.0f, 44100, 1000, 100.0f)) {
    EXPECT_LT(std::abs(s), 1000);
  }
}

TEST(MakeToneTest, VolumeScalesAndSaturates) {
  EXPECT_EQ(SilenceStart(Tone(440.0f, 44100, 44100, 0.0f)), 0);

  std::vector<int32_t> up = Tone(440.0f, 44100, 44100, 25.0f);
  std::vector<int32_t> down = Tone(440.0f, 44100, 44100, -25.0f);
  for (size_t i = 0; i < up.size(); ++i) ASSERT_EQ(down[i], -up[i]) << i;

  int32_t peak = 0;
  for (int32_t s : Tone(440.0f, 44100, 44100, 100.0f)) {
    peak = std::max(peak, std::abs(s));
  }
  EXPECT_GE(peak, 8388600);
  EXPECT_LE(peak, 8388608);

  // Far below -25600 % the product leaves the 32-bit range: it saturates.
  std::vector<int32_t> huge = Tone(440.0f, 44100, 100, -1e9f);
  EXPECT_EQ(huge[0], 0);
  EXPECT_EQ(huge[25], INT32_MIN);
  EXPECT_EQ(huge[75], INT32_MAX);
}

TEST(MakeToneTest, NonFiniteAndExtremeValuesStillFillEveryFrame) {
  const std::vector<int32_t> nyquist = Tone(22050.0f, 44100, 1000, 25.0f);
  EXPECT_EQ(Tone(-INFINITY, 44100, 1000, 25.0f), nyquist);
  EXPECT_EQ(Tone(FLT_MAX, 44100, 1000, 25.0f), nyquist);
  EXPECT_EQ(Tone(-FLT_MAX, 44100, 1000, 25.0f), nyquist);
  // No whole cycle of these fits into any buffer.
  for (float frequency : {-0.0f, 1e-45f, -NAN}) {
    EXPECT_EQ(SilenceStart(Tone(frequency, 44100, 44100, 25.0f)), 0)
        << frequency;
  }
  // A volume that is not a number gives silence; infinite and the most
  // negative volumes saturate every sample that is not exactly zero.
  EXPECT_EQ(SilenceStart(Tone(440.0f, 44100, 1000, NAN)), 0);
  for (float volume : {-FLT_MAX, -INFINITY, INFINITY}) {
    std::vector<int32_t> samples = Tone(440.0f, 44100, 200, volume);
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
      NUM24_TO_CHAR(Tone(frequency, 44100, n, 100.0f).data(), expected.data(),
                    n);
      std::vector<uint8_t> packed(3 * size_t(n) + 16, 0xAA);
      MakePackedTone(packed.data(), frequency, 44100, n, 100.0f);
      EXPECT_TRUE(std::equal(expected.begin(), expected.end(), packed.begin()));
      EXPECT_EQ(std::count(packed.begin() + 3 * n, packed.end(), 0xAA), 16);
    }
  }
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
