// The fuzz target's pieces under the ordinary test build: its stand-in tone
// request must stop on settings the console promises never to produce, and
// the target must get through a few typical and hostile inputs.
#include "app/console_fuzz.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

namespace {

TEST(CheckedToneTest, StopsOnSettingsTheConsoleNeverProduces) {
  ToneSettings fine;
  fine.frequency = 440.0f;
  fine.lengthSeconds = 1.0f;
  EXPECT_TRUE(CheckedTone(fine));
  fine.volumePercent = -100.0f;
  fine.frequency = 1e38f;
  EXPECT_TRUE(CheckedTone(fine));

  ToneSettings broken = fine;
  broken.lengthSeconds = NAN;
  EXPECT_DEATH(CheckedTone(broken), "length outside");
  broken = fine;
  broken.lengthSeconds = 120.5f;
  EXPECT_DEATH(CheckedTone(broken), "length outside");
  broken = fine;
  broken.volumePercent = -100.5f;
  EXPECT_DEATH(CheckedTone(broken), "volume");
  broken = fine;
  broken.volumePercent = 100.5f;
  EXPECT_DEATH(CheckedTone(broken), "volume");
  broken = fine;
  broken.frequency = NAN;
  EXPECT_DEATH(CheckedTone(broken), "frequency");
  broken = fine;
  broken.octave = 2;
  EXPECT_DEATH(CheckedTone(broken), "octave");
  broken = fine;
  broken.octave = -0.5;
  EXPECT_DEATH(CheckedTone(broken), "octave");
  broken = fine;
  broken.noteName = std::string(65537, 'a');
  EXPECT_DEATH(CheckedTone(broken), "token");
}

TEST(ConsoleFuzzTargetTest, RunsTypicalAndHostileInputs) {
  const std::string inputs[] = {
      "",
      "x",
      "c# p o -1 a p o 2 p G6 B4 h l 0 v 150 z 1000 s hw:9 p x",
      "z nan z inf z -1e309 z 0x1p-1074 l nan l -inf v -inf v nan o 08 "
      "o 2147483648 o -2147483649 o 0x1 o 010 p",
      "l 1e309 v 1e309 z 1e39 o 99999999999999999999 p",
      "s " + std::string(70000, 'd') + " " + std::string(70000, '7') + " p",
      std::string("z\0\xff\x80 p\r\n\v\fo", 11),
      "o",
  };
  for (const std::string& input : inputs) {
    testing::internal::CaptureStdout();
    const int result = LLVMFuzzerTestOneInput(
        reinterpret_cast<const uint8_t*>(input.data()), input.size());
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(result, 0);
    EXPECT_EQ(out.compare(0, 11, "\nLarkhorn\n\n"), 0) << input.substr(0, 80);
  }
}

}  // namespace
