#include "audio/pcm.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/hint.h"
#include "testing/pitch_estimate.h"
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
    PcmDevice device;
    PcmError err;
    ASSERT_TRUE(
        OpenPcm("file:'" + recording + "',raw", 44100, 2, &device, &err));
    ASSERT_TRUE(AllocateWriteBuffers(device));
    EXPECT_TRUE(
        PLAY(device, WholeTone(packed.data(), frames), {}, nullptr, &err));
    ClosePcm(device);
    EXPECT_EQ(device.rate, 44100u);

    std::string expected;
    for (int32_t i = 0; i < frames; ++i) {
      for (int channel = 0; channel < 2; ++channel) {
        expected.append(reinterpret_cast<const char*>(&packed[3 * i]), 3);
      }
    }
    EXPECT_EQ(ReadFile(recording), expected) << frames << " frames";
  }
}

// A source is asked for its frames in order, at most a buffer's worth at a
// time, and a stop is seen between writes; the library itself prints
// nothing, and says which step of opening failed.
struct Counter {
  std::vector<uint8_t> frames;
  int64_t asked = 0;
  long most = 0;
  bool stop = false;
};

const uint8_t* CountedFrames(int64_t position, long count, void* context) {
  Counter& counter = *static_cast<Counter*>(context);
  EXPECT_EQ(position, counter.asked);
  counter.asked += count;
  counter.most = std::max(counter.most, count);
  counter.stop = counter.asked >= 10000;
  return counter.frames.data();
}

TEST(PlayTest, SourceAskedInOrderUntilStoppedAndNothingPrinted) {
  TestDir dir;
  const std::string recording = dir.path + "/held.raw";
  Counter counter;
  PcmDevice device;
  PcmError err;
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  ASSERT_TRUE(OpenPcm("file:'" + recording + "',raw", 44100, 2, &device, &err));
  ASSERT_TRUE(AllocateWriteBuffers(device));
  counter.frames.assign(3 * device.bufferFrames, 0x5a);
  FrameSource source;
  source.frames = kPlayUntilStopped;
  source.read = CountedFrames;
  source.context = &counter;
  PlayControl control;
  control.stopped = [](void* context) {
    return static_cast<Counter*>(context)->stop;
  };
  control.context = &counter;
  int underruns = 0;
  EXPECT_TRUE(PLAY(device, source, control, &underruns, &err));
  EXPECT_EQ(underruns, 0);
  EXPECT_TRUE(PreparePcm(device, &err));
  ClosePcm(device);
  EXPECT_GE(counter.asked, 10000);
  EXPECT_LE(counter.most, long(device.bufferFrames));
  EXPECT_EQ(ReadFile(recording).size(), 6u * size_t(counter.asked));

  EXPECT_FALSE(OpenPcm("nosuchdevice", 44100, 2, &device, &err));
  EXPECT_EQ(device.pcm, nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  // alsa-lib may say what it could not find; this library says nothing.
  EXPECT_EQ(testing::internal::GetCapturedStderr().find("pcm device"),
            std::string::npos);
  EXPECT_EQ(err.step, PcmStep::Open);
  EXPECT_LT(err.code, 0);
  EXPECT_STRNE(PcmErrorText(err), "");
}

}  // namespace

// End to end: the built binary plays on the test sound card
// (testing/test_card.cc), which records what it receives and logs what it
// saw, and fails the way real cards do.
namespace {

// ALSA configuration for a test card device called name, recording to
// dir/name.raw and logging to dir/name.log, with the card's options.
std::string Card(const TestDir& dir, const std::string& name,
                 const std::string& options) {
  return "pcm." + name + " { type larkhorn_test record \"" + dir.path + "/" +
         name + ".raw\" log \"" + dir.path + "/" + name + ".log\" " + options +
         " }\n";
}

// Writes the configuration: the card type, a silent default and devices.
void WriteCards(const TestDir& dir, const std::string& devices) {
  WriteAlsaConfig(dir,
                  TestCardType() + "pcm.!default { type null }\n" + devices);
}

std::vector<int32_t> Recorded(const TestDir& dir, const std::string& name) {
  return MonoFromStereo24(ReadFile(dir.path + "/" + name + ".raw"));
}

std::string CardLog(const TestDir& dir, const std::string& name) {
  return ReadFile(dir.path + "/" + name + ".log");
}

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

const char kA440[] = "Frequency = 440.00 Hz\n";

TEST(TestCardTest, CardThatOnlyRunsAt48000) {
  TestDir dir;
  WriteCards(dir, Card(dir, "card", "rates [ 48000 ]"));
  RunResult run = RunLarkhorn(dir, {"440", "2", "card"});
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(run.out, std::string(kA440) +
                         "Warning Soundcard Did Not Return Requested "
                         "Samplerate...this will affect tuning\n"
                         "Samplerate = 48000\n");
  EXPECT_EQ(run.err, std::string(kDeviceRateHint) + "\n");
  EXPECT_TRUE(Contains(CardLog(dir, "card"),
                       "hw_params access=RW_NONINTERLEAVED format=S24_3LE "
                       "channels=2 rate=48000 period=1024 buffer=2048\n"))
      << CardLog(dir, "card");
  // The tone is made at the card's rate: in tune, and two seconds long.
  const std::vector<int32_t> recorded = Recorded(dir, "card");
  EXPECT_EQ(recorded.size(), 96000u);
  EXPECT_EQ(recorded, ExpectedTone(440.0f, 48000, 96000, 25.0f));
  const SineFit fit = FitSine(recorded, recorded.size());
  EXPECT_LT(std::fabs(Cents(fit.cyclesPerSample * 48000, 440)), 0.01);
}

// In the console the rate the card settled on stays for the rest of the
// run: the next tone is made at 48000 Hz, with no second warning.
TEST(TestCardTest, ConsoleKeepsTheRateTheCardSettledOn) {
  TestDir dir;
  WriteCards(dir, Card(dir, "card", "rates [ 48000 ]"));
  RunResult run = RunLarkhorn(dir, {}, "s card l 1 p l 8 p x\n");
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(run.err, std::string(kDeviceRateHint) + "\n");
  const std::string warning =
      "Warning Soundcard Did Not Return Requested Samplerate...this will "
      "affect tuning\nSamplerate = 48000\n";
  EXPECT_EQ(Count(run.out, warning), 1u) << run.out;
  EXPECT_EQ(Count(run.out, kA440), 2u) << run.out;
  EXPECT_EQ(run.out.find(warning), run.out.find(kA440) + strlen(kA440))
      << run.out;
  EXPECT_EQ(Count(CardLog(dir, "card"), "rate=48000"), 2u)
      << CardLog(dir, "card");
  EXPECT_TRUE(Contains(CardLog(dir, "card"), "close received=384000"))
      << CardLog(dir, "card");

  std::vector<int32_t> expected = ExpectedTone(440.0f, 48000, 48000, 25.0f);
  const std::vector<int32_t> second =
      ExpectedTone(440.0f, 48000, 384000, 25.0f);
  expected.insert(expected.end(), second.begin(), second.end());
  EXPECT_EQ(Recorded(dir, "card"), expected);
}

TEST(TestCardTest, CardsThatCannotBeSetUpEndWithStatusOne) {
  TestDir dir;
  // s16 refuses the read/write accesses too: the format is what it says.
  WriteCards(
      dir, Card(dir, "s16", "formats [ S16_LE ] access [ MMAP_INTERLEAVED ]") +
               Card(dir, "mmap", "access [ MMAP_INTERLEAVED ]") +
               Card(dir, "broken", "hw_params_error 5") +
               Card(dir, "busy", "open_error 16"));

  RunResult s16 = RunLarkhorn(dir, {"440", "1", "s16"});
  EXPECT_EQ(s16.exitStatus, 1);
  EXPECT_EQ(s16.err, "Unable to set playback format: Invalid argument\n" +
                         std::string(kPlughwHint) + "\n");
  EXPECT_EQ(s16.out,
            std::string(kA440) + "Try a different soundcard device name.\n");

  RunResult mmap = RunLarkhorn(dir, {"440", "1", "mmap"});
  EXPECT_EQ(mmap.exitStatus, 1);
  EXPECT_EQ(mmap.err, "unable to set hw parameters: Invalid argument\n");

  RunResult broken = RunLarkhorn(dir, {"440", "1", "broken"});
  EXPECT_EQ(broken.exitStatus, 1);
  EXPECT_EQ(broken.err, "unable to set hw parameters: Input/output error\n");
  EXPECT_EQ(broken.out, kA440);

  RunResult busy = RunLarkhorn(dir, {"440", "1", "busy"});
  EXPECT_EQ(busy.exitStatus, 1);
  EXPECT_EQ(busy.err, "unable to open pcm device: Device or resource busy\n" +
                          std::string(kListDevicesHint) + "\n");
  EXPECT_EQ(busy.out, kA440);

  for (const char* name : {"s16", "mmap", "broken", "busy"}) {
    EXPECT_EQ(ReadFile(dir.path + "/" + name + ".raw"), "") << name;
  }
}

// Like a sound server's ALSA device: interleaved access only, in real time.
TEST(TestCardTest, InterleavedOnlyCardGetsEveryFrame) {
  TestDir dir;
  WriteCards(dir,
             Card(dir, "paced", "access [ RW_INTERLEAVED ] realtime true") +
                 Card(dir, "fast", "access [ RW_INTERLEAVED ]"));
  const std::vector<int32_t> tone = ExpectedTone(440.0f, 44100, 44100, 25.0f);
  for (const std::string device : {"paced", "plug:fast"}) {
    const std::string name = device == "paced" ? "paced" : "fast";
    RunResult run = RunLarkhorn(dir, {"440", "1", device});
    EXPECT_FALSE(run.hung) << device;
    EXPECT_EQ(run.exitStatus, 0) << device;
    EXPECT_EQ(run.err, "") << device;
    EXPECT_TRUE(Contains(CardLog(dir, name), "access=RW_INTERLEAVED"))
        << CardLog(dir, name);
    EXPECT_EQ(Recorded(dir, name), tone) << device;
  }
}

// After an underrun the same frames are offered again: the card receives
// the whole tone once, in order.
TEST(TestCardTest, UnderrunLosesNoFrame) {
  TestDir dir;
  WriteCards(
      dir,
      Card(dir, "plain", "realtime true underrun_after 10000") +
          Card(dir, "interleaved",
               "realtime true underrun_after 30000 access [ RW_INTERLEAVED ]"));
  const std::vector<int32_t> tone = ExpectedTone(440.0f, 44100, 44100, 25.0f);
  for (const std::string name : {"plain", "interleaved"}) {
    RunResult run = RunLarkhorn(dir, {"440", "1", name});
    EXPECT_EQ(run.exitStatus, 0) << name;
    EXPECT_TRUE(Contains(run.out, "\nRX\n")) << run.out;
    EXPECT_EQ(run.err, "") << name;
    const std::string log = CardLog(dir, name);
    EXPECT_TRUE(Contains(log, "underrun played=")) << log;
    EXPECT_TRUE(Contains(log, "close received=44100 played=44100")) << log;
    EXPECT_EQ(Recorded(dir, name), tone) << name;
  }
}

// An unplugged card ends the program with the write error and status 1,
// whether it vanishes while frames are written, while the program waits
// for room, or while the last frames play out.
TEST(TestCardTest, DisconnectedCardEndsWithTheWriteError) {
  TestDir dir;
  WriteCards(dir,
             Card(dir, "fast", "disconnect_after 10000") +
                 Card(dir, "paced", "realtime true disconnect_after 10000") +
                 Card(dir, "draining", "realtime true disconnect_after 43500") +
                 "pcm.recorded { type file slave.pcm paced file \"" + dir.path +
                 "/paced.wav\" format wav }\n");
  for (const std::string name : {"fast", "paced", "draining"}) {
    RunResult run = RunLarkhorn(dir, {"440", "1", name});
    EXPECT_FALSE(run.hung) << name;
    EXPECT_EQ(run.exitStatus, 1) << name;
    EXPECT_EQ(run.out, kA440) << name;
    EXPECT_EQ(run.err, "unable to write to pcm device: No such device\n")
        << name;
    EXPECT_TRUE(Contains(CardLog(dir, name), "disconnect played="))
        << CardLog(dir, name);
  }
  // The device is closed before the program ends: a recording keeps what
  // reached it.
  RunResult recorded = RunLarkhorn(dir, {"440", "1", "recorded"});
  EXPECT_EQ(recorded.exitStatus, 1);
  EXPECT_TRUE(WavSizesMatch(ReadFile(dir.path + "/paced.wav")));
  // Held, one-shot or in the console, the same.
  for (const std::string input : {"", "p\n"}) {
    std::vector<std::string> args = {"--hold", "--device=recorded"};
    if (input.empty()) args.push_back("440");
    // The input stays open until the program has ended by itself.
    RunExtras open;
    open.inputOnPipe = true;
    open.whileRunning = [](pid_t pid, int) {
      WaitFor([pid] {
        const std::string stat =
            ReadFile("/proc/" + std::to_string(pid) + "/stat");
        return stat.find(") Z ") != std::string::npos;
      });
    };
    RunResult held = RunLarkhorn(dir, args, input, {}, open);
    EXPECT_EQ(held.exitStatus, 1) << input;
    EXPECT_TRUE(
        Contains(held.err, "unable to write to pcm device: No such device\n"))
        << held.err;
    EXPECT_TRUE(WavSizesMatch(ReadFile(dir.path + "/paced.wav")));
  }
}

// Cards with a fixed channel count other than two get the tone on every
// channel, through either access.
TEST(TestCardTest, EveryChannelOfAnyCountCarriesTheTone) {
  TestDir dir;
  WriteCards(dir,
             Card(dir, "six", "channels [ 6 ] access [ RW_NONINTERLEAVED ]") +
                 Card(dir, "mono", "channels [ 1 ] access [ RW_INTERLEAVED ]"));
  const std::vector<int32_t> tone = ExpectedTone(440.0f, 44100, 44100, 25.0f);
  for (const auto& [name, channels] :
       {std::pair{"six", 6}, std::pair{"mono", 1}}) {
    RunResult run = RunLarkhorn(dir, {"440", "1", name});
    EXPECT_EQ(run.exitStatus, 0) << name;
    EXPECT_EQ(run.out, kA440) << name;
    EXPECT_EQ(
        MonoFromFrames24(ReadFile(dir.path + "/" + name + ".raw"), channels),
        tone)
        << name;
  }
}

// A card that keeps failing after a while (a sound server that died) ends
// the program soon, after a few underruns; one whose drain never returns
// does not keep it once the tone has played.
TEST(TestCardTest, DeadCardsAndEndlessDrainsEnd) {
  TestDir dir;
  WriteCards(dir, Card(dir, "dead", "realtime true dead_after 10000") +
                      Card(dir, "paced", "realtime true drain_hangs true") +
                      Card(dir, "fast", "drain_hangs true"));
  RunResult dead = RunLarkhorn(dir, {"440", "1", "dead"});
  EXPECT_FALSE(dead.hung);
  EXPECT_EQ(dead.exitStatus, 1);
  EXPECT_GE(Count(dead.out, "RX\n"), 1u);
  EXPECT_LE(Count(dead.out, "RX\n"), 10u) << dead.out;
  EXPECT_EQ(dead.err, "unable to write to pcm device: Broken pipe\n");

  // Run dry at the end, or still running with nothing left to play.
  for (const char* name : {"paced", "fast"}) {
    RunResult endless = RunLarkhorn(dir, {"440", "1", name});
    EXPECT_FALSE(endless.hung) << name;
    EXPECT_EQ(endless.exitStatus, 0) << name;
    EXPECT_EQ(endless.err, "") << name;
    EXPECT_EQ(Recorded(dir, name), ExpectedTone(440.0f, 44100, 44100, 25.0f))
        << name;
  }
}

// A card that stops taking frames without an error does not hang the
// program: it gives up after its no-progress limit.
TEST(TestCardTest, StalledCardEndsWithAnError) {
  TestDir dir;
  WriteCards(dir, Card(dir, "stalled", "stall_after 10000"));
  RunResult run = RunLarkhorn(dir, {"440", "1", "stalled"});
  EXPECT_FALSE(run.hung);
  EXPECT_EQ(run.exitStatus, 1);
  EXPECT_EQ(run.out, kA440);
  EXPECT_EQ(run.err, "unable to write to pcm device: Input/output error\n");
}

// On a card paced by its period interrupts, every write but the tone's last
// ends on a period boundary, so that each interrupt finds a period free; and
// whatever the card plays past the frames written, at the end of the tone
// or in an underrun, is silence. 82.41 Hz ends its whole cycles before the
// last frame; 44100 frames are no whole number of periods.
TEST(TestCardTest, PeriodInterruptCardGetsWholePeriodsAndNoStaleSound) {
  TestDir dir;
  WriteCards(dir, Card(dir, "a440", "period_interrupts true") +
                      Card(dir, "e82", "period_interrupts true") +
                      Card(dir, "underrun",
                           "period_interrupts true underrun_after 20000"));
  for (const auto& [name, frequency] :
       {std::pair{"a440", "440"}, std::pair{"e82", "82.41"},
        std::pair{"underrun", "440"}}) {
    RunResult run = RunLarkhorn(dir, {frequency, "1", name});
    EXPECT_EQ(run.exitStatus, 0) << name;
    EXPECT_EQ(run.err, "") << name;
    EXPECT_EQ(Recorded(dir, name),
              ExpectedTone(std::stof(frequency), 44100, 44100, 25.0f))
        << name;
    const std::string log = CardLog(dir, name);
    std::vector<long> starts;
    for (size_t at = log.find("write at="); at != std::string::npos;
         at = log.find("write at=", at + 1)) {
      starts.push_back(std::stol(log.substr(at + 9)));
    }
    ASSERT_GE(starts.size(), 2u) << log;
    EXPECT_EQ(std::count_if(starts.begin(), starts.end() - 1,
                            [](long start) { return start % 1024 != 0; }),
              0)
        << name << "\n"
        << log;
    EXPECT_TRUE(Contains(log, " sounding=0\n")) << log;
  }
  EXPECT_TRUE(Contains(CardLog(dir, "underrun"), "underrun played="))
      << CardLog(dir, "underrun");
  EXPECT_FALSE(Contains(CardLog(dir, "underrun"), "written=0 "))
      << CardLog(dir, "underrun");
}

TEST(TestCardTest, RealTimeCardPlaysTheWholeToneInRealTime) {
  TestDir dir;
  WriteCards(dir, Card(dir, "card", "realtime true"));
  RunResult run = RunLarkhorn(dir, {"440", "2", "card"});
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(Recorded(dir, "card"), ExpectedTone(440.0f, 44100, 88200, 25.0f));
  // The program returns only once the card has played the tone out.
  EXPECT_GE(run.wallSeconds, 1.95);
  const double cpuPerSecond = run.cpuSeconds / 2.0;
  RecordProperty("cpu_seconds_per_tone_second", std::to_string(cpuPerSecond));
  printf("real-time card: %.2f s wall, %.4f s CPU per second of tone\n",
         run.wallSeconds, cpuPerSecond);
}

}  // namespace
