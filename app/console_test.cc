// The console driven in-process with a stand-in for the tone request, so
// that every setting a tone would be played with can be checked.
#include "app/console.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <string>
#include <vector>

#include "pitch/note.h"
#include "testing/process.h"

namespace {

std::vector<ToneSettings>* tonesPlayed = nullptr;

bool RecordTone(ToneSettings& settings) {
  tonesPlayed->push_back(settings);
  return true;
}

struct ConsoleRun {
  ToneSettings settings;  // as the console left it
  std::vector<ToneSettings> tones;
  std::string out;
};

ConsoleRun RunConsoleOn(const std::string& input,
                        const ToneSettings& settings = {}) {
  ConsoleRun run;
  run.settings = settings;
  tonesPlayed = &run.tones;
  FILE* in = input.empty()
                 ? fopen("/dev/null", "r")
                 : fmemopen(const_cast<char*>(input.data()), input.size(), "r");
  testing::internal::CaptureStdout();
  RunConsole(run.settings, in, RecordTone);
  run.out = testing::internal::GetCapturedStdout();
  fclose(in);
  tonesPlayed = nullptr;
  return run;
}

TEST(ConsoleTest, OctaveEntriesInEveryIntegerForm) {
  struct Case {
    const char* entry;
    double octave;
  };
  const Case cases[] = {{"-4", -4},
                        {"1", 1},
                        {"2", 0},
                        {"0x1", 1},
                        {"-0x4", -4},
                        {"010", 0},
                        {"+1", 1},
                        {"-5", 0},
                        {"2147483648", 0},
                        {"-2147483649", 0},
                        {"99999999999999999999", 0}};
  for (const Case& c : cases) {
    ConsoleRun run = RunConsoleOn(std::string("o ") + c.entry + " x");
    EXPECT_EQ(run.settings.octave, c.octave) << c.entry;
    EXPECT_EQ(run.settings.noteName, "a") << c.entry;  // token consumed
  }
  // Not integers: the token stays in the input and becomes the note name.
  for (const char* entry : {"08", "1.0", "0x", "0b1", "1e0", "one", "-"}) {
    ConsoleRun run = RunConsoleOn(std::string("o ") + entry + " x");
    EXPECT_EQ(run.settings.octave, 0) << entry;
    EXPECT_EQ(run.settings.noteName, entry);
  }
}

TEST(ConsoleTest, LastIntegerOctaveEntryIsAppliedAgain) {
  // After o -1, G6 and an octave entry that is no integer, octave -1 again.
  EXPECT_EQ(RunConsoleOn("o -1 G6 o ? x").settings.octave, -1);
  // An out-of-range entry is remembered too, and still out of range.
  EXPECT_EQ(RunConsoleOn("o -1 o 7 G6 o ? x").settings.octave, -3);
  // So is an integer beyond 32 bits.
  EXPECT_EQ(RunConsoleOn("o -1 G6 o 4294967296 x").settings.octave, -3);
  EXPECT_EQ(RunConsoleOn("o -1 G6 o 4294967296 o ? x").settings.octave, -3);
}

TEST(ConsoleTest, LengthAndVolumeEdges) {
  struct Case {
    const char* entry;
    float length;
    float volume;
  };
  const Case cases[] = {
      {"1", 1.0f, 1.0f},
      {"0.999", 1.0f, 0.999f},
      {"120", 120.0f, 100.0f},
      {"120.001", 120.0f, 100.0f},
      {"-0", 1.0f, -0.0f},
      {"0x1p-1074", 1.0f, 0.0f},
      {"1e309", 120.0f, 100.0f},
      {"inf", 120.0f, 100.0f},
      {"-inf", 1.0f, -100.0f},
      {"-1e40", 1.0f, -100.0f},
      {"-30000", 1.0f, -100.0f},
      {"nan", 1.0f, 25.0f},
      {"100", 100.0f, 100.0f},
      {"100.00001", 100.00001f, 100.0f},
      {"1.0000001", 1.0000001f, 1.0000001f},
      {"119.99999", 119.99999f, 100.0f},
      {"-1e309", 1.0f, -100.0f},
      {"-25601", 1.0f, -100.0f},
      {"-nan", 1.0f, 25.0f},
      {"-100", 1.0f, -100.0f},
      {"-99.99999", 1.0f, -99.99999f},
      {"-100.00001", 1.0f, -100.0f},
      // Just above the midpoint between 1 and the next float: rounded once
      // it goes up; through double precision it would tie down to 1.
      {"1.000000059604644775390625000001", 0x1.000002p0f, 0x1.000002p0f},
      {"0x1.0000010000000000001p0", 0x1.000002p0f, 0x1.000002p0f},
  };
  for (const Case& c : cases) {
    ToneSettings l = RunConsoleOn(std::string("l ") + c.entry + " x").settings;
    EXPECT_EQ(l.lengthSeconds, c.length) << c.entry;
    ToneSettings v = RunConsoleOn(std::string("v ") + c.entry + " x").settings;
    EXPECT_EQ(v.volumePercent, c.volume) << c.entry;
    EXPECT_EQ(v.command, "x") << c.entry;
  }
}

TEST(ConsoleTest, TypedFrequencyKeepsTheLastWhenNotFinite) {
  ConsoleRun run =
      RunConsoleOn("z 1000 z nan z 1e39 z -inf z -0 z 0x1p-3 z 1e-50 x");
  ASSERT_EQ(run.tones.size(), 7u);
  EXPECT_EQ(run.tones[0].frequency, 1000.0f);
  EXPECT_EQ(run.tones[1].frequency, 1000.0f);
  EXPECT_EQ(run.tones[2].frequency, 1000.0f);
  EXPECT_EQ(run.tones[3].frequency, 1000.0f);
  EXPECT_EQ(run.tones[4].frequency, 0.0f);
  EXPECT_TRUE(std::signbit(run.tones[4].frequency));
  EXPECT_EQ(run.tones[5].frequency, 0.125f);
  EXPECT_EQ(run.tones[6].frequency, 0.0f);
  for (const ToneSettings& tone : run.tones) {
    EXPECT_EQ(tone.pitchMode, PitchMode::Frequency);
  }
}

TEST(ConsoleTest, TypedFrequencyIsRoundedOnce) {
  // The token is just above the midpoint between 1000 and the next float.
  ConsoleRun run = RunConsoleOn(
      "z 1000.000030517578125000000000001 z 1000.000030517578125 x");
  ASSERT_EQ(run.tones.size(), 2u);
  EXPECT_EQ(run.tones[0].frequency, 0x1.f40002p9f);  // 1000.0000610 Hz
  EXPECT_EQ(run.tones[1].frequency, 1000.0f);        // a tie goes to even
}

TEST(ConsoleTest, TypedFrequencyAtTheEdgesOfSinglePrecision) {
  ConsoleRun run = RunConsoleOn(
      "z 3.4028235e38 z 3.4028236e38 z -inf z -1e309 z 1e-45 z 0x1p-1074 x");
  ASSERT_EQ(run.tones.size(), 6u);
  EXPECT_EQ(run.tones[0].frequency, FLT_MAX);  // rounds down to the largest
  EXPECT_EQ(run.tones[1].frequency, FLT_MAX);  // rounds up to inf: kept
  EXPECT_EQ(run.tones[2].frequency, FLT_MAX);
  EXPECT_EQ(run.tones[3].frequency, FLT_MAX);
  EXPECT_EQ(run.tones[4].frequency, 1e-45f);  // the smallest step above 0
  EXPECT_EQ(run.tones[5].frequency, 0.0f);
  // Every menu shows the frequency as a plain number.
  EXPECT_EQ(run.out.find("nan"), std::string::npos);
  EXPECT_EQ(run.out.find("inf"), std::string::npos);
  EXPECT_NE(run.out.find("(340282346638528859811704183484516925440.0 Hz)"),
            std::string::npos);
}

TEST(ConsoleTest, TokensAreWholeAndNeverOverflow) {
  const std::string longToken(100000, 'q');
  ConsoleRun run =
      RunConsoleOn("s " + longToken + " " + longToken + " G6x\tp\r\n");
  EXPECT_EQ(run.settings.deviceName.size(), 65536u);
  EXPECT_EQ(run.settings.noteName, "G6x");  // not a preset: sounds as A
  ASSERT_EQ(run.tones.size(), 1u);
  EXPECT_EQ(run.tones[0].frequency, 440.0f);

  // Binary bytes and NUL inside a token are just part of the token.
  ConsoleRun binary = RunConsoleOn(std::string("c\0#\xff p", 6));
  ASSERT_EQ(binary.tones.size(), 1u);
  EXPECT_EQ(binary.tones[0].frequency, 440.0f);
}

// Presets are transposed and moved by the cents, the menu shows the pitch
// that plays, and a line names every option in force.
TEST(ConsoleTest, ToneOptionsNamedAndHeard) {
  ToneSettings settings;
  settings.tuning.transpose = -7;  // a horn in F
  settings.tuning.cents = -2.5;
  settings.timbre = FindTimbre("bright");
  settings.withNotes = {{"e", -1}, {"c#", 0}};
  ConsoleRun run = RunConsoleOn("G5 x", settings);
  ASSERT_EQ(run.tones.size(), 1u);
  // G5 is A2, which sounds as D2.
  const float d2 =
      static_cast<float>(Get_Freq("d", -3) * std::exp2(-2.5 / 1200));
  EXPECT_EQ(run.tones[0].frequency, d2);
  char menu[64];
  snprintf(menu, sizeof menu, "play current note (%.1f Hz)\n", d2);
  EXPECT_EQ(Count(run.out, menu), 1u);
  EXPECT_EQ(run.out.rfind("\nLarkhorn\n\nTuning: A4 = 440 Hz, equal "
                          "temperament, -2.5 cents, transposed -7 "
                          "semitones, bright timbre, with E4 C#5\n",
                          0),
            0u);
}

TEST(ConsoleTest, EndOfInputEndsAtMenuOrPrompt) {
  struct Case {
    const char* input;
    size_t tones;
  };
  // The last command is never dispatched again, and a prompt left without
  // an answer does nothing.
  const Case cases[] = {{"", 0},    {"p", 1},  {"z", 0},    {"l", 0},
                        {"v", 0},   {"o", 0},  {"s", 0},    {"G6 o", 1},
                        {"z 5", 1}, {"G6", 1}, {"p\n\n", 1}};
  for (const Case& c : cases) {
    ConsoleRun run = RunConsoleOn(c.input);
    EXPECT_EQ(run.tones.size(), c.tones) << c.input;
  }
  EXPECT_EQ(RunConsoleOn("s").settings.deviceName, "default");
  EXPECT_EQ(RunConsoleOn("l").settings.lengthSeconds, 8.0f);
}

}  // namespace
