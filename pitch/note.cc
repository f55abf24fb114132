#include "pitch/note.h"

#include <cmath>

namespace {

struct NoteName {
  const char* name;
  int semitonesAboveA;
};

// The first name of each semitone is the one a scientific name maps to.
const NoteName kNoteNames[] = {
    {"a", 0},  {"a#", 1}, {"bb", 1}, {"b", 2},   {"c", 3},   {"c#", 4},
    {"db", 4}, {"d", 5},  {"d#", 6}, {"eb", 6},  {"e", 7},   {"f", 8},
    {"f#", 9}, {"gb", 9}, {"g", 10}, {"g#", 11}, {"ab", 11},
};

const NoteName* FindNoteName(const std::string& noteName) {
  for (const NoteName& note : kNoteNames) {
    if (noteName == note.name) return &note;
  }
  return nullptr;
}

int SemitonesAboveA(const std::string& noteName) {
  const NoteName* note = FindNoteName(noteName);
  return note ? note->semitonesAboveA : 0;
}

}  // namespace

double Get_Freq(const std::string& noteName, double octave) {
  const int s = SemitonesAboveA(noteName);
  // 11/12 is written out for g# and ab so their pitch is the same on every
  // build.
  const double exponent = s == 11 ? 0.9166666666666666 : s / 12.0;
  const double noteFactor = pow(2.0, exponent);
  double octaveFactor = octave;
  if (octaveFactor > 0) octaveFactor = pow(2.0, octave);
  if (octaveFactor < 0) octaveFactor = pow(0.5, -octave);
  if (octaveFactor == 0) octaveFactor = 1;
  return octaveFactor *
         ((noteFactor - 1) * kStandardConcertPitch + kStandardConcertPitch);
}

double NoteFrequency(const std::string& noteName, double octave,
                     double concertPitch, const Temperament& temperament) {
  const double cents = OffsetCents(temperament, SemitonesAboveA(noteName));
  // At the defaults both factors are exactly 1: the same bits as Get_Freq.
  return Get_Freq(noteName, octave) * (concertPitch / kStandardConcertPitch) *
         std::exp2(cents / 1200);
}

bool IsNoteName(const std::string& noteName) {
  return FindNoteName(noteName) != nullptr;
}

bool ParseScientificName(const std::string& text, std::string* noteName,
                         double* octave) {
  // Semitones of each letter above C, from A.
  const int kLetterAboveC[] = {9, 11, 0, 2, 4, 5, 7};
  if (text.size() < 2 || text.size() > 3) return false;
  const char letter = static_cast<char>(text[0] | 0x20);  // lower case
  if (letter < 'a' || letter > 'g') return false;
  int accidental = 0;
  if (text.size() == 3 && text[1] == '#') accidental = 1;
  if (text.size() == 3 && text[1] == 'b') accidental = -1;
  if (text.size() == 3 && accidental == 0) return false;
  const char digit = text.back();
  if (digit < '0' || digit > '9') return false;
  // Semitones above A4; B#, Cb, E# and Fb are the neighbouring keys.
  const int fromA4 = 12 * (digit - '0') + kLetterAboveC[letter - 'a'] +
                     accidental - (12 * 4 + 9);
  const int octaveNumber = fromA4 >= 0 ? fromA4 / 12 : -((11 - fromA4) / 12);
  const int semitone = fromA4 - 12 * octaveNumber;
  for (const NoteName& note : kNoteNames) {
    if (note.semitonesAboveA == semitone) {
      *noteName = note.name;
      break;
    }
  }
  *octave = octaveNumber;
  return true;
}

std::string ScientificName(const std::string& noteName, int octave) {
  // Semitones above C4; scientific octaves start at C, nine above A.
  const int fromC4 = 12 * octave + SemitonesAboveA(noteName) + 9;
  const int scientificOctave =
      4 + (fromC4 >= 0 ? fromC4 / 12 : -((11 - fromC4) / 12));
  std::string name = noteName;
  name[0] = static_cast<char>(name[0] - 'a' + 'A');
  return name + std::to_string(scientificOctave);
}
