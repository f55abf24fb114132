// Frequencies of note names: equal-tempered at A = 440 Hz, or at another
// concert pitch and temperament, moved by cents, transposed; scientific
// pitch names (E2, C#4).
#ifndef LARKHORN_PITCH_NOTE_H_
#define LARKHORN_PITCH_NOTE_H_

#include <string>

#include "pitch/temperament.h"

// The frequency of A in octave 0 unless another concert pitch is asked for.
const double kStandardConcertPitch = 440;

// Frequency in Hz of noteName ("a", "a#", "bb", ... "g#", "ab") in the given
// octave. Octaves count from A upward: octave 0 runs from a = 440 Hz to
// g# = 830.61 Hz. Any other name sounds as A.
double Get_Freq(const std::string& noteName, double octave);

// How note names sound.
struct Tuning {
  double concertPitch = kStandardConcertPitch;  // A in octave 0, in Hz
  const Temperament* temperament = &Temperaments().front();
  double cents = 0;   // every note this far from its place in the temperament
  int transpose = 0;  // a note as written sounds this many semitones away
};

// The frequency at which noteName in octave sounds in tuning: the note
// transposed, at its offset in the temperament from A of octave 0 at the
// concert pitch, moved by the cents. Exactly Get_Freq at the defaults, and
// a transposed note exactly the note it sounds as.
double NoteFrequency(const std::string& noteName, double octave,
                     const Tuning& tuning);

// Whether noteName is one of the seventeen names Get_Freq knows.
bool IsNoteName(const std::string& noteName);

// Reads a scientific pitch name: a letter A-G in either case, an optional
// # or b, an octave digit 0-9 (A4 is a in octave 0, C4 is c in octave -1).
// Gives the note's name as Get_Freq takes it (a flat as written, sharps
// for the other black keys) and its octave; false when text is not such a
// name.
bool ParseScientificName(const std::string& text, std::string* noteName,
                         double* octave);

// The scientific pitch name of noteName in octave, spelt as noteName is and
// read back by ParseScientificName: "C#4" for c# in octave -1, "Bb4" for bb
// in octave 0 (a name Get_Freq does not know is A).
std::string ScientificName(const std::string& noteName, double octave);

// The written note whose sound in a tuning lies nearest to a frequency, and
// how many cents the frequency lies above that sound.
struct NearestNote {
  std::string noteName;  // as Get_Freq takes it
  double octave = 0;
  double cents = 0;
};
NearestNote FindNearestNote(double hz, const Tuning& tuning);

#endif  // LARKHORN_PITCH_NOTE_H_
