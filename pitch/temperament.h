// Temperaments: how far each of the twelve notes sits from equal
// temperament, given by the sizes of the fifths that tune them.
#ifndef LARKHORN_PITCH_TEMPERAMENT_H_
#define LARKHORN_PITCH_TEMPERAMENT_H_

#include <string>
#include <vector>

// The eleven fifths of the chain Eb-Bb-F-C-G-D-A-E-B-F#-C#-G#, in that
// order, each a pure fifth narrowed by narrowedCents.
struct Temperament {
  const char* name;        // as given on the command line
  const char* title;       // as the console names it
  const char* definition;  // which fifths are narrowed, and by how much
  double narrowedCents[11];
};

// Every temperament, equal temperament first.
const std::vector<Temperament>& Temperaments();

// The temperament of that name, or null.
const Temperament* FindTemperament(const std::string& name);

// The names, separated by ", ".
std::string TemperamentNames();

// Cents from equal temperament of the note semitonesAboveA (0-11) above A,
// which keeps its pitch; the enharmonic notes are the chain's Bb, C#, Eb, F#
// and G#.
double OffsetCents(const Temperament& temperament, int semitonesAboveA);

#endif  // LARKHORN_PITCH_TEMPERAMENT_H_
