#include "pitch/note.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

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

// The name of the note semitone (0-11) above A: its sharp, for a black key.
const char* NameOf(int semitone) {
  for (const NoteName& note : kNoteNames) {
    if (note.semitonesAboveA == semitone) return note.name;
  }
  return kNoteNames[0].name;
}

// Whole octaves below semitone: semitone / 12 rounded down.
int OctavesIn(int semitone) {
  return semitone >= 0 ? semitone / 12 : -((11 - semitone) / 12);
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
                     const Tuning& tuning) {
  std::string sounding = noteName;
  if (tuning.transpose != 0) {
    const int semitone = SemitonesAboveA(noteName) + tuning.transpose;
    const int octaves = OctavesIn(semitone);
    sounding = NameOf(semitone - 12 * octaves);
    octave += octaves;
  }
  const double cents =
      OffsetCents(*tuning.temperament, SemitonesAboveA(sounding)) +
      tuning.cents;
  // At the defaults both factors are exactly 1: the same bits as Get_Freq.
  return Get_Freq(sounding, octave) *
         (tuning.concertPitch / kStandardConcertPitch) *
         std::exp2(cents / 1200);
}

NearestNote FindNearestNote(double hz, const Tuning& tuning) {
  // A temperament moves no note by half a semitone, so the nearest note is
  // the nearest equal-tempered one or a neighbour.
  const double equal = 12 * std::log2(hz / tuning.concertPitch) -
                       tuning.cents / 100 - tuning.transpose;
  const int middle =
      static_cast<int>(std::lround(std::clamp(equal, -1e4, 1e4)));
  NearestNote nearest;
  double best = INFINITY;
  for (int s = middle - 1; s <= middle + 1; ++s) {
    const int octave = OctavesIn(s);
    const char* name = NameOf(s - 12 * octave);
    const double cents =
        1200 * std::log2(hz / NoteFrequency(name, octave, tuning));
    if (std::fabs(cents) < best) {
      best = std::fabs(cents);
      nearest = {name, static_cast<double>(octave), cents};
    }
  }
  return nearest;
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
  const int octaveNumber = OctavesIn(fromA4);
  // A flat keeps its spelling where the note names have it, so that it is
  // shown back as written.
  const std::string flat = {letter, 'b'};
  *noteName = accidental < 0 && IsNoteName(flat)
                  ? flat
                  : NameOf(fromA4 - 12 * octaveNumber);
  *octave = octaveNumber;
  return true;
}

std::string ScientificName(const std::string& noteName, double octave) {
  const int semitone = SemitonesAboveA(noteName);
  std::string name = IsNoteName(noteName) ? noteName : NameOf(semitone);
  name[0] = static_cast<char>(name[0] - 'a' + 'A');
  // Scientific octaves start at C, three semitones above A.
  const double number = octave + 4 + (semitone >= 3 ? 1 : 0);
  char text[32];
  snprintf(text, sizeof text, "%.0f", number);
  return name + text;
}
