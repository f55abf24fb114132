// End to end: signals during a tone on the real-time test card, and the
// stuck-device timer's signal at the console's prompt.
#include "app/interrupt.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <sstream>

#include "testing/process.h"

namespace {

// A real-time test card that records to dir/card.raw and logs to
// dir/card.log, and a WAV recording of whatever plays on it, rec.
void WriteCard(const TestDir& dir) {
  WriteAlsaConfig(dir, TestCardType() + "pcm.card { type larkhorn_test " +
                           "realtime true record \"" + dir.path +
                           "/card.raw\" log \"" + dir.path + "/card.log\" }\n" +
                           "pcm.rec { type file slave.pcm card file \"" +
                           dir.path + "/rec.wav\" format wav }\n");
}

// Sends signal once the card has received a fifth of a second of tone.
RunExtras SignalMidTone(const TestDir& dir, int signal) {
  RunExtras extras;
  extras.whileRunning = [&dir, signal](pid_t pid, int) {
    WaitForBytes(dir.path + "/card.raw", 8820 * 6, pid);
    kill(pid, signal);
  };
  return extras;
}

TEST(InterruptTest, CtrlCInTheConsoleStopsOnlyTheTone) {
  TestDir dir;
  WriteCard(dir);
  RunResult run = RunLarkhorn(dir, {}, "s card l 10 p l 1 p x\n", {},
                              SignalMidTone(dir, SIGINT));
  EXPECT_EQ(run.signal, 0);
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(run.err, "");
  // The menu came back and the next commands were taken.
  EXPECT_NE(run.out.find("Enter 'l' to change playback length from 1.0"),
            std::string::npos);
  const std::string log = ReadFile(dir.path + "/card.log");
  const size_t firstClose = log.find("close received=");
  ASSERT_NE(firstClose, std::string::npos) << log;
  EXPECT_LT(std::stol(log.substr(firstClose + 15)), 441000) << log;
  EXPECT_NE(log.find("close received=44100 "), std::string::npos) << log;
  const std::vector<int32_t> frames =
      MonoFromStereo24(ReadFile(dir.path + "/card.raw"));
  ASSERT_GE(frames.size(), 44100u);
  EXPECT_TRUE(std::vector<int32_t>(frames.end() - 44100, frames.end()) ==
              ExpectedTone(440.0f, 44100, 44100, 25.0f));
}

// Interrupted one-shot or ended from the console, the device is closed
// first: the WAV file's header counts the data it holds.
TEST(InterruptTest, SignalsEndTheProgramWithTheRecordingClosed) {
  for (const auto& [signal, input, args] :
       {std::tuple{SIGINT, "", std::vector<std::string>{"440", "10", "rec"}},
        std::tuple{SIGTERM, "s rec l 10 p x\n", std::vector<std::string>{}},
        std::tuple{SIGHUP, "s rec l 10 p x\n", std::vector<std::string>{}},
        std::tuple{SIGPIPE, "", std::vector<std::string>{"440", "10", "rec"}},
        std::tuple{SIGALRM, "", std::vector<std::string>{"440", "10", "rec"}},
        std::tuple{SIGUSR1, "s rec l 10 p x\n", std::vector<std::string>{}},
        std::tuple{SIGUSR2, "", std::vector<std::string>{"440", "10", "rec"}},
        // Held: one-shot, and in the console with the input still open.
        std::tuple{
            SIGTERM, "",
            std::vector<std::string>{"--hold", "--device", "rec", "440"}},
        std::tuple{
            SIGINT, "",
            std::vector<std::string>{"--hold", "--device=rec", "--note", "A4"}},
        std::tuple{SIGHUP, "p\n",
                   std::vector<std::string>{"--hold", "--device", "rec"}}}) {
    TestDir dir;
    WriteCard(dir);
    RunExtras extras = SignalMidTone(dir, signal);
    extras.inputOnPipe = args.size() == 3;  // the held console's
    RunResult run = RunLarkhorn(dir, args, input, {}, extras);
    EXPECT_EQ(run.signal, signal);
    const std::string wav = ReadFile(dir.path + "/rec.wav");
    EXPECT_GT(wav.size(), 44u + 8820 * 6) << signal;
    EXPECT_TRUE(WavSizesMatch(wav)) << signal;
    if (!args.empty() && args[0] == std::string("--hold")) {
      // A held tone is the same tone, for as long as it sounded.
      const std::vector<int32_t> played =
          MonoFromStereo24(ReadFile(dir.path + "/card.raw"));
      ASSERT_LT(played.size(), 352800u);
      std::vector<int32_t> tone = ExpectedTone(440.0f, 44100, 352800, 25.0f);
      tone.resize(played.size());
      EXPECT_TRUE(played == tone) << signal;
    }
  }
}

// A signal the caller ignores (as nohup ignores SIGHUP) stays ignored.
TEST(InterruptTest, IgnoredSignalsStayIgnored) {
  TestDir dir;
  WriteCard(dir);
  RunExtras extras = SignalMidTone(dir, SIGHUP);
  extras.ignoredSignals = {SIGHUP};
  RunResult run = RunLarkhorn(dir, {"440", "1", "card"}, "", {}, extras);
  EXPECT_EQ(run.signal, 0);
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(MonoFromStereo24(ReadFile(dir.path + "/card.raw")),
            ExpectedTone(440.0f, 44100, 44100, 25.0f));
}

// Past a file-size limit the recording's write fails and is reported; the
// file keeps a header that counts what it holds.
TEST(InterruptTest, FileSizeLimitEndsWithTheWriteError) {
  TestDir dir;
  WriteAlsaConfig(dir, TestCardType() + "pcm.card { type larkhorn_test }\n" +
                           "pcm.rec { type file slave.pcm card file \"" +
                           dir.path + "/rec.wav\" format wav }\n");
  RunExtras extras;
  extras.fileSizeLimit = 100000;
  RunResult run = RunLarkhorn(dir, {"440", "2", "rec"}, "", {}, extras);
  EXPECT_EQ(run.signal, 0);
  EXPECT_EQ(run.exitStatus, 1);
  EXPECT_NE(run.err.find("unable to write to pcm device: "), std::string::npos)
      << run.err;
  EXPECT_TRUE(WavSizesMatch(ReadFile(dir.path + "/rec.wav")));
}

// A recording into a pipe that nobody reads blocks inside the sound
// library: one signal still ends the program.
TEST(InterruptTest, OneSignalEndsPlaybackStuckInTheLibrary) {
  TestDir dir;
  const std::string fifo = dir.path + "/fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  const int capacity = fcntl(reader, F_GETPIPE_SZ);
  WriteAlsaConfig(dir, TestCardType() + "pcm.card { type larkhorn_test }\n" +
                           "pcm.stuck { type file slave.pcm card file \"" +
                           fifo + "\" format raw }\n");
  RunExtras extras;
  extras.whileRunning = [reader, capacity](pid_t pid, int) {
    // Once the pipe is full, every write of the recording blocks.
    WaitFor([&] {
      int queued = 0;
      return ioctl(reader, FIONREAD, &queued) != 0 || queued >= capacity ||
             kill(pid, 0) != 0;
    });
    kill(pid, SIGTERM);
  };
  RunResult run = RunLarkhorn(dir, {"440", "10", "stuck"}, "", {}, extras);
  close(reader);
  EXPECT_FALSE(run.hung);
  EXPECT_EQ(run.signal, SIGTERM);
}

// Whether process pid waits in a read of its standard input with no signal
// pending: any sent to it before has been handled.
bool WaitsForInput(pid_t pid) {
  const std::string process = "/proc/" + std::to_string(pid);
  std::istringstream status(ReadFile(process + "/status"));
  std::string field, pending;
  while (status >> field >> pending) {
    if ((field == "SigPnd:" || field == "ShdPnd:") &&
        std::stoull(pending, nullptr, 16) != 0) {
      return false;
    }
    status.ignore(SIZE_MAX, '\n');
  }
  std::istringstream call(ReadFile(process + "/syscall"));
  long number = -1;
  std::string fd;
  call >> number >> fd;
  return number == SYS_read && fd == "0x0";
}

// The stuck-device timer's signal, before any tone and after one, is
// nothing to a console that waits for input from a pipe: it reads on.
TEST(InterruptTest, TimerSignalAtThePromptIsNothing) {
  TestDir dir;
  const std::string recording = dir.path + "/tone.raw";
  WriteAlsaConfig(dir, RecordingDefault(recording));
  bool signalled = false;
  RunExtras piped;
  piped.inputOnPipe = true;
  piped.whileRunning = [&](pid_t pid, int typing) {
    auto waiting = [&] { return WaitFor([&] { return WaitsForInput(pid); }); };
    auto signalThenType = [&](const std::string& text) {
      return waiting() && kill(pid, SIGRTMIN) == 0 && waiting() &&
             write(typing, text.data(), text.size()) == ssize_t(text.size());
    };
    signalled = signalThenType("l 1 p\n");
    if (signalled) WaitForBytes(recording, 44100 * 6, pid);
    signalled = signalled && signalThenType("l 3\nx\n");
  };
  RunResult run = RunLarkhorn(dir, {}, "", {}, piped);
  EXPECT_TRUE(signalled);
  EXPECT_EQ(run.signal, 0);
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_NE(run.out.find("length from 3.0 seconds"), std::string::npos)
      << run.out;
}

}  // namespace
