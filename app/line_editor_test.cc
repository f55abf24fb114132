// The console at a terminal: lines come through the line editor, which
// recalls earlier lines; elsewhere the input is read exactly as before.
#include "app/line_editor.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <termios.h>
#include <unistd.h>

#include <csignal>
#include <string>

#include "testing/process.h"

namespace {

std::string Menu(const std::string& hz, const std::string& seconds) {
  return "Enter 'p' to play current note (" + hz + " Hz)\n" +
         "Enter 'o' to change the octave\n" +
         "Enter 'l' to change playback length from " + seconds + " seconds\n" +
         "Enter 'z' to play a specific frequency\n" +
         "Enter 's' to change soundcard device from 'default'\n" +
         "Enter 'v' to change output volume from 25 percent.\n" +
         "Enter 'h' for help and options\n" + "Enter 'x' to exit\n";
}

// The Up arrow, as a terminal sends it.
const char kUp[] = "\033[A";

TEST(LineEditorTest, UpArrowReplaysTheLastLineOnlyAtATerminal) {
  TestDir dir;
  WriteAlsaConfig(dir, RecordingDefault(dir.path + "/tone.raw"));
  const std::string typed = std::string("l 1 z 523.25\r") + kUp + "\rx\r";

  RunExtras terminal;
  terminal.consoleOnTerminal = true;
  RunResult edited = RunLarkhorn(dir, {}, typed, {"TERM=vt100"}, terminal);
  EXPECT_EQ(edited.exitStatus, 0);
  EXPECT_EQ(edited.err, "");
  EXPECT_EQ(Count(edited.out, "Frequency = 523.25 Hz"), 2u) << edited.out;

  // From a file the arrow's bytes are a word like any other, a note name
  // that sounds as A; the transcript is byte for byte what it always was.
  RunResult piped = RunLarkhorn(dir, {}, typed, {"TERM=vt100"});
  EXPECT_EQ(piped.exitStatus, 0);
  EXPECT_EQ(WithoutConsoleHints(piped.err), "");
  EXPECT_EQ(piped.out, "\nLarkhorn\n\n" + Menu("440.0", "8.0") +
                           "Enter length in seconds\n" + Menu("440.0", "1.0") +
                           "Enter frequency in Hz\n" +
                           "Frequency = 523.25 Hz\n" + Menu("523.2", "1.0") +
                           Menu("440.0", "1.0"));
}

// Ctrl-C while a line is being edited ends the program by the signal, as
// it does at a plain terminal, and leaves the terminal in line-at-a-time
// mode with echo again.
TEST(LineEditorTest, InterruptAtThePromptRestoresTheTerminal) {
  TestDir dir;
  WriteAlsaConfig(dir, RecordingDefault(dir.path + "/tone.raw"));
  bool editing = false, restored = false;
  termios settings{};
  RunExtras terminal;
  terminal.consoleOnTerminal = true;
  terminal.whileRunning = [&](pid_t pid) {
    // The terminal stays open here after the program has ended.
    const std::string input = "/proc/" + std::to_string(pid) + "/fd/0";
    int fd = -1;
    auto opened = [&] {
      if (fd < 0) fd = open(input.c_str(), O_RDWR | O_NOCTTY);
      // Until the child has exec'd its input is still a file.
      if (fd >= 0 && !isatty(fd)) fd = (close(fd), -1);
      return fd >= 0;
    };
    auto canonical = [&](bool wanted) {
      return tcgetattr(fd, &settings) == 0 &&
             bool(settings.c_lflag & ICANON) == wanted;
    };
    editing = WaitFor(opened) && WaitFor([&] { return canonical(false); });
    kill(pid, SIGINT);
    restored = editing && WaitFor([&] { return canonical(true); });
    if (fd >= 0) close(fd);
  };
  RunResult run = RunLarkhorn(dir, {}, "", {"TERM=vt100"}, terminal);
  EXPECT_TRUE(editing) << "never edited a line";
  EXPECT_EQ(run.signal, SIGINT);
  EXPECT_TRUE(restored);
  EXPECT_TRUE(settings.c_lflag & ECHO);
}

}  // namespace
