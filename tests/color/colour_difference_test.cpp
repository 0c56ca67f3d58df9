// The known values of known_values.txt, to the bit; CIEDE2000 against its
// published reference pairs.
#include "color/colour_difference.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

namespace tavrel {
namespace {

// The bits of a double as %a prints them, so that failures show exact values.
std::string hex(double value) {
  char text[64];
  std::snprintf(text, sizeof text, "%a", value);
  return text;
}

TEST(ColourDifference, KnownValuesToTheBit) {
  std::ifstream in(TAVREL_COLOUR_VALUES);
  int rows = 0;
  for (std::string line; std::getline(in, line);) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line.substr(0, line.find(" | ")));
    std::string kind;
    int c[7] = {};
    fields >> kind;
    for (int& value : c) fields >> value;
    std::string got;
    if (kind == "difference") got = hex(ColourDifference(c[0], c[1], c[2], c[3], c[4], c[5], c[6]));
    if (kind == "lab") {
      const LabColor lab = colourToLab(c[0], c[1], c[2], c[3]);
      got = hex(lab.L) + " " + hex(lab.a) + " " + hex(lab.b);
    } else if (kind == "xyz") {
      const XyzColor xyz = srgbToXyz(c[0], c[1], c[2]);
      got = hex(xyz.X) + " " + hex(xyz.Y) + " " + hex(xyz.Z);
    }
    EXPECT_EQ(got, line.substr(line.find(" | ") + 3)) << line;
    ++rows;
  }
  EXPECT_EQ(rows, 21);
  // pow with the rounded exponent, not cbrt: for 1000 it gives just under 10.
  EXPECT_EQ(hex(signedCubeRoot(1000.0)) + hex(signedCubeRoot(-1000.0)),
            "0x1.3ffffffffffffp+3-0x1.3ffffffffffffp+3");
}

// The 34 reference pairs of Sharma, Wu and Dalal, "The CIEDE2000
// color-difference formula: implementation notes, supplementary test data, and
// mathematical observations" (Color Research and Application 30, 2005), with
// the difference to the four decimals they publish. Pairs 7 to 16 sit on the
// hue discontinuities: near the neutral axis, hues half a turn apart, the mean
// hue taken the short way round.
struct Ciede2000Pair {
  LabColor first, second;
  const char* difference;
};

constexpr Ciede2000Pair kSharmaPairs[] = {
    {{50.0000, 2.6772, -79.7751}, {50.0000, 0.0000, -82.7485}, "2.0425"},
    {{50.0000, 3.1571, -77.2803}, {50.0000, 0.0000, -82.7485}, "2.8615"},
    {{50.0000, 2.8361, -74.0200}, {50.0000, 0.0000, -82.7485}, "3.4412"},
    {{50.0000, -1.3802, -84.2814}, {50.0000, 0.0000, -82.7485}, "1.0000"},
    {{50.0000, -1.1848, -84.8006}, {50.0000, 0.0000, -82.7485}, "1.0000"},
    {{50.0000, -0.9009, -85.5211}, {50.0000, 0.0000, -82.7485}, "1.0000"},
    {{50.0000, 0.0000, 0.0000}, {50.0000, -1.0000, 2.0000}, "2.3669"},
    {{50.0000, -1.0000, 2.0000}, {50.0000, 0.0000, 0.0000}, "2.3669"},
    {{50.0000, 2.4900, -0.0010}, {50.0000, -2.4900, 0.0009}, "7.1792"},
    {{50.0000, 2.4900, -0.0010}, {50.0000, -2.4900, 0.0010}, "7.1792"},
    {{50.0000, 2.4900, -0.0010}, {50.0000, -2.4900, 0.0011}, "7.2195"},
    {{50.0000, 2.4900, -0.0010}, {50.0000, -2.4900, 0.0012}, "7.2195"},
    {{50.0000, -0.0010, 2.4900}, {50.0000, 0.0009, -2.4900}, "4.8045"},
    {{50.0000, -0.0010, 2.4900}, {50.0000, 0.0010, -2.4900}, "4.8045"},
    {{50.0000, -0.0010, 2.4900}, {50.0000, 0.0011, -2.4900}, "4.7461"},
    {{50.0000, 2.5000, 0.0000}, {50.0000, 0.0000, -2.5000}, "4.3065"},
    {{50.0000, 2.5000, 0.0000}, {73.0000, 25.0000, -18.0000}, "27.1492"},
    {{50.0000, 2.5000, 0.0000}, {61.0000, -5.0000, 29.0000}, "22.8977"},
    {{50.0000, 2.5000, 0.0000}, {56.0000, -27.0000, -3.0000}, "31.9030"},
    {{50.0000, 2.5000, 0.0000}, {58.0000, 24.0000, 15.0000}, "19.4535"},
    {{50.0000, 2.5000, 0.0000}, {50.0000, 3.1736, 0.5854}, "1.0000"},
    {{50.0000, 2.5000, 0.0000}, {50.0000, 3.2972, 0.0000}, "1.0000"},
    {{50.0000, 2.5000, 0.0000}, {50.0000, 1.8634, 0.5757}, "1.0000"},
    {{50.0000, 2.5000, 0.0000}, {50.0000, 3.2592, 0.3350}, "1.0000"},
    {{60.2574, -34.0099, 36.2677}, {60.4626, -34.1751, 39.4387}, "1.2644"},
    {{63.0109, -31.0961, -5.8663}, {62.8187, -29.7946, -4.0864}, "1.2630"},
    {{61.2901, 3.7196, -5.3901}, {61.4292, 2.2480, -4.9620}, "1.8731"},
    {{35.0831, -44.1164, 3.7933}, {35.0232, -40.0716, 1.5901}, "1.8645"},
    {{22.7233, 20.0904, -46.6940}, {23.0331, 14.9730, -42.5619}, "2.0373"},
    {{36.4612, 47.8580, 18.3852}, {36.2715, 50.5065, 21.2231}, "1.4146"},
    {{90.8027, -2.0831, 1.4410}, {91.1528, -1.6435, 0.0447}, "1.4441"},
    {{90.9257, -0.5406, -0.9208}, {88.6381, -0.8985, -0.7239}, "1.5381"},
    {{6.7747, -0.2908, -2.4247}, {5.8714, -0.0985, -2.2286}, "0.6377"},
    {{2.0776, 0.0795, -1.1350}, {0.9033, -0.0636, -0.5514}, "0.9082"},
};

// Each pair in both orders: the formula is symmetric, and a mix-up of the two
// colours inside it shows as a difference between the orders.
TEST(Ciede2000, PublishedReferencePairsToFourDecimals) {
  int pair = 0;
  for (const Ciede2000Pair& row : kSharmaPairs) {
    ++pair;
    for (const bool swapped : {false, true}) {
      char got[32];
      std::snprintf(got, sizeof got, "%.4f",
                    swapped ? ciede2000(row.second, row.first) : ciede2000(row.first, row.second));
      EXPECT_STREQ(got, row.difference) << "pair " << pair << (swapped ? " swapped" : "");
    }
  }
  EXPECT_EQ(pair, 34);
}

}  // namespace
}  // namespace tavrel
