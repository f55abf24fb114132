#include "pitch/temperament.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// Cents from equal temperament of a, bb, b, c, c#, d, eb, e, f, f#, g, g#,
// worked out by walking each chain of fifths from A by hand.
struct Expected {
  const char* name;
  double cents[12];
};

const Expected kExpected[] = {
    {"equal", {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
    {"pythagorean",
     {0.00000, -9.77500, 3.91000, -5.86500, 7.82000, -1.95500, -11.73001,
      1.95500, -7.82000, 5.86500, -3.91000, 9.77500}},
    {"meantone",
     {0.00000, 17.10786, -6.84314, 10.26471, -13.68629, 3.42157, 20.52943,
      -3.42157, 13.68629, -10.26471, 6.84314, -17.10786}},
    {"werckmeister3",
     {0.00000, 7.82000, 3.91000, 11.73001, 1.95500, 3.91000, 5.86500, 1.95500,
      9.77500, 0.00000, 7.82000, 3.91000}},
    {"kirnberger3",
     {0.00000, 6.35471, -1.46657, 10.26471, 0.48971, 3.42157, 4.39971, -3.42157,
      8.30971, 0.48843, 6.84314, 2.44471}},
    {"vallotti",
     {0.00000, 5.86500, -3.91000, 5.86500, 0.00000, 1.95500, 3.91000, -1.95500,
      7.82000, -1.95500, 3.91000, 1.95500}},
    {"young",
     {0.00000, 1.95500, -3.91000, 5.86500, -3.91000, 1.95500, 0.00000, -1.95500,
      3.91000, -5.86500, 3.91000, -1.95500}},
};

TEST(TemperamentTest, EveryOffsetMatchesItsDefinition) {
  for (const Expected& expected : kExpected) {
    const Temperament* temperament = FindTemperament(expected.name);
    ASSERT_NE(temperament, nullptr) << expected.name;
    for (int s = 0; s < 12; ++s) {
      EXPECT_NEAR(OffsetCents(*temperament, s), expected.cents[s], 0.001)
          << expected.name << " " << s;
    }
  }
  EXPECT_EQ(FindTemperament("Equal"), nullptr);
}

TEST(TemperamentTest, WerckmeisterRelativeToC) {
  // The published figures, one decimal, C to B.
  const double fromC[] = {0,     -9.8, -7.8, -5.9,  -9.8, -2.0,
                          -11.7, -3.9, -7.8, -11.7, -3.9, -7.8};
  const Temperament& w = *FindTemperament("werckmeister3");
  for (int k = 0; k < 12; ++k) {
    const double cents = OffsetCents(w, (3 + k) % 12) - OffsetCents(w, 3);
    EXPECT_NEAR(cents, fromC[k], 0.05) << k;
  }
}

}  // namespace
