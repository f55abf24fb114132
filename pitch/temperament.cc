#include "pitch/temperament.h"

#include <cmath>

namespace {

// In cents: 3^12 / 2^19, and 81 / 80. Functions, so that they are ready
// whenever the table is first asked for.
double PythagoreanComma() { return 1200 * std::log2(531441.0 / 524288.0); }
double SyntonicComma() { return 1200 * std::log2(81.0 / 80.0); }

// A being the chain's seventh note, the fifths below it are 0-5.
const int kFifthsBelowA = 6;

}  // namespace

const std::vector<Temperament>& Temperaments() {
  const double pc = PythagoreanComma();
  const double q = SyntonicComma() / 4;
  const double schisma = pc - SyntonicComma();
  static const std::vector<Temperament> temperaments = {
      {"equal",
       "equal temperament",
       "every fifth narrowed by PC/12",
       {pc / 12, pc / 12, pc / 12, pc / 12, pc / 12, pc / 12, pc / 12, pc / 12,
        pc / 12, pc / 12, pc / 12}},
      {"pythagorean",
       "Pythagorean tuning",
       "all eleven fifths pure",
       {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
      {"meantone",
       "quarter-comma meantone",
       "all eleven fifths narrowed by SC/4",
       {q, q, q, q, q, q, q, q, q, q, q}},
      {"werckmeister3",
       "Werckmeister III",
       "C-G, G-D, D-A and B-F# narrowed by PC/4",
       {0, 0, 0, pc / 4, pc / 4, pc / 4, 0, 0, pc / 4, 0, 0}},
      {"kirnberger3",
       "Kirnberger III",
       "C-G, G-D, D-A and A-E by SC/4, F#-C# by the schisma",
       {0, 0, 0, q, q, q, q, 0, 0, schisma, 0}},
      {"vallotti",
       "Vallotti",
       "F-C, C-G, G-D, D-A, A-E and E-B by PC/6",
       {0, 0, pc / 6, pc / 6, pc / 6, pc / 6, pc / 6, pc / 6, 0, 0, 0}},
      {"young",
       "Young's second",
       "C-G, G-D, D-A, A-E, E-B and B-F# by PC/6",
       {0, 0, 0, pc / 6, pc / 6, pc / 6, pc / 6, pc / 6, pc / 6, 0, 0}},
  };
  return temperaments;
}

const Temperament* FindTemperament(const std::string& name) {
  for (const Temperament& temperament : Temperaments()) {
    if (name == temperament.name) return &temperament;
  }
  return nullptr;
}

std::string TemperamentNames() {
  std::string names;
  for (const Temperament& temperament : Temperaments()) {
    if (!names.empty()) names += ", ";
    names += temperament.name;
  }
  return names;
}

double OffsetCents(const Temperament& temperament, int semitonesAboveA) {
  // Seven semitones make a fifth: the note is this many fifths above A (or
  // below, when negative) within the chain.
  int fifths = (7 * semitonesAboveA) % 12;
  if (fifths > 5) fifths -= 12;
  // A pure fifth is PC/12 wider than an equal one, so equal temperament
  // comes out exactly zero.
  const double equalFifth = PythagoreanComma() / 12;
  double cents = 0;
  for (int i = 0; i < fifths; ++i) {
    cents += equalFifth - temperament.narrowedCents[kFifthsBelowA + i];
  }
  for (int i = fifths; i < 0; ++i) {
    cents -= equalFifth - temperament.narrowedCents[kFifthsBelowA + i];
  }
  return cents;
}
