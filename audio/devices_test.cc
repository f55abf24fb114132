// The device lists end to end: `larkhorn --list-devices` and
// `--list-capture-devices` with the test's own ALSA configuration.
#include "audio/devices.h"

#include <gtest/gtest.h>

#include <string>

#include "testing/process.h"

namespace {

// A hinted device whose description runs over two lines.
const char kHinted[] =
    "pcm.larkhorn_hinted { type null hint { show on description "
    "\"Larkhorn test device\nsecond line\" } }\n";
const char kHintedLine[] =
    "\nlarkhorn_hinted  Larkhorn test device, second line\n";

TEST(ListDevicesTest, ListsHintedPlaybackDevicesWithDefaultFirst) {
  TestDir dir;
  // A default without a description of its own gets one, and is listed
  // once though the hints name it too.
  WriteAlsaConfig(dir, std::string("pcm.!default { type null }\n") + kHinted);
  RunResult run = RunLarkhorn(dir, {"--list-devices"});
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.out.find("default  Default ALSA output\n"), 0u) << run.out;
  EXPECT_NE(run.out.find(kHintedLine), std::string::npos) << run.out;
  EXPECT_EQ(run.out.find("\ndefault "), std::string::npos) << run.out;
}

// The capture list alike, for --listen: its own default description.
TEST(ListDevicesTest, ListsHintedCaptureDevicesWithDefaultFirst) {
  TestDir dir;
  WriteAlsaConfig(dir, std::string("pcm.!default { type null }\n") + kHinted);
  RunResult run = RunLarkhorn(dir, {"--list-capture-devices"});
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.out.find("default  Default ALSA input\n"), 0u) << run.out;
  EXPECT_NE(run.out.find(kHintedLine), std::string::npos) << run.out;
}

}  // namespace
