#include "pitch/note.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>

namespace {

std::string TwoDecimals(double frequency) {
  char text[32];
  snprintf(text, sizeof text, "%.2f", static_cast<float>(frequency));
  return text;
}

TEST(GetFreqTest, OctaveZeroRunsFromAUpToGSharp) {
  const char* names[] = {"a",  "a#", "b", "c",  "c#", "d",
                         "d#", "e",  "f", "f#", "g",  "g#"};
  const char* printed[] = {"440.00", "466.16", "493.88", "523.25",
                           "554.37", "587.33", "622.25", "659.26",
                           "698.46", "739.99", "783.99", "830.61"};
  for (int s = 0; s < 12; ++s) {
    const double frequency = Get_Freq(names[s], 0);
    EXPECT_EQ(TwoDecimals(frequency), printed[s]) << names[s];
    // Independent reference: 440 * 2^(s/12).
    EXPECT_NEAR(frequency / (440 * std::exp2(s / 12.0)), 1.0, 1e-9) << names[s];
  }
}

TEST(GetFreqTest, EnharmonicNamesAreIdentical) {
  const char* pairs[][2] = {
      {"a#", "bb"}, {"c#", "db"}, {"d#", "eb"}, {"f#", "gb"}, {"g#", "ab"}};
  for (auto& pair : pairs) {
    for (double octave : {-4.0, -1.0, 0.0, 1.0}) {
      EXPECT_EQ(Get_Freq(pair[0], octave), Get_Freq(pair[1], octave))
          << pair[0] << " " << octave;
    }
  }
}

TEST(GetFreqTest, OctaveFactor) {
  EXPECT_EQ(TwoDecimals(Get_Freq("a", -4)), "27.50");
  EXPECT_EQ(TwoDecimals(Get_Freq("e", -3)), "82.41");
  EXPECT_EQ(TwoDecimals(Get_Freq("a", -2)), "110.00");
  EXPECT_EQ(TwoDecimals(Get_Freq("g#", 1)), "1661.22");
  for (double octave : {-4.0, -3.0, -2.0, -1.0, 1.0}) {
    for (int s : {0, 7, 11}) {
      const char* name = s == 0 ? "a" : s == 7 ? "e" : "g#";
      EXPECT_NEAR(Get_Freq(name, octave) / (440 * std::exp2(s / 12.0 + octave)),
                  1.0, 1e-9)
          << name << " " << octave;
    }
  }
  // So far below zero that the power underflows: the factor falls back to 1.
  EXPECT_EQ(Get_Freq("a", -2000), 440.0);
}

TEST(GetFreqTest, OtherNamesSoundAsA) {
  for (const char* name :
       {"A", "B", "b#", "cb", "e#", "fb", "", "g1", "word", "a#x", "G6"}) {
    EXPECT_EQ(Get_Freq(name, 0), 440.0) << name;
    EXPECT_EQ(Get_Freq(name, -2), 110.0) << name;
  }
}

TEST(GetFreqTest, StringPresetPitches) {
  struct Preset {
    const char* note;
    double octave;
    const char* printed;
  };
  const Preset presets[] = {{"e", -1, "329.63"}, {"b", -1, "246.94"},
                            {"g", -2, "196.00"}, {"d", -2, "146.83"},
                            {"a", -2, "110.00"}, {"e", -3, "82.41"},
                            {"g", -3, "98.00"},  {"d", -3, "73.42"},
                            {"a", -3, "55.00"},  {"e", -4, "41.20"}};
  for (const Preset& p : presets) {
    EXPECT_EQ(TwoDecimals(Get_Freq(p.note, p.octave)), p.printed) << p.note;
  }
}

}  // namespace

namespace {

TEST(NoteFrequencyTest, DefaultsAreGetFreqBitForBit) {
  const Temperament& equal = Temperaments().front();
  for (const char* name : {"a", "a#", "bb", "b", "c", "c#", "db", "d", "d#",
                           "eb", "e", "f", "f#", "gb", "g", "g#", "ab", "A"}) {
    for (double octave : {-4.0, -3.0, -1.0, 0.0, 1.0}) {
      EXPECT_EQ(NoteFrequency(name, octave, 440, equal), Get_Freq(name, octave))
          << name << " " << octave;
    }
  }
}

TEST(NoteFrequencyTest, ConcertPitchAndTemperament) {
  const Temperament& w = *FindTemperament("werckmeister3");
  // C sits 11.73 cents above equal, in every octave.
  for (double octave : {-3.0, 0.0}) {
    EXPECT_NEAR(NoteFrequency("c", octave, 442, w) /
                    (Get_Freq("c", octave) * 442 / 440),
                std::exp2(11.73001 / 1200), 1e-7);
  }
  // A word that is no note name sounds as A at the concert pitch.
  EXPECT_EQ(NoteFrequency("word", 0, 430, w), 430);
}

TEST(ScientificNameTest, NamesMapToNotesAndOctaves) {
  struct Case {
    const char* text;
    const char* note;
    double octave;
  };
  const Case cases[] = {
      {"E2", "e", -3},  {"e2", "e", -3},   {"A4", "a", 0},    {"G#4", "g#", -1},
      {"C4", "c", -1},  {"c#4", "c#", -1}, {"Db4", "c#", -1}, {"Bb0", "a#", -4},
      {"B#3", "c", -1}, {"Cb4", "b", -1},  {"Fb4", "e", -1},  {"C0", "c", -5},
      {"Ab9", "g#", 4}, {"B9", "b", 5},    {"A5", "a", 1},    {"Cb0", "b", -5},
  };
  for (const Case& c : cases) {
    std::string note;
    double octave = 99;
    ASSERT_TRUE(ParseScientificName(c.text, &note, &octave)) << c.text;
    EXPECT_EQ(note, c.note) << c.text;
    EXPECT_EQ(octave, c.octave) << c.text;
  }
  for (const char* text : {"", "E", "H2", "E10", "E#", "Eb", "Ex2", "e 2", "2E",
                           "E-1", "A4 ", "a\xe9", "#4", "E##2", "G6x"}) {
    std::string note = "kept";
    double octave = 7;
    EXPECT_FALSE(ParseScientificName(text, &note, &octave)) << text;
    EXPECT_EQ(note, "kept");
  }
  // And back: every name in the octaves that scientific names reach, and a
  // flat.
  for (const char* name :
       {"a", "a#", "b", "c", "c#", "d", "d#", "e", "f", "f#", "g", "g#"}) {
    for (int octave = -4; octave <= 4; ++octave) {
      const std::string text = ScientificName(name, octave);
      std::string note;
      double back = 99;
      ASSERT_TRUE(ParseScientificName(text, &note, &back)) << text;
      EXPECT_EQ(note, name) << text;
      EXPECT_EQ(back, octave) << text;
    }
  }
  EXPECT_EQ(ScientificName("e", -3), "E2");
  EXPECT_EQ(ScientificName("bb", 0), "Bb4");
}

}  // namespace
