// Equal-tempered frequencies of note names, referred to A = 440 Hz.
#ifndef LARKHORN_PITCH_NOTE_H_
#define LARKHORN_PITCH_NOTE_H_

#include <string>

// Frequency in Hz of noteName ("a", "a#", "bb", ... "g#", "ab") in the given
// octave. Octaves count from A upward: octave 0 runs from a = 440 Hz to
// g# = 830.61 Hz. Any other name sounds as A.
double Get_Freq(const std::string& noteName, double octave);

#endif  // LARKHORN_PITCH_NOTE_H_
