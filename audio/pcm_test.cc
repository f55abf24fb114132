#include "audio/pcm.h"

#include <gtest/gtest.h>

#include <vector>

#include "testing/process.h"

namespace {

std::vector<uint8_t> Ramp(int32_t frames) {
  std::vector<uint8_t> packed(3 * frames);
  for (size_t i = 0; i < packed.size(); ++i) packed[i] = uint8_t(i * 7 + 1);
  return packed;
}

// Every frame reaches the device, on both channels, also when the tone is
// shorter than one period or fills no whole number of periods.
TEST(PlayTest, WritesEveryFrameToBothChannels) {
  TestDir dir;
  for (int32_t frames : {0, 1, 100, 1024, 1025, 5000}) {
    const std::string recording =
        dir.path + "/t" + std::to_string(frames) + ".raw";
    std::vector<uint8_t> packed = Ramp(frames);
    uint32_t rate = 44100;
    PLAY("file:'" + recording + "',raw", rate, 2, frames, packed.data());
    EXPECT_EQ(rate, 44100u);

    std::string expected;
    for (int32_t i = 0; i < frames; ++i) {
      for (int channel = 0; channel < 2; ++channel) {
        expected.append(reinterpret_cast<const char*>(&packed[3 * i]), 3);
      }
    }
    EXPECT_EQ(ReadFile(recording), expected) << frames << " frames";
  }
}

}  // namespace
