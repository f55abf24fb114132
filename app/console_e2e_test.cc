// End-to-end transcripts of the console: the built binary with scripted
// standard input, tones recorded through ALSA's file plugin.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <string>

#include "app/countdown.h"
#include "app/hint.h"
#include "pitch/note.h"
#include "testing/process.h"

namespace {

const char kTitle[] = "\nLarkhorn\n\n";

const char kFirstMenu[] =
    "Enter 'p' to play current note (440.0 Hz)\n"
    "Enter 'o' to change the octave\n"
    "Enter 'l' to change playback length from 8.0 seconds\n"
    "Enter 'z' to play a specific frequency\n"
    "Enter 's' to change soundcard device from 'default'\n"
    "Enter 'v' to change output volume from 25 percent.\n"
    "Enter 'h' for help and options\n"
    "Enter 'x' to exit\n";

const char kHelp[] =
    "\n"
    "-------------------------------------\n"
    "Larkhorn " LARKHORN_VERSION
    "\n"
    "\n"
    "This program may be run with command line arguments as follows:\n"
    "larkhorn <frequency in Hz> <time in seconds> <soundcard device>\n"
    "\n"
    "Or, run the program interactively using the commands below.\n"
    "Enter the note a,b,c,d,e,f,g plus '#' for a sharp and 'b' for a flat.\n"
    "For example: f# gb\n"
    "\n"
    "Enter G1 G2 G3 G4 G5 or G6 for guitar string tuning\n"
    "Enter B1 B2 B3 or B4 for bass string tuning\n"
    "-------------------------------------\n";

std::string Menu(const std::string& hz, const std::string& seconds = "8.0",
                 const std::string& percent = "25",
                 const std::string& device = "default") {
  return "Enter 'p' to play current note (" + hz + " Hz)\n" +
         "Enter 'o' to change the octave\n" +
         "Enter 'l' to change playback length from " + seconds + " seconds\n" +
         "Enter 'z' to play a specific frequency\n" +
         "Enter 's' to change soundcard device from '" + device + "'\n" +
         "Enter 'v' to change output volume from " + percent + " percent.\n" +
         "Enter 'h' for help and options\n" + "Enter 'x' to exit\n";
}

struct Console {
  TestDir dir;
  std::string recording = dir.path + "/tone.raw";
  Console() { WriteAlsaConfig(dir, RecordingDefault(recording)); }
  RunResult Run(const std::string& input) {
    RunResult run = RunLarkhorn(dir, {}, input);
    EXPECT_EQ(run.exitStatus, 0) << input;
    EXPECT_EQ(WithoutHints(run.err), "") << input;
    return run;
  }
  std::vector<int32_t> LastTone() {
    return MonoFromStereo24(ReadFile(recording));
  }
};

TEST(ConsoleTranscriptTest, FirstDisplayThenExitOrEndOfInput) {
  Console console;
  const std::string first = std::string(kTitle) + kFirstMenu;
  EXPECT_EQ(console.Run("x\n").out, first);
  EXPECT_EQ(console.Run("").out, first);
  EXPECT_EQ(console.Run("x p G6").out, first);  // nothing after x
  EXPECT_EQ(console.Run("   \n\t ").out, first);
  // At a prompt: nothing more is printed and nothing is played.
  EXPECT_EQ(console.Run("z").out, first + "Enter frequency in Hz\n");
  EXPECT_EQ(console.Run("o").out, first + "Enter octave -4 to 1\n");
}

TEST(ConsoleTranscriptTest, NoteNamesOctavesAndPlay) {
  Console console;
  EXPECT_EQ(console.Run("c#\np\n").out, kTitle + Menu("440.0") + Menu("554.4") +
                                            "Frequency = 554.37 Hz\n" +
                                            Menu("554.4"));

  // An octave out of range is ignored without a message.
  EXPECT_EQ(console.Run("l 1 o -1 a p o 2 p").out,
            kTitle + Menu("440.0") + "Enter length in seconds\n" +
                Menu("440.0", "1.0") + "Enter octave -4 to 1\n" +
                Menu("220.0", "1.0") + Menu("220.0", "1.0") +
                "Frequency = 220.00 Hz\n" + Menu("220.0", "1.0") +
                "Enter octave -4 to 1\n" + Menu("220.0", "1.0") +
                "Frequency = 220.00 Hz\n" + Menu("220.0", "1.0"));
  EXPECT_EQ(console.LastTone(), ExpectedTone(220.0f, 44100, 44100, 25.0f));

  // Upper case and unknown words are taken as note names and sound as A.
  EXPECT_EQ(console.Run("A p B p g1 p").out,
            kTitle + Menu("440.0") + Menu("440.0") + "Frequency = 440.00 Hz\n" +
                Menu("440.0") + Menu("440.0") + "Frequency = 440.00 Hz\n" +
                Menu("440.0") + Menu("440.0") + "Frequency = 440.00 Hz\n" +
                Menu("440.0"));
}

TEST(ConsoleTranscriptTest, TypedFrequencyThenBackToNotes) {
  Console console;
  EXPECT_EQ(console.Run("l 1 z 1000 o -2 p e p").out,
            kTitle + Menu("440.0") + "Enter length in seconds\n" +
                Menu("440.0", "1.0") + "Enter frequency in Hz\n" +
                "Frequency = 1000.00 Hz\n" + Menu("1000.0", "1.0") +
                "Enter octave -4 to 1\n" + Menu("1000.0", "1.0") +
                "Frequency = 1000.00 Hz\n" + Menu("1000.0", "1.0") +
                Menu("164.8", "1.0") + "Frequency = 164.81 Hz\n" +
                Menu("164.8", "1.0"));
}

TEST(ConsoleTranscriptTest, StringPresetsPlayAtOnce) {
  Console console;
  EXPECT_EQ(console.Run("l 1 B4 G6").out,
            kTitle + Menu("440.0") + "Enter length in seconds\n" +
                Menu("440.0", "1.0") + "Frequency = 41.20 Hz\n" +
                Menu("41.2", "1.0") + "Frequency = 82.41 Hz\n" +
                Menu("82.4", "1.0"));
  // The G6 string as stored in single precision: 82 whole cycles, then zeros.
  std::vector<int32_t> tone = console.LastTone();
  EXPECT_EQ(tone, ExpectedTone(82.40689f, 44100, 44100, 25.0f));
  EXPECT_NE(tone[43881], 0);
  EXPECT_EQ(std::vector<int32_t>(tone.begin() + 43882, tone.end()),
            std::vector<int32_t>(44100 - 43882, 0));
}

TEST(ConsoleTranscriptTest, VolumeAndLengthAreClamped) {
  Console console;
  EXPECT_EQ(console.Run("v 150 l 0 l 300 v 0 v -1000").out,
            kTitle + Menu("440.0") +
                "Enter output volume in percent of full scale\n" +
                Menu("440.0", "8.0", "100") + "Enter length in seconds\n" +
                Menu("440.0", "1.0", "100") + "Enter length in seconds\n" +
                Menu("440.0", "120.0", "100") +
                "Enter output volume in percent of full scale\n" +
                Menu("440.0", "120.0", "0") +
                "Enter output volume in percent of full scale\n" +
                Menu("440.0", "120.0", "-100"));

  console.Run("l 1 v 0 p");
  EXPECT_EQ(ReadFile(console.recording), std::string(44100 * 6, '\0'));
  console.Run("l 1 v -50 p");
  EXPECT_EQ(console.LastTone(), ExpectedTone(440.0f, 44100, 44100, -50.0f));
  // Below -100 the volume is floored: a phase-inverted full-scale sine.
  console.Run("l 1 v -1000 p");
  EXPECT_EQ(console.LastTone(), ExpectedTone(440.0f, 44100, 44100, -100.0f));
}

TEST(ConsoleTranscriptTest, HelpIsShownAheadOfTheNextMenuOnly) {
  Console console;
  EXPECT_EQ(console.Run("h x").out,
            kTitle + Menu("440.0") + kHelp + Menu("440.0"));
  EXPECT_EQ(console.Run("h o 1").out,
            kTitle + Menu("440.0") + kHelp + Menu("440.0") +
                "Enter octave -4 to 1\n" + Menu("880.0"));
}

TEST(ConsoleTranscriptTest, NonNumbersStayInTheInput) {
  Console console;
  // Each rejected token comes back as the next command: a note name.
  EXPECT_EQ(console.Run("l 2 l 10x").out,
            kTitle + Menu("440.0") + "Enter length in seconds\n" +
                Menu("440.0", "2.0") + "Enter length in seconds\n" +
                Menu("440.0", "2.0") + Menu("440.0", "2.0"));
  EXPECT_EQ(console.Run("v 50 v loud").out,
            kTitle + Menu("440.0") +
                "Enter output volume in percent of full scale\n" +
                Menu("440.0", "8.0", "50") +
                "Enter output volume in percent of full scale\n" +
                Menu("440.0", "8.0", "50") + Menu("440.0", "8.0", "50"));
  // z with no number replays the last typed frequency, then e is a note.
  EXPECT_EQ(console.Run("l 1 z 1000 z e").out,
            kTitle + Menu("440.0") + "Enter length in seconds\n" +
                Menu("440.0", "1.0") + "Enter frequency in Hz\n" +
                "Frequency = 1000.00 Hz\n" + Menu("1000.0", "1.0") +
                "Enter frequency in Hz\n" + "Frequency = 1000.00 Hz\n" +
                Menu("1000.0", "1.0") + Menu("659.3", "1.0"));
  // The octave returns to the last integer entered at its prompt.
  EXPECT_EQ(console.Run("o -1 G5 o b").out,
            kTitle + Menu("440.0") + "Enter octave -4 to 1\n" + Menu("220.0") +
                "Frequency = 110.00 Hz\n" + Menu("110.0") +
                "Enter octave -4 to 1\n" + Menu("220.0") + Menu("246.9"));
}

TEST(ConsoleTranscriptTest, OtherTuningIsNamedAfterTheTitle) {
  Console console;
  RunResult run = RunLarkhorn(console.dir, {"--a4", "442"}, "l 1 G5 x");
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(run.out,
            kTitle + std::string("Tuning: A4 = 442 Hz, equal temperament\n") +
                Menu("442.0") + "Enter length in seconds\n" +
                Menu("442.0", "1.0") + "Frequency = 110.50 Hz\n" +
                Menu("110.5", "1.0"));
  EXPECT_EQ(console.LastTone(), ExpectedTone(110.5f, 44100, 44100, 25.0f));

  run = RunLarkhorn(console.dir, {"--temperament=meantone", "--a4=415.3"}, "x");
  EXPECT_EQ(run.out, kTitle +
                         std::string("Tuning: A4 = 415.3 Hz, quarter-comma "
                                     "meantone\n") +
                         Menu("415.3"));
}

// Standard error hears what the console did not understand (standard
// output, checked by the transcripts above, stays as it is).
TEST(ConsoleTranscriptTest, StandardErrorIsToldWhatWasNotUnderstood) {
  Console console;
  RunResult told = console.Run("l 1 E A4 v 442Hz z 30000 o 1.5 x");
  for (const char* line :
       {"'E' is not a note name, so it sounds as A: enter a note as a to g in "
        "lower case with # or b (f# gb), and the octave with o",
        "'A4' is not a note name, so it sounds as A (A4 is a in octave 0)",
        "'442Hz' is not a number: the volume stays as it was",
        "'442Hz' is not a note name",
        "30000.00 Hz is above half the sample rate: it plays as 22050.00 Hz",
        "'1.5' is not a whole number: the octave is 0"}) {
    EXPECT_NE(told.err.find(line), std::string::npos) << line << told.err;
  }
  // Note names, presets and commands are understood.
  EXPECT_EQ(RunLarkhorn(console.dir, {}, "f# gb o 1 l 1 h c x").err, "");
}

// With both streams in one file, each hint follows what was printed
// before it: here the prompt, and the menu shown ahead of reading the
// answer left over as the next command.
TEST(ConsoleTranscriptTest, HintsKeepTheirPlaceInOneFileWithTheMenu) {
  Console console;
  RunExtras both;
  both.stderrInOut = true;
  RunResult run = RunLarkhorn(console.dir, {}, "o bar\nx\n", {}, both);
  const std::string prompt = kTitle + Menu("440.0") + "Enter octave -4 to 1\n";
  EXPECT_EQ(WithoutHints(run.out), prompt + Menu("440.0") + Menu("440.0"));
  EXPECT_EQ(run.out.find("'bar'" + std::string(kNotAWholeNumber)),
            prompt.size());
  const size_t noteHint = run.out.find("'bar'" + std::string(kNotANoteName));
  ASSERT_NE(noteHint, std::string::npos) << run.out;
  EXPECT_EQ(run.out.compare(noteHint - Menu("440.0").size(),
                            Menu("440.0").size(), Menu("440.0")),
            0)
      << run.out;
}

TEST(ConsoleTranscriptTest, DeviceNameIsUsedForTheNextTone) {
  Console console;
  const std::string device = "file:'" + console.dir.path + "/named.raw',raw";
  EXPECT_EQ(console.Run("s " + device + " l 1 p").out,
            kTitle + Menu("440.0") + "Enter soundcard device name\n" +
                Menu("440.0", "8.0", "25", device) +
                "Enter length in seconds\n" +
                Menu("440.0", "1.0", "25", device) + "Frequency = 440.00 Hz\n" +
                Menu("440.0", "1.0", "25", device));
  EXPECT_EQ(MonoFromStereo24(ReadFile(console.dir.path + "/named.raw")),
            ExpectedTone(440.0f, 44100, 44100, 25.0f));

  RunResult bad = RunLarkhorn(console.dir, {}, "s nosuchdevice p");
  EXPECT_EQ(bad.exitStatus, 1);
  EXPECT_NE(bad.err.find("unable to open pcm device: "), std::string::npos);
}

// How many frames from the start of a match those of b.
size_t Matching(const std::vector<int32_t>& a, size_t from,
                const std::vector<int32_t>& b) {
  size_t n = 0;
  while (from + n < a.size() && n < b.size() && a[from + n] == b[n]) ++n;
  return n;
}

// A card named "card" paced by period interrupts, recording to raw and
// logging to log.
void WritePeriodInterruptCard(const TestDir& dir, const std::string& raw,
                              const std::string& log) {
  WriteAlsaConfig(dir, TestCardType() +
                           "pcm.card { type larkhorn_test period_interrupts "
                           "true record \"" +
                           raw + "\" log \"" + log + "\" }\n");
}

// Under --hold, on a card paced by period interrupts: the tone sounds while
// the menu reads on; the next play command switches to its tone at the end
// of a whole cycle of the old one, the new from phase zero; Ctrl-C silences
// it and the console goes on; the end of input ends it, status 0. Standard
// output is the console's transcript, in order.
TEST(ConsoleTranscriptTest, HeldToneSwitchesAndIsSilenced) {
  TestDir dir;
  const std::string raw = dir.path + "/card.raw", log = dir.path + "/card.log";
  WritePeriodInterruptCard(dir, raw, log);
  size_t stoppedAt = 0;
  RunExtras extras;
  extras.inputOnPipe = true;
  extras.whileRunning = [&](pid_t pid, int typing) {
    WaitForBytes(raw, 4410 * 6, pid);
    ASSERT_EQ(write(typing, "e p\n", 4), 4);
    WaitForBytes(raw, 22050 * 6, pid);
    kill(pid, SIGINT);
    WaitFor([&] {
      return ReadFile(log).find("stop received=") != std::string::npos;
    });
    stoppedAt = ReadFile(raw).size() / 6;
    ASSERT_EQ(write(typing, "p\n", 2), 2);
    WaitForBytes(raw, (stoppedAt + 4410) * 6, pid);
  };
  RunResult run =
      RunLarkhorn(dir, {"--hold", "--device", "card"}, "p\n", {}, extras);
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(run.err, "");
  const std::string a = Menu("440.0", "8.0", "25", "card");
  const std::string e = Menu("659.3", "8.0", "25", "card");
  EXPECT_EQ(run.out, kTitle + a + "Frequency = 440.00 Hz\n" + a + e +
                         "Frequency = 659.26 Hz\n" + e +
                         "Frequency = 659.26 Hz\n" + e);

  const std::vector<int32_t> played = MonoFromStereo24(ReadFile(raw));
  const float e5 = static_cast<float>(Get_Freq("e", 0));
  const std::vector<int32_t> a4Tone =
      ExpectedTone(440.0f, 44100, 441000, 25.0f);
  const std::vector<int32_t> e5Tone = ExpectedTone(e5, 44100, 441000, 25.0f);
  // The old tone up to a whole cycle's end, at least 0.1 s in.
  const size_t end = Matching(played, 0, a4Tone);
  const double cycles = std::round(end * 440.0 / 44100);
  EXPECT_EQ(end, size_t(cycles * 44100 / 440.0)) << end;
  EXPECT_GE(end, 4410u);
  // The new one from phase zero, until Ctrl-C; then again from the start.
  const size_t silenced = end + Matching(played, end, e5Tone);
  EXPECT_GE(silenced, 22050u);
  EXPECT_LE(silenced, stoppedAt);
  EXPECT_EQ(Matching(played, silenced, e5Tone), played.size() - silenced);
  EXPECT_GE(played.size(), stoppedAt + 4410);
  // One device, opened once.
  EXPECT_EQ(Count(ReadFile(log), "hw_params "), 1u) << ReadFile(log);
}

// At a terminal the right of the line being typed shows the held tone's
// status and how to stop it, redrawn each second, the line kept;
// Ctrl-C silences the tone and its status goes; the console goes on and x
// ends it.
TEST(ConsoleTranscriptTest, HeldToneSilencedAtATerminal) {
  TestDir dir;
  const std::string raw = dir.path + "/card.raw", log = dir.path + "/card.log";
  WritePeriodInterruptCard(dir, raw, log);
  const std::string status = HeldStatus(440.0f, 0, kCtrlCSilencesXEnds);
  const std::string stop = std::string("(") + kCtrlCSilencesXEnds + ")";
  std::string shown;
  bool statusShown = false, redrawn = false, silenced = false;
  RunExtras terminal;
  terminal.consoleOnTerminal = true;
  terminal.whileRunning = [&](pid_t pid, int typing) {
    auto readShown = [&] { ReadAvailable(typing, &shown); };
    // Whether what the terminal shows from position from on comes to hold
    // text.
    auto shows = [&](const std::string& text, size_t from) {
      return WaitFor([&] {
        readShown();
        return shown.find(text, from) != std::string::npos;
      });
    };
    WaitForBytes(raw, 4410 * 6, pid);
    statusShown = shows(status, 0);
    // Half a command typed, the status redrawn beside it, then the rest.
    const size_t typed = shown.size();
    redrawn = write(typing, "z 5", 3) == 3 && shows("z 5", typed) &&
              WaitFor([&] {
                readShown();
                return shown.size() > shown.find("z 5", typed) + 3;
              }) &&
              write(typing, "50\r", 3) == 3 && shows("550.00 Hz", typed);
    const size_t played = shown.size();
    silenced =
        write(typing, "o\003", 2) == 2 && shows("^C", played) && WaitFor([&] {
          return ReadFile(log).find("stop received=") != std::string::npos;
        });
    if (write(typing, "x\r", 2) != 2) silenced = false;
  };
  RunResult run = RunLarkhorn(dir, {"--hold", "--device", "card"}, "p\r",
                              {"TERM=vt100"}, terminal);
  EXPECT_TRUE(statusShown) << shown;
  EXPECT_TRUE(redrawn) << shown;
  EXPECT_TRUE(silenced) << shown;
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(run.err, "");
  shown += run.out;
  EXPECT_EQ(Count(shown, "Frequency = 440.00 Hz"), 1u) << shown;
  EXPECT_EQ(Count(shown, "Frequency = 550.00 Hz"), 1u) << shown;
  EXPECT_NE(shown.find(HeldStatus(550.0f, 0, kCtrlCSilencesXEnds)),
            std::string::npos)
      << shown;
  // Nothing of the status after Ctrl-C.
  const size_t cancelled = shown.rfind("^C");
  ASSERT_NE(cancelled, std::string::npos) << shown;
  EXPECT_EQ(shown.find(stop, cancelled), std::string::npos) << shown;
}

}  // namespace
