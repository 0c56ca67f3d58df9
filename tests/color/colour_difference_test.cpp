// The known values of known_values.txt, to the bit.
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

}  // namespace
}  // namespace tavrel
