#include "app/tone_request.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "pitch/note.h"
#include "synth/tone.h"
#include "testing/process.h"

namespace {

TEST(FrameCountTest, TruncatesRateTimesLength) {
  EXPECT_EQ(FrameCount(44100, 8.0f), 352800);
  EXPECT_EQ(FrameCount(44100, 1.0f), 44100);
  EXPECT_EQ(FrameCount(44100, 2.5f), 110250);
  EXPECT_EQ(FrameCount(44100, 120.0f), 5292000);
  EXPECT_EQ(FrameCount(44100, 1.99999f), 88199);
  EXPECT_EQ(FrameCount(48000, 8.0f), 384000);
  EXPECT_EQ(FrameCount(44100, NAN), 0);
  EXPECT_EQ(FrameCount(44100, -1.0f), 0);
  EXPECT_EQ(FrameCount(4000000000u, 120.0f), INT32_MAX);
}

TEST(PlayToneTest, PlaysTheWholeToneOnTheNamedDevice) {
  TestDir dir;
  const std::string recording = dir.path + "/tone.raw";
  ToneSettings settings;
  settings.frequency = 1000.0f;
  settings.lengthSeconds = 1.0f;
  settings.volumePercent = -50.0f;
  settings.deviceName = "file:'" + recording + "',raw";
  testing::internal::CaptureStdout();
  EXPECT_TRUE(PlayTone(settings));
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Frequency = 1000.00 Hz\n");
  EXPECT_EQ(settings.sampleRate, 44100u);
  EXPECT_EQ(MonoFromStereo24(ReadFile(recording)),
            ExpectedTone(1000.0f, 44100, 44100, -50.0f));
}

// The notes sounding with it follow the tuning; a frequency does not.
TEST(PlayToneTest, PlaysTheChordInTheTimbre) {
  TestDir dir;
  const std::string recording = dir.path + "/tone.raw";
  ToneSettings settings;
  settings.frequency = 1000.0f;
  settings.lengthSeconds = 1.0f;
  settings.deviceName = "file:'" + recording + "',raw";
  settings.timbre = FindTimbre("warm");
  settings.withNotes = {{"e", -1}};  // E4, written for a Bb instrument: D4
  settings.tuning.transpose = -2;
  testing::internal::CaptureStdout();
  EXPECT_TRUE(PlayTone(settings));
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Frequency = 1000.00 Hz\n");
  const Tone chord = PlanTone(*settings.timbre,
                              {1000.0f, static_cast<float>(Get_Freq("d", -1))},
                              44100, 25.0f, 44100);
  std::vector<int32_t> expected(44100);
  MakeToneFrames(chord, 0, 44100, expected.data());
  EXPECT_EQ(MonoFromStereo24(ReadFile(recording)), expected);
}

}  // namespace
