#include "pitch/note.h"

#include <cmath>

namespace {

struct NoteName {
  const char* name;
  int semitonesAboveA;
};

const NoteName kNoteNames[] = {
    {"a", 0},  {"a#", 1}, {"bb", 1}, {"b", 2},   {"c", 3},   {"c#", 4},
    {"db", 4}, {"d", 5},  {"d#", 6}, {"eb", 6},  {"e", 7},   {"f", 8},
    {"f#", 9}, {"gb", 9}, {"g", 10}, {"g#", 11}, {"ab", 11},
};

int SemitonesAboveA(const std::string& noteName) {
  for (const NoteName& note : kNoteNames) {
    if (noteName == note.name) return note.semitonesAboveA;
  }
  return 0;
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
  return octaveFactor * ((noteFactor - 1) * 440 + 440);
}
