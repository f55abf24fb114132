// End-to-end: the built binary with real arguments, recorded through
// ALSA's file plugin.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>

#include "app/hint.h"
#include "app/options.h"
#include "testing/process.h"

namespace {

bool Exists(const std::string& path) { return std::ifstream(path).good(); }

TEST(InfoOptionTest, HelpAndVersionPrintAndPlayNothing) {
  TestDir dir;
  const std::string recording = dir.path + "/default.raw";
  WriteAlsaConfig(dir, RecordingDefault(recording));

  RunResult help = RunLarkhorn(dir, {"--help"}, "x\n");
  EXPECT_EQ(help.exitStatus, 0);
  // The tuning options follow these lines.
  EXPECT_EQ(help.out.rfind(
                "larkhorn <frequency in Hz> <time in seconds> <soundcard "
                "device>\n"
                "Without arguments larkhorn runs an interactive menu; enter h "
                "there for help.\n"
                "To record a WAV file instead, give the device as "
                "file:NAME.wav,wav\n"
                "larkhorn --list-devices lists the soundcard device names\n",
                0),
            0u);
  EXPECT_EQ(help.err, "");

  RunResult shortHelp = RunLarkhorn(dir, {"-h"});
  EXPECT_EQ(shortHelp.exitStatus, 0);
  EXPECT_EQ(shortHelp.out, help.out);

  RunResult version = RunLarkhorn(dir, {"--version"}, "x\n");
  EXPECT_EQ(version.exitStatus, 0);
  EXPECT_EQ(version.out, "Larkhorn " LARKHORN_VERSION "\n");
  EXPECT_EQ(version.err, "");

  EXPECT_FALSE(Exists(recording)) << "the device was opened";
}

TEST(InfoOptionTest, OtherLeadingHyphensStillMeanAFrequency) {
  TestDir dir;
  const std::string recording = dir.path + "/default.raw";
  WriteAlsaConfig(dir, RecordingDefault(recording));

  RunResult negative = RunLarkhorn(dir, {"-440"});
  EXPECT_EQ(negative.exitStatus, 0);
  EXPECT_EQ(negative.out, "Frequency = -440.00 Hz\n");
  EXPECT_EQ(MonoFromStereo24(ReadFile(recording)),
            ExpectedTone(440.0f, 44100, 352800, 25.0f));

  // Not an option, so not a number either: eight seconds of silence.
  std::remove(recording.c_str());
  RunResult run = RunLarkhorn(dir, {"-H"});
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(run.out, "Frequency = 0.00 Hz\n");
  EXPECT_EQ(run.err.rfind("'-H'" + std::string(kNotAFrequency), 0), 0u)
      << run.err;
  EXPECT_EQ(ReadFile(recording), std::string(352800 * 6, '\0'));

  // Two hyphens make an option, and these are not options (the
  // informational ones only as the sole argument): nothing is played.
  std::remove(recording.c_str());
  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{
           {"--helpx"}, {"--Version"}, {"--version", "1"}}) {
    RunResult bad = RunLarkhorn(dir, args);
    EXPECT_EQ(bad.exitStatus, 2) << args[0];
    EXPECT_EQ(bad.out, "") << args[0];
    EXPECT_NE(bad.err.find("unrecognised option '" + args[0] + "'"),
              std::string::npos)
        << bad.err;
  }
  EXPECT_FALSE(Exists(recording)) << "the device was opened";
}

TEST(TuningOptionTest, ConcertPitchAndTemperamentReachTheTone) {
  TestDir dir;
  const std::string recording = dir.path + "/default.raw";
  WriteAlsaConfig(dir, RecordingDefault(recording));

  // At the defaults --note plays the bytes the console's G6 plays.
  RunResult console = RunLarkhorn(dir, {}, "l 1 G6 x");
  ASSERT_EQ(console.exitStatus, 0);
  const std::string consoleTone = ReadFile(recording);
  RunResult note = RunLarkhorn(dir, {"--note", "E2", "1"});
  EXPECT_EQ(note.exitStatus, 0);
  EXPECT_EQ(note.out, "Frequency = 82.41 Hz\n");
  EXPECT_EQ(note.err, "");
  EXPECT_EQ(ReadFile(recording), consoleTone);

  // Options in either form and order; A4 is the concert pitch.
  RunResult a4 = RunLarkhorn(dir, {"--note=a4", "--a4=442", "1"});
  EXPECT_EQ(a4.out, "Frequency = 442.00 Hz\n");
  EXPECT_EQ(MonoFromStereo24(ReadFile(recording)),
            ExpectedTone(442.0f, 44100, 44100, 25.0f));
  // C5 is 11.73 cents above equal temperament in Werckmeister III.
  RunResult c5 = RunLarkhorn(
      dir, {"--temperament", "werckmeister3", "--note", "C5", "1", "null"});
  EXPECT_EQ(c5.exitStatus, 0);
  EXPECT_EQ(c5.out, "Frequency = 526.81 Hz\n");
  // A frequency in Hz stays as given.
  RunResult hz =
      RunLarkhorn(dir, {"--a4", "415", "--temperament=young", "440", "1"});
  EXPECT_EQ(hz.out, "Frequency = 440.00 Hz\n");
  EXPECT_EQ(MonoFromStereo24(ReadFile(recording)),
            ExpectedTone(440.0f, 44100, 44100, 25.0f));
}

TEST(TuningOptionTest, BadOptionsPlayNothingAndExitTwo) {
  TestDir dir;
  const std::string recording = dir.path + "/default.raw";
  WriteAlsaConfig(dir, RecordingDefault(recording));
  const std::string usage = UsageLine() + "\n";
  RunResult range = RunLarkhorn(dir, {"--a4", "500.001"});
  EXPECT_EQ(range.err,
            "larkhorn: --a4 '500.001' is not a concert pitch in Hz from 380 "
            "to 500\n" +
                usage);
  // Each class once: what is wrong is named, then the usage line.
  const std::vector<std::pair<std::vector<std::string>, std::string>> bad = {
      {{"--a4"}, "--a4 needs a value"},
      {{"--a4", "442Hz", "440"}, "'442Hz' is not"},
      {{"--a4=nan"}, "'nan' is not"},
      {{"--temperament", "Werckmeister"},
       "'Werckmeister' is not one of the temperaments " + TemperamentNames()},
      {{"--note", "H2"}, "--note 'H2' is not a note name"},
      {{"--note", "E2", "1", "null", "x"}, "one argument too many, 'x'"},
      {{"--timbre", "Warm"},
       "'Warm' is not one of the timbres " + TimbreNames()},
      {{"--with", "E4,"}, "--with 'E4,' is not 1 to 3 note names"},
      {{"--with=C4,E4,G4,C5"}, "'C4,E4,G4,C5' is not"},
      {{"--cents", "-100.01"}, "not a number of cents from -100 to 100"},
      {{"--transpose", "2.0"}, "not a whole number of semitones"},
      {{"--quiet", "440"}, "unrecognised option '--quiet'"},
      {{"--"}, "unrecognised option '--'"},
      {{"--hold", "440", "1"}, "a held tone has no length, '1'"},
      {{"--hold", "--note", "E2", "1"}, "has no length"},
      {{"--device", "null", "440", "1", "null"}, "named twice"},
      {{"--device=null", "--listen", "1", "null"}, "named twice"},
      {{"--device="}, "--device '' is not a device name"},
  };
  for (const auto& [args, what] : bad) {
    RunResult run = RunLarkhorn(dir, args, "x\n");
    EXPECT_EQ(run.exitStatus, 2) << args[0];
    EXPECT_EQ(run.out, "") << args[0];
    EXPECT_EQ(run.err.rfind("larkhorn: ", 0), 0u) << run.err;
    EXPECT_NE(run.err.find(what), std::string::npos) << run.err;
    ASSERT_GE(run.err.size(), usage.size());
    EXPECT_EQ(run.err.substr(run.err.size() - usage.size()), usage);
  }
  EXPECT_FALSE(Exists(recording)) << "the device was opened";
}

TEST(OneShotTest, PlaysTwoSecondsOfA440OnDefault) {
  TestDir dir;
  const std::string recording = dir.path + "/default.raw";
  WriteAlsaConfig(dir, RecordingDefault(recording));
  RunResult run = RunLarkhorn(dir, {"440", "2"});
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(run.out, "Frequency = 440.00 Hz\n");
  EXPECT_EQ(run.err, "");
  std::vector<int32_t> frames = MonoFromStereo24(ReadFile(recording));
  EXPECT_EQ(frames.size(), 88200u);
  EXPECT_EQ(frames, ExpectedTone(440.0f, 44100, 88200, 25.0f));
}

TEST(OneShotTest, ThirdArgumentNamesTheDeviceOnlyWhenLast) {
  TestDir dir;
  const std::string fallback = dir.path + "/default.raw";
  const std::string named = dir.path + "/a-rather-long-file-name.raw";
  WriteAlsaConfig(dir, RecordingDefault(fallback));

  RunResult three =
      RunLarkhorn(dir, {"-440", "0.2", "file:'" + named + "',raw"});
  EXPECT_EQ(three.exitStatus, 0);
  EXPECT_EQ(three.out, "Frequency = -440.00 Hz\n");
  EXPECT_EQ(MonoFromStereo24(ReadFile(named)),
            ExpectedTone(440.0f, 44100, 44100, 25.0f));

  RunResult four = RunLarkhorn(dir, {"440", "1.99999", "nosuchdevice", "4"});
  EXPECT_EQ(four.exitStatus, 0);
  EXPECT_EQ(MonoFromStereo24(ReadFile(fallback)).size(), 88199u);
}

TEST(OneShotTest, NotANumberPlaysSilence) {
  TestDir dir;
  const std::string recording = dir.path + "/default.raw";
  WriteAlsaConfig(dir, RecordingDefault(recording));
  RunResult run = RunLarkhorn(dir, {"nan", "nan"});
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(run.out, "Frequency = nan Hz\n");
  EXPECT_EQ(ReadFile(recording), std::string(44100 * 6, '\0'));
}

TEST(OneShotTest, InfiniteFrequencyPlaysHalfTheRate) {
  TestDir dir;
  const std::string recording = dir.path + "/default.raw";
  WriteAlsaConfig(dir, RecordingDefault(recording));
  RunResult run = RunLarkhorn(dir, {"1e309", "-inf"});
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(run.out, "Frequency = inf Hz\n");
  EXPECT_EQ(MonoFromStereo24(ReadFile(recording)),
            ExpectedTone(22050.0f, 44100, 44100, 25.0f));

  run = RunLarkhorn(dir, {"-inf", "0x1p-1074"});
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(run.out, "Frequency = -inf Hz\n");
  EXPECT_EQ(MonoFromStereo24(ReadFile(recording)),
            ExpectedTone(22050.0f, 44100, 44100, 25.0f));
}

// Whether a frequency plays as given is said at the rate the device
// settled on, after standard output's lines: 23000 Hz plays on a 48 kHz
// card, and 44100.1 Hz at 44100 Hz as 22050 Hz.
TEST(OneShotTest, HalfRateHintAtTheDevicesRate) {
  TestDir dir;
  WriteAlsaConfig(dir, TestCardType() +
                           "pcm.card { type larkhorn_test rates [ 48000 ] }\n" +
                           RecordingDefault(dir.path + "/default.raw"));
  RunExtras together;
  together.stderrInOut = true;
  RunResult run = RunLarkhorn(dir, {"23000", "1", "card"}, "", {}, together);
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(run.out.find("half the sample rate"), std::string::npos) << run.out;
  EXPECT_EQ(run.out.substr(run.out.size() - strlen(kDeviceRateHint) - 1),
            std::string(kDeviceRateHint) + "\n");
  run = RunLarkhorn(dir, {"44100.1", "1"}, "", {}, together);
  EXPECT_EQ(run.out.rfind("Frequency = 44100.10 Hz\n44100.10 Hz is above half "
                          "the sample rate: it plays as 22050.00 Hz",
                          0),
            0u)
      << run.out;
  run = RunLarkhorn(dir, {"--with", "A4", "19845", "1"});
  EXPECT_NE(run.err.find("it is silent"), std::string::npos) << run.err;
  run = RunLarkhorn(dir, {"--timbre", "warm", "19844", "1"});
  EXPECT_EQ(run.err.find("it is silent"), std::string::npos) << run.err;
  // The console's typed frequency too, held or not.
  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{{}, {"--hold"}}) {
    run = RunLarkhorn(dir, args, "s card l 1 z 23000 x");
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_EQ(run.err.find("half the sample rate"), std::string::npos)
        << run.err;
  }
}

// With a standard descriptor closed, what ALSA opens must not take its
// place: a test card's log and recording stay free of the program's texts.
TEST(OneShotTest, ClosedStandardDescriptorsGetDevNull) {
  TestDir dir;
  const std::string card = "pcm.card { type larkhorn_test record \"" +
                           dir.path + "/card.raw\" log \"" + dir.path +
                           "/card.log\" rates [ 48000 ] }\n";
  WriteAlsaConfig(dir, TestCardType() + card);
  for (const std::vector<int>& closed :
       std::vector<std::vector<int>>{{1}, {0, 1, 2}}) {
    std::remove((dir.path + "/card.raw").c_str());
    std::remove((dir.path + "/card.log").c_str());
    RunExtras extras;
    extras.closed = closed;
    RunResult run = RunLarkhorn(dir, {"440", "1", "card"}, "", {}, extras);
    EXPECT_EQ(run.exitStatus, 0) << closed.size();
    const std::string log = ReadFile(dir.path + "/card.log");
    const std::string raw = ReadFile(dir.path + "/card.raw");
    EXPECT_NE(log.find("rate=48000"), std::string::npos) << log;
    for (const std::string& file : {log, raw}) {
      ASSERT_EQ(file.find("Frequency"), std::string::npos) << closed.size();
      ASSERT_EQ(file.find("Samplerate"), std::string::npos) << closed.size();
    }
    EXPECT_EQ(MonoFromStereo24(raw), ExpectedTone(440.0f, 48000, 48000, 25.0f));
  }
}

TEST(OneShotTest, UnknownDeviceFailsWithStatusOne) {
  TestDir dir;
  RunResult run = RunLarkhorn(dir, {"440", "1", "nosuchdevice"});
  EXPECT_EQ(run.exitStatus, 1);
  EXPECT_EQ(run.out, "Frequency = 440.00 Hz\n");
  // alsa-lib may print its own diagnostic first.
  EXPECT_NE(run.err.find("unable to open pcm device: "), std::string::npos)
      << run.err;
}

// Memory that runs out ends the program with a message and status 1, not an
// abort. The least address space in which the longest argument Linux
// passes (128 KiB) runs to its usage error is found by halving; 64 KiB less
// leaves no room for the second of the argument's two copies that reading
// the option makes.
TEST(OneShotTest, OutOfMemoryEndsWithAMessage) {
#ifdef __SANITIZE_ADDRESS__
  GTEST_SKIP() << "AddressSanitizer's shadow memory needs all address space";
#endif
  TestDir dir;
  const std::string option = "--a4=" + std::string(131071 - 5, 'x');
  auto runIn = [&](long bytes) {
    RunExtras extras;
    extras.addressSpaceLimit = bytes;
    return RunLarkhorn(dir, {option}, "", {}, extras);
  };
  const long kPage = 4096;
  long fails = 0, runs = 1L << 32;
  ASSERT_EQ(runIn(runs).exitStatus, 2);
  while (runs - fails > kPage) {
    const long middle = (fails + runs) / 2 / kPage * kPage;
    (runIn(middle).exitStatus == 2 ? runs : fails) = middle;
  }
  const RunResult run = runIn(runs - 16 * kPage);
  EXPECT_EQ(run.exitStatus, 1);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "larkhorn: not enough memory\n");
}

}  // namespace
