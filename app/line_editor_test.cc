// The console at a terminal: lines come through the line editor, which
// recalls earlier lines; elsewhere the input is read exactly as before.
#include "app/line_editor.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <csignal>
#include <fstream>
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
  EXPECT_EQ(WithoutHints(piped.err), "");
  EXPECT_EQ(piped.out, "\nLarkhorn\n\n" + Menu("440.0", "8.0") +
                           "Enter length in seconds\n" + Menu("440.0", "1.0") +
                           "Enter frequency in Hz\n" +
                           "Frequency = 523.25 Hz\n" + Menu("523.2", "1.0") +
                           Menu("440.0", "1.0"));
}

// Text beyond ASCII typed at a terminal reaches the program whole, in the
// user's character set; a byte that is no character there is dropped, and
// the Enter after it still ends the line.
TEST(LineEditorTest, NonAsciiDeviceNameTypedAtATerminal) {
  TestDir dir;
  const std::string device = "file:" + dir.path + "/m\u00fasica.wav,wav";
  RunExtras terminal;
  terminal.consoleOnTerminal = true;
  RunResult run = RunLarkhorn(dir, {}, "l 2\xe9\rl 1 s " + device + "\rp\rx\r",
                              {"TERM=vt100", "LC_ALL=C.UTF-8"}, terminal);
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(run.err, "");
  EXPECT_NE(run.out.find("length from 2.0 seconds"), std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find("device from '" + device + "'"), std::string::npos)
      << run.out;
  EXPECT_TRUE(WavSizesMatch(ReadFile(dir.path + "/m\u00fasica.wav")));
}

// At the prompt, after a tone: the stuck-device timer's signal is nothing,
// Ctrl-C drops the line typed so far and the console goes on, and a signal
// that ends the program leaves the terminal in line-at-a-time mode with
// echo again; the same with an ~/.editrc that switches to vi's keys.
TEST(LineEditorTest, SignalsAtThePrompt) {
  for (const char* editrc : {"", "bind -v\n"}) {
    SCOPED_TRACE(editrc);
    TestDir dir;
    std::ofstream(dir.path + "/.editrc") << editrc;
    const std::string recording = dir.path + "/tone.raw";
    WriteAlsaConfig(dir, RecordingDefault(recording));
    bool atPrompt = false, wentOn = false, restored = false;
    termios settings{};
    std::string shown;
    RunExtras terminal;
    terminal.consoleOnTerminal = true;
    terminal.whileRunning = [&](pid_t pid, int console) {
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
      auto shows = [&](const std::string& text) {
        return WaitFor([&] {
          ReadAvailable(console, &shown);
          return shown.find(text) != std::string::npos;
        });
      };
      auto type = [&](const std::string& text) {
        return write(console, text.data(), text.size()) == ssize_t(text.size());
      };
      // Editing again once the tone has been written.
      WaitForBytes(recording, 44100 * 6, pid);
      atPrompt = WaitFor(opened) && WaitFor([&] { return canonical(false); });
      kill(pid, SIGRTMIN);
      wentOn = atPrompt && type("abc") && shows("abc") && type("\003") &&
               shows("abc^C") && type("l 2\r") && shows("from 2.0 seconds");
      kill(pid, SIGUSR1);
      restored = atPrompt && WaitFor([&] { return canonical(true); });
      if (fd >= 0) close(fd);
    };
    RunResult run = RunLarkhorn(dir, {}, "l 1 p\r", {"TERM=vt100"}, terminal);
    EXPECT_TRUE(atPrompt) << "never edited a line after the tone";
    EXPECT_TRUE(wentOn) << shown;
    EXPECT_EQ(run.err, "");  // 'abc' was never read
    EXPECT_EQ(run.signal, SIGUSR1);
    EXPECT_TRUE(restored);
    EXPECT_TRUE(settings.c_lflag & ECHO);
  }
}

}  // namespace
