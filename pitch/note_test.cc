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

Tuning At(double concertPitch, const char* temperament) {
  Tuning tuning;
  tuning.concertPitch = concertPitch;
  tuning.temperament = FindTemperament(temperament);
  return tuning;
}

TEST(NoteFrequencyTest, DefaultsAreGetFreqBitForBit) {
  for (const char* name : {"a", "a#", "bb", "b", "c", "c#", "db", "d", "d#",
                           "eb", "e", "f", "f#", "gb", "g", "g#", "ab", "A"}) {
    for (double octave : {-4.0, -3.0, -1.0, 0.0, 1.0}) {
      EXPECT_EQ(NoteFrequency(name, octave, Tuning()), Get_Freq(name, octave))
          << name << " " << octave;
    }
  }
}

TEST(NoteFrequencyTest, ConcertPitchAndTemperament) {
  const Tuning w = At(442, "werckmeister3");
  // C sits 11.73 cents above equal, in every octave.
  for (double octave : {-3.0, 0.0}) {
    EXPECT_NEAR(
        NoteFrequency("c", octave, w) / (Get_Freq("c", octave) * 442 / 440),
        std::exp2(11.73001 / 1200), 1e-7);
  }
  // A word that is no note name sounds as A at the concert pitch.
  EXPECT_EQ(NoteFrequency("word", 0, At(430, "werckmeister3")), 430);
}

// A transposed note is, bit for bit, the note it sounds as, in any
// temperament; cents move every note by the same ratio.
TEST(NoteFrequencyTest, TranspositionAndCents) {
  struct Case {
    const char* written;
    double octave;
    int transpose;
    const char* sounding;
    double soundingOctave;
  };
  const Case cases[] =
      {
          {"c", -1, -2, "a#", -1},  // a Bb clarinet's written C4 is Bb3
          {"a", 0, -9, "c", -1},    // an Eb alto sax's written A4 is C4
          {"g#", 0, 1, "a", 1},    {"a", 0, -1, "g#", -1},
          {"e", -3, 24, "e", -1},  {"db", -1, -24, "c#", -3},
          {"A", 0, 3, "c", 0},  // a word sounds as A, and transposes as A
      };
  for (const char* temperament : {"equal", "werckmeister3"}) {
    for (const Case& c : cases) {
      Tuning tuning = At(440, temperament);
      const double sounds = NoteFrequency(c.sounding, c.soundingOctave, tuning);
      tuning.transpose = c.transpose;
      EXPECT_EQ(NoteFrequency(c.written, c.octave, tuning), sounds)
          << c.written << " " << c.transpose << " " << temperament;
    }
  }
  Tuning tuning = At(415, "meantone");
  const double plain = NoteFrequency("f#", -2, tuning);
  for (double cents : {-100.0, -0.5, 33.3, 100.0}) {
    tuning.cents = cents;
    EXPECT_NEAR(NoteFrequency("f#", -2, tuning) / plain,
                std::exp2(cents / 1200), 1e-15)
        << cents;
  }
}

TEST(ScientificNameTest, NamesMapToNotesAndOctaves) {
  struct Case {
    const char* text;
    const char* note;
    double octave;
  };
  const Case cases[] = {
      {"E2", "e", -3},  {"e2", "e", -3},   {"A4", "a", 0},    {"G#4", "g#", -1},
      {"C4", "c", -1},  {"c#4", "c#", -1}, {"Db4", "db", -1}, {"Bb0", "bb", -4},
      {"B#3", "c", -1}, {"Cb4", "b", -1},  {"Fb4", "e", -1},  {"C0", "c", -5},
      {"Ab9", "ab", 4}, {"B9", "b", 5},    {"A5", "a", 1},    {"Cb0", "b", -5},
  };
  for (const Case& c : cases) {
    std::string note;
    double octave = 99;
    ASSERT_TRUE(ParseScientificName(c.text, &note, &octave)) << c.text;
    EXPECT_EQ(note, c.note) << c.text;
    EXPECT_EQ(octave, c.octave) << c.text;
  }
  // And back, sharps for the black keys; a word is A.
  EXPECT_EQ(ScientificName("db", -1), "Db4");
  EXPECT_EQ(ScientificName("e", -3), "E2");
  EXPECT_EQ(ScientificName("a", 0), "A4");
  EXPECT_EQ(ScientificName("g#", 4), "G#9");
  EXPECT_EQ(ScientificName("b", -5), "B-1");
  EXPECT_EQ(ScientificName("word", -1), "A3");
  for (const char* text : {"", "E", "H2", "E10", "E#", "Eb", "Ex2", "e 2", "2E",
                           "E-1", "A4 ", "a\xe9", "#4", "E##2", "G6x"}) {
    std::string note = "kept";
    double octave = 7;
    EXPECT_FALSE(ParseScientificName(text, &note, &octave)) << text;
    EXPECT_EQ(note, "kept");
  }
  // And back: every name in the octaves that scientific names reach, and a
  // flat.
  for (const char* name : {"a", "a#", "bb", "b", "c", "c#", "db", "d", "d#",
                           "eb", "e", "f", "f#", "gb", "g", "g#", "ab"}) {
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

// Half a semitone is where the nearest note changes in equal temperament;
// in another, the notes' own frequencies decide; a transposing instrument's
// note is named as written.
TEST(NearestNoteTest, TheNoteWithTheFewestCents) {
  const Tuning equal;
  NearestNote below = FindNearestNote(440 * std::exp2(0.49 / 12), equal);
  NearestNote above = FindNearestNote(440 * std::exp2(0.51 / 12), equal);
  EXPECT_EQ(ScientificName(below.noteName, below.octave), "A4");
  EXPECT_NEAR(below.cents, 49, 1e-9);
  EXPECT_EQ(ScientificName(above.noteName, above.octave), "A#4");
  EXPECT_NEAR(above.cents, -49, 1e-9);
  // Meantone's G is 7 cents above equal G, its G# 17 below equal G#: 47
  // cents above equal G is nearer its G#.
  const Tuning meantone = At(440, "meantone");
  const double hz = 440 * std::exp2(10.47 / 12);
  EXPECT_EQ(FindNearestNote(hz, equal).noteName, "g");
  const NearestNote gSharp = FindNearestNote(hz, meantone);
  EXPECT_EQ(gSharp.noteName, "g#");
  EXPECT_NEAR(gSharp.cents,
              1200 * std::log2(hz / NoteFrequency("g#", 0, meantone)), 1e-9);
  // A B-flat clarinet's written C5 sounds as B-flat 4, 5 cents sharp here.
  Tuning clarinet = At(440, "equal");
  clarinet.transpose = -2;
  clarinet.cents = 5;
  const NearestNote c5 =
      FindNearestNote(NoteFrequency("a#", 0, equal), clarinet);
  EXPECT_EQ(ScientificName(c5.noteName, c5.octave), "C5");
  EXPECT_NEAR(c5.cents, -5, 1e-9);
}

}  // namespace
