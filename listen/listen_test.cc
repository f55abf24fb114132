#include "listen/listen.h"

#include <alsa/asoundlib.h>
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "testing/test_signal.h"

namespace {

const uint32_t kRate = 44100;

double Cents(double measured, double reference) {
  return 1200 * std::log2(measured / reference);
}

// The detector's readings of signal, one each tenth of a second.
std::vector<PitchReading> Readings(const TestSignal& signal, double seconds,
                                   uint32_t rate = kRate) {
  PitchDetector detector;
  std::string err;
  EXPECT_TRUE(MakePitchDetector(rate, &detector, &err)) << err;
  const size_t kReadingFrames = rate / 10;
  const std::vector<float> sound =
      TestSignalFrames(signal, rate, size_t(seconds * rate));
  std::vector<PitchReading> readings;
  for (size_t at = 0; at + kReadingFrames <= sound.size();
       at += kReadingFrames) {
    AddSound(detector, sound.data() + at, kReadingFrames);
    readings.push_back(MeasurePitch(detector));
  }
  return readings;
}

// Partials falling as 1/n, up to the eighth or what the rate allows.
TestSignal Harmonic(double hz) {
  TestSignal signal;
  signal.frequency = hz;
  signal.partials.clear();
  for (int n = 1; n <= 8 && n * hz < 0.45 * kRate; ++n) {
    signal.partials.push_back(0.4 / n);
  }
  return signal;
}

struct SteadyCase {
  const char* label;
  TestSignal signal;
  double boundCents;  // what a tuner worth its name reads within
};

// Steady notes from half a second on: a low string, the middle, the top
// of a piano, a bass through small speakers with its fundamental missing,
// a note in a noisy room.
TEST(PitchDetectorTest, SteadyNotesReadWithinATenthOfACent) {
  std::vector<SteadyCase> cases = {
      {"B0", Harmonic(30.87), 0.5},
      {"A4", Harmonic(441.3), 0.1},
      {"C8", Harmonic(4186.0), 0.1},
      {"G2, fundamental missing", Harmonic(98.0), 0.1},
      {"A2 in noise 20 dB down", Harmonic(110.2), 0.1},
      {"C8, fundamental missing", Harmonic(4186.0), 0.1}};
  cases[3].signal.partials[0] = 0;
  cases[4].signal.noiseDb = -20;
  // Its period is ten and a half frames, too short for the NSDF's peak to
  // show at its height.
  cases[5].signal.partials[0] = 0;
  for (const SteadyCase& c : cases) {
    const std::vector<PitchReading> readings = Readings(c.signal, 2);
    for (size_t i = 4; i < readings.size(); ++i) {
      ASSERT_TRUE(readings[i].found) << c.label << " at reading " << i;
      EXPECT_LT(std::fabs(Cents(readings[i].hz, c.signal.frequency)),
                c.boundCents)
          << c.label << " at reading " << i;
    }
  }
}

// A plucked wound string: sharp or 10 ms attack, decay, partials a little
// sharp, plucked at several places between two readings. Every reading
// names the right note, from the first, which comes within 150 ms, until
// the note falls into the room's noise, and they stay within a cent of each
// other.
TEST(PitchDetectorTest, PluckedNoteHoldsItsPitchAsItDecays) {
  TestSignal signal;
  signal.frequency = 110.4;
  signal.partials = {0.29, 0.24, 0.16, 0.07, 0, 0.05};
  signal.inharmonicity = 1e-4;
  signal.decaySeconds = 1.5;
  signal.noiseDb = -40;
  for (double onset : {0.25, 0.2037, 0.2937}) {
    for (double attack : {0.0, 0.01}) {
      signal.onsetSeconds = onset;
      signal.attackSeconds = attack;
      const std::vector<PitchReading> readings = Readings(signal, 4);
      double low = INFINITY, high = -INFINITY;
      for (size_t i = 0; i < readings.size(); ++i) {
        const double seconds = (i + 1) / 10.0;
        if (seconds < onset) {
          EXPECT_FALSE(readings[i].found) << "before the onset " << onset;
        }
        if (!readings[i].found) continue;
        const double cents = Cents(readings[i].hz, signal.frequency);
        low = std::min(low, cents);
        high = std::max(high, cents);
      }
      const size_t within = size_t((onset + 0.15) * 10) - 1;
      EXPECT_TRUE(readings[within].found) << "onset " << onset;
      EXPECT_LT(high - low, 1.0) << "onset " << onset << ", attack " << attack;
      EXPECT_LT(std::fabs(low), 1.0) << "onset " << onset;
    }
  }
}

// At the lowest rate a device may give, a telephone's 8000 Hz, notes up
// to the highest it can carry read as well as at any rate, with the
// partials it carries; a pure tone above that, near half the rate, gives
// no reading.
TEST(PitchDetectorTest, LowRateReadsUpToItsHighestNote) {
  const uint32_t rate = 8000;
  for (double hz : {41.2, 440.0, 2093.0, 3520.0}) {
    TestSignal signal = Harmonic(hz);
    signal.partials.resize(size_t(std::max(1.0, std::floor(3600 / hz))));
    const std::vector<PitchReading> readings = Readings(signal, 1.5, rate);
    for (size_t i = 5; i < readings.size(); ++i) {
      ASSERT_TRUE(readings[i].found)
          << hz << " Hz at reading " << i << ": " << readings[i].hz;
      EXPECT_LT(std::fabs(Cents(readings[i].hz, hz)), hz < 50 ? 0.5 : 0.1)
          << hz << " Hz at reading " << i << ": " << readings[i].hz;
    }
  }
  for (double hz : {3700.0, 3990.0}) {
    TestSignal signal;
    signal.frequency = hz;
    for (const PitchReading& reading : Readings(signal, 1, rate)) {
      EXPECT_FALSE(reading.found) << hz << " Hz read as " << reading.hz;
    }
  }
}

TEST(PitchDetectorTest, SilenceAndNoiseGiveNoReading) {
  TestSignal silence;
  silence.partials.clear();
  TestSignal noise = silence;
  noise.noiseDb = -10;
  for (const TestSignal& signal : {silence, noise}) {
    for (const PitchReading& reading : Readings(signal, 2)) {
      EXPECT_FALSE(reading.found) << reading.hz;
    }
  }
  std::string err;
  PitchDetector detector;
  EXPECT_FALSE(MakePitchDetector(4000, &detector, &err));
  EXPECT_NE(err.find("4000"), std::string::npos) << err;
}

// One frame of each format the device may give, two channels: the first
// channel comes through at its value, full scale 1.
TEST(FirstChannelTest, EveryFormatGivesTheFirstChannel) {
  struct Case {
    snd_pcm_format_t format;
    std::vector<uint8_t> frame;  // the first channel, then the second
    float expected;
  };
  const Case cases[] = {
      {SND_PCM_FORMAT_S16_LE, {0x00, 0xc0, 0xff, 0x7f}, -0.5f},
      {SND_PCM_FORMAT_S24_3LE, {0x00, 0x00, 0x40, 0x01, 0x02, 0x03}, 0.5f},
      {SND_PCM_FORMAT_S24_LE,
       {0x00, 0x00, 0xe0, 0x00, 0x11, 0x22, 0x33, 0x00},
       -0.25f},
      {SND_PCM_FORMAT_S32_LE,
       {0x00, 0x00, 0x00, 0x20, 0xff, 0xff, 0xff, 0xff},
       0.25f},
      {SND_PCM_FORMAT_FLOAT_LE,
       {0x00, 0x00, 0x40, 0x3f, 0x00, 0x00, 0x80, 0x3f},
       0.75f},
  };
  for (const Case& c : cases) {
    float out = 0;
    ASSERT_TRUE(FirstChannel(c.frame.data(), 1, c.format, 2, &out))
        << snd_pcm_format_name(c.format);
    EXPECT_EQ(out, c.expected) << snd_pcm_format_name(c.format);
  }
  // What no device should send stays within full scale.
  const uint8_t nan[] = {0x00, 0x00, 0xc0, 0x7f};
  float out = 1;
  ASSERT_TRUE(FirstChannel(nan, 1, SND_PCM_FORMAT_FLOAT_LE, 1, &out));
  EXPECT_EQ(out, 0.0f);
  EXPECT_FALSE(FirstChannel(nan, 1, SND_PCM_FORMAT_U8, 1, &out));
}

}  // namespace
