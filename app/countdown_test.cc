#include "app/countdown.h"

#include <gtest/gtest.h>
#include <signal.h>

#include "testing/process.h"

namespace {

// On a terminal the status line counts down and is erased at the end;
// elsewhere nothing is written; standard output never carries it.
TEST(CountdownTest, StatusLineOnlyOnATerminal) {
  TestDir dir;
  WriteAlsaConfig(
      dir, TestCardType() + "pcm.card { type larkhorn_test realtime true }\n");
  RunExtras terminal;
  terminal.stderrOnTerminal = true;
  RunResult shown = RunLarkhorn(dir, {"440", "1", "card"}, "", {}, terminal);
  EXPECT_EQ(shown.exitStatus, 0);
  // (A loaded machine may add an "RX" line.)
  EXPECT_EQ(shown.out.rfind("Frequency = 440.00 Hz\n", 0), 0u) << shown.out;
  EXPECT_EQ(shown.out.find("left"), std::string::npos) << shown.out;
  const std::string first =
      "\r440.00 Hz  1.0 s left of 1.0 s  (Ctrl-C to stop)\033[K";
  EXPECT_EQ(shown.err.compare(0, first.size(), first), 0) << shown.err;
  EXPECT_NE(shown.err.find("\r440.00 Hz  0."), std::string::npos) << shown.err;
  const std::string erase = "\r\033[K";
  ASSERT_GE(shown.err.size(), erase.size());
  EXPECT_EQ(shown.err.substr(shown.err.size() - erase.size()), erase);

  RunResult plain = RunLarkhorn(dir, {"440", "1", "card"});
  EXPECT_EQ(plain.exitStatus, 0);
  EXPECT_EQ(plain.err, "");

  // A held tone counts the seconds held, until Ctrl-C ends it.
  const std::string raw = dir.path + "/held.raw";
  WriteAlsaConfig(dir, TestCardType() +
                           "pcm.card { type larkhorn_test realtime true "
                           "record \"" +
                           raw + "\" }\n");
  terminal.whileRunning = [&raw](pid_t pid, int) {
    WaitForBytes(raw, 4410 * 6, pid);
    kill(pid, SIGINT);
  };
  RunResult held =
      RunLarkhorn(dir, {"--hold", "--device=card", "440"}, "", {}, terminal);
  EXPECT_EQ(held.signal, SIGINT);
  const std::string line = "\r440.00 Hz  held 0 s  (Ctrl-C to stop)\033[K";
  EXPECT_EQ(held.err.compare(0, line.size(), line), 0) << held.err;
}

}  // namespace
