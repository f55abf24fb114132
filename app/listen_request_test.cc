#include "app/listen_request.h"

#include <alsa/asoundlib.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "app/options.h"
#include "pitch/note.h"
#include "synth/tone.h"
#include "testing/process.h"

namespace {

PitchReading Heard(double hz) {
  PitchReading reading;
  reading.found = true;
  reading.hz = hz;
  reading.clarity = 1;
  return reading;
}

TEST(ListenOutputTest, ReadingsForScriptsAndTheTerminal) {
  EXPECT_EQ(ReadingLine(0.1, PitchReading(), TunedPitch()),
            std::string("0.10\t") + kNoPitch + "\n");
  EXPECT_EQ(ReadingLine(12.3, Heard(82.5), {"E2", -0.004}),
            "12.30\tE2\t+0.00\t82.500\n");
  EXPECT_EQ(ReadingLine(1, Heard(277.0), {"C#4", -3.217}),
            "1.00\tC#4\t-3.22\t277.000\n");

  const std::string none = StatusLine(PitchReading(), TunedPitch(), SIZE_MAX);
  const std::string sharp = StatusLine(Heard(443), {"A4", 11.8}, SIZE_MAX);
  const std::string flat = StatusLine(Heard(27.5), {"A0", -1e9}, SIZE_MAX);
  EXPECT_EQ(none, kNoPitch);
  EXPECT_EQ(flat.size(), sharp.size());
  EXPECT_EQ(sharp.rfind("A4", 0), 0u) << sharp;
  EXPECT_NE(sharp.find("+11.8 cents   443.000 Hz  flat [..........|.#"),
            std::string::npos)
      << sharp;
  // Far off the scale, the needle stands at its end.
  EXPECT_NE(flat.find("[#.........|..........]"), std::string::npos) << flat;

  // A narrow terminal: shorter than its width, the note and cents kept
  // while there is room for them, then the frequency.
  const std::string cents = sharp.substr(0, sharp.find(" cents") + 6);
  const std::string hz = sharp.substr(0, sharp.find(" Hz") + 3);
  for (size_t width = sharp.size() + 1; width > 0; --width) {
    const std::string line = StatusLine(Heard(443), {"A4", 11.8}, width);
    EXPECT_LT(line.size(), width);
    EXPECT_EQ(line.substr(0, cents.size()), cents.substr(0, line.size()));
    if (width > hz.size()) {
      EXPECT_EQ(line.rfind(hz, 0), 0u) << line;
    }
    EXPECT_LT(StatusLine(PitchReading(), TunedPitch(), width).size(), width);
  }
}

// A note played at A = 415 in Werckmeister III reads as that note, in tune,
// in that tuning, and as far off as it is from another note named.
TEST(TunePitchTest, ReadingsFollowTheTuning) {
  ToneSettings settings;
  settings.tuning.concertPitch = 415;
  settings.tuning.temperament = FindTemperament("werckmeister3");
  const double c5 = NoteFrequency("c", 0, settings.tuning);
  TunedPitch tuned = TunePitch(settings, c5);
  EXPECT_EQ(tuned.note, "C5");
  EXPECT_NEAR(tuned.cents, 0, 1e-9);
  EXPECT_EQ(TunePitch(settings, c5 * 1.01).note, "C5");
  EXPECT_EQ(TunePitch(settings, c5 / 4).note, "C3");

  ASSERT_TRUE(ParseScientificName("B4", &settings.noteName, &settings.octave));
  settings.listenToNote = true;
  tuned = TunePitch(settings, c5);
  EXPECT_EQ(tuned.note, "B4");
  EXPECT_NEAR(tuned.cents,
              1200 * std::log2(c5 / NoteFrequency("b", 0, settings.tuning)),
              1e-9);
}

// An ALSA configuration with a test card, device name, that captures
// signal (the card's signal options) and logs to dir/mic.log.
std::string Microphone(const TestDir& dir, const std::string& signal,
                       const std::string& options = "",
                       const std::string& name = "mic") {
  return TestCardType() + "pcm." + name + " { type larkhorn_test log \"" +
         dir.path + "/mic.log\" " + signal + " " + options + " }\n";
}

std::string Printed(const char* format, double value) {
  char text[64];
  snprintf(text, sizeof text, format, value);
  return text;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// Through the real alsa-lib: a bass string, plucked after a fifth of a
// second, in 16-bit stereo whose second channel would cancel the first.
TEST(ListenTest, ReportsTenReadingsASecondOfTheFirstChannel) {
  TestDir dir;
  WriteAlsaConfig(
      dir, Microphone(dir,
                      "signal { frequency 41.2 partials [ 0.3 0.25 0.15 ] "
                      "decay 3 onset 0.2 noise -40 }",
                      "formats [ S16_LE ] channels [ 2 ]"));
  RunResult run = RunLarkhorn(dir, {"--listen", "1.5", "mic"});
  EXPECT_EQ(run.exitStatus, 0) << run.err;
  EXPECT_EQ(run.err, "");
  const std::vector<std::string> lines = Lines(run.out);
  ASSERT_EQ(lines.size(), 15u) << run.out;
  for (size_t i = 0; i < lines.size(); ++i) {
    // Each field as the format prints it: SECONDS, then a dash or NOTE,
    // CENTS and HZ.
    std::vector<std::string> fields;
    std::istringstream in(lines[i]);
    for (std::string field; std::getline(in, field, '\t');) {
      fields.push_back(field);
    }
    ASSERT_TRUE(fields.size() == 2 || fields.size() == 4) << lines[i];
    EXPECT_EQ(fields[0], Printed("%.2f", (i + 1) / 10.0)) << lines[i];
    if (fields.size() == 2) {
      EXPECT_EQ(fields[1], kNoPitch);
      continue;
    }
    EXPECT_EQ(fields[1], "E1");
    EXPECT_EQ(fields[2], Printed("%+.2f", std::stod(fields[2]))) << lines[i];
    EXPECT_EQ(fields[3], Printed("%.3f", std::stod(fields[3]))) << lines[i];
  }
  EXPECT_EQ(lines[1], std::string("0.20\t") + kNoPitch);
  EXPECT_NE(lines.back(), std::string("1.50\t") + kNoPitch);
  EXPECT_NE(ReadFile(dir.path + "/mic.log").find("format=S16_LE channels=2"),
            std::string::npos);
}

// A note that larkhorn plays at A = 415 in Werckmeister III, as its sine
// is made at 48000 Hz, heard with the same tuning reads 0.00 cents: at the
// nearest note and at the note named.
TEST(TunePitchTest, HearsItsOwnToneInTuneInTheSameTuning) {
  ToneSettings settings;
  settings.tuning.concertPitch = 415;
  settings.tuning.temperament = FindTemperament("werckmeister3");
  const double c5 = NoteFrequency("c", 0, settings.tuning);
  const uint32_t rate = 48000;
  std::vector<int32_t> tone(rate);
  MakeTone(tone.data(), float(c5), rate, int32_t(tone.size()), 50);
  std::vector<float> sound(tone.begin(), tone.end());
  for (float& sample : sound) sample /= 8388608.0f;
  PitchDetector detector;
  std::string err;
  ASSERT_TRUE(MakePitchDetector(rate, &detector, &err)) << err;
  AddSound(detector, sound.data(), sound.size());
  const PitchReading reading = MeasurePitch(detector);
  ASSERT_TRUE(reading.found);
  EXPECT_EQ(
      ReadingLine(1, reading, TunePitch(settings, reading.hz)).substr(0, 14),
      "1.00\tC5\t+0.00\t");
  ASSERT_TRUE(ParseScientificName("C5", &settings.noteName, &settings.octave));
  settings.listenToNote = true;
  EXPECT_EQ(
      ReadingLine(1, reading, TunePitch(settings, reading.hz)).substr(0, 14),
      "1.00\tC5\t+0.00\t");
}

// Until stopped: SIGTERM closes the device and ends the program by the
// signal. At a terminal each reading redraws one line in place. The signal
// is sent once the terminal shows the first reading, so that what is drawn
// does not hang on how soon the program got going; the card gives sound as
// fast as it is read, so that every reading is of the same steady note.
TEST(ListenTest, RunsUntilStoppedAndRedrawsAtATerminal) {
  TestDir dir;
  WriteAlsaConfig(
      dir, Microphone(dir, "signal { frequency 440 partials [ 0.5 ] }", "",
                      "!default"));
  // A pseudo-terminal made without a size says none: the whole line.
  const std::string status = StatusLine(Heard(440), {"A4", 0}, SIZE_MAX);
  std::string shown;
  RunExtras extras;
  extras.consoleOnTerminal = true;
  extras.whileRunning = [&](pid_t pid, int terminal) {
    char buffer[4096];
    ssize_t got;
    while (shown.find("\033[K") == std::string::npos &&
           (got = read(terminal, buffer, sizeof buffer)) > 0) {
      shown.append(buffer, size_t(got));
    }
    kill(pid, SIGTERM);
  };
  RunResult run = RunLarkhorn(dir, {"--listen"}, "", {}, extras);
  shown += run.out;
  EXPECT_FALSE(run.hung);
  EXPECT_EQ(run.signal, SIGTERM) << run.err;
  EXPECT_EQ(run.err, "");
  EXPECT_NE(ReadFile(dir.path + "/mic.log").find("close heard="),
            std::string::npos);
  // Every redraw the same reading of the note, and the line ended when the
  // program was stopped: the terminal shows that end as "\r\n".
  const std::string redraw = "\r" + status + "\033[K";
  ASSERT_GE(Count(shown, redraw), 1u) << shown;
  EXPECT_EQ(shown.size(), Count(shown, redraw) * redraw.size() + 2) << shown;
  EXPECT_EQ(shown.substr(shown.size() - 2), "\r\n") << shown;
}

// Faults of the device while listening: sound lost once, as when the
// program is held up, is recovered from and the readings go on, the note
// read again after the gap, and the loss said at the end; a device that
// vanishes ends listening with a message and status 1, after the readings
// made before.
TEST(ListenTest, RecoversFromAnOverrunAndEndsWhenTheDeviceVanishes) {
  TestDir dir;
  const std::string note = "signal { frequency 110 partials [ 0.4 0.2 ] }";
  // Half a second in, at 48000 frames a second.
  WriteAlsaConfig(
      dir, Microphone(dir, note, "underrun_after 24000", "lost") +
               Microphone(dir, note, "disconnect_after 24000", "unplugged"));
  RunResult run = RunLarkhorn(dir, {"--listen", "1.5", "lost"});
  EXPECT_EQ(run.exitStatus, 0) << run.err;
  EXPECT_EQ(run.err, "larkhorn: " + LostSoundMessage(1) + "\n");
  std::vector<std::string> lines = Lines(run.out);
  ASSERT_EQ(lines.size(), 15u) << run.out;
  EXPECT_EQ(lines.back().substr(0, 8), "1.50\tA2\t") << run.out;
  EXPECT_NE(ReadFile(dir.path + "/mic.log").find("overrun heard=24000"),
            std::string::npos);

  run = RunLarkhorn(dir, {"--listen", "1.5", "unplugged"});
  EXPECT_EQ(run.exitStatus, 1);
  EXPECT_EQ(run.err, std::string("larkhorn: ") + kCaptureFailed +
                         snd_strerror(-ENODEV) + "\n");
  lines = Lines(run.out);
  ASSERT_EQ(lines.size(), 5u) << run.out;
  EXPECT_EQ(lines.back().substr(0, 8), "0.50\tA2\t") << run.out;
}

// --listen's arguments: seconds from one reading's worth, inf or none (or
// no seconds) for until stopped, then a device.
TEST(ListenArgumentsTest, SecondsAndDevice) {
  struct Good {
    std::vector<const char*> args;
    double seconds;
    const char* device;
  };
  const std::string none = kListenUntilStopped;
  const Good good[] = {{{}, INFINITY, "default"},
                       {{"inf"}, INFINITY, "default"},
                       {{none.c_str(), "mic"}, INFINITY, "mic"},
                       {{"0.1"}, kShortestListenSeconds, "default"},
                       {{"2.5", "hw:1"}, 2.5, "hw:1"}};
  for (const Good& g : good) {
    std::vector<const char*> argv = {"larkhorn", "--listen"};
    argv.insert(argv.end(), g.args.begin(), g.args.end());
    ToneSettings settings;
    std::string err;
    std::vector<std::string> hints;
    ASSERT_TRUE(
        ParseCommandLine(int(argv.size()), argv.data(), settings, &err, &hints))
        << err;
    EXPECT_EQ(settings.listenSeconds, g.seconds);
    EXPECT_EQ(settings.deviceName, g.device);
    EXPECT_TRUE(hints.empty());
  }
  for (const char* seconds : {"0", "0.09", "-1", "nan", "-inf", "x", ""}) {
    const char* argv[] = {"larkhorn", "--listen", seconds};
    ToneSettings settings;
    std::string err;
    std::vector<std::string> hints;
    EXPECT_FALSE(ParseCommandLine(3, argv, settings, &err, &hints)) << seconds;
    EXPECT_NE(err.find(", " + Printable(seconds) + ", "), std::string::npos)
        << err;
  }
  const char* tooMany[] = {"larkhorn", "--listen", "1", "null", "x"};
  ToneSettings settings;
  std::string err;
  std::vector<std::string> hints;
  EXPECT_FALSE(ParseCommandLine(5, tooMany, settings, &err, &hints));
  EXPECT_NE(err.find(Printable("x")), std::string::npos) << err;
}

// What needs the program: the usage and status 2 for bad arguments, and
// status 1 with a message for a device that cannot capture (this test
// card hears nothing).
TEST(ListenTest, BadArgumentsAndDevicesThatCannotCapture) {
  TestDir dir;
  WriteAlsaConfig(dir, TestCardType() + "pcm.speaker { type larkhorn_test }\n");
  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{{"--listen", "0"},
                                             {"--listen=1"}}) {
    RunResult run = RunLarkhorn(dir, args);
    EXPECT_EQ(run.exitStatus, 2) << args.back();
    EXPECT_EQ(run.out, "") << args.back();
    EXPECT_NE(run.err.find("\n" + UsageLine() + "\n"), std::string::npos)
        << run.err;
  }
  RunResult run = RunLarkhorn(dir, {"--listen", "1", "speaker"});
  EXPECT_EQ(run.exitStatus, 1);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, std::string("larkhorn: ") + kCannotListen +
                         "'speaker': " + snd_strerror(-EINVAL) + "\n");
}

}  // namespace
