// Frequencies of note names: equal-tempered at A = 440 Hz, or at another
// concert pitch and temperament; scientific pitch names (E2, C#4).
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

// Get_Freq with A of octave 0 at concertPitch Hz and the other notes at
// their offsets in temperament; exactly Get_Freq at 440 Hz in equal
// temperament.
double NoteFrequency(const std::string& noteName, double octave,
                     double concertPitch, const Temperament& temperament);

// Whether noteName is one of the seventeen names Get_Freq knows.
bool IsNoteName(const std::string& noteName);

// Reads a scientific pitch name: a letter A-G in either case, an optional
// # or b, an octave digit 0-9 (A4 is a in octave 0, C4 is c in octave -1).
// Gives the note's name as Get_Freq takes it (sharps for the black keys)
// and its octave; false when text is not such a name.
bool ParseScientificName(const std::string& text, std::string* noteName,
                         double* octave);

// The scientific pitch name of one of the seventeen note names in an
// octave, as E2 for e in octave -3, Bb4 for bb in octave 0.
std::string ScientificName(const std::string& noteName, int octave);

#endif  // LARKHORN_PITCH_NOTE_H_
