// Exact bits of known values. They were computed independently with the
// formulas in the stated order of operations; any reordering of the
// arithmetic, a fused multiply-add or a wrong digit in a constant changes at
// least one of them.
#include "color/colour_difference.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace tavrel {
namespace {

// The bits of a double as %a prints them, so that failures show exact values.
std::string hex(double value) {
  char text[64];
  std::snprintf(text, sizeof text, "%a", value);
  return text;
}

TEST(ColourDifference, KnownValuesToTheBit) {
  const struct {
    int wp;
    int c[6];
    const char* bits;
  } differences[] = {{4, {255, 0, 0, 0, 255, 0}, "0x1.552195b946424p+7"},
                     {4, {10, 20, 30, 11, 20, 31}, "0x1.b5668465fed6fp-1"},
                     {4, {0, 0, 0, 255, 255, 255}, "0x1.8ee73ec1cff39p+6"},
                     {4, {12, 200, 77, 250, 3, 140}, "0x1.4139361563b9bp+7"},
                     {4, {250, 3, 140, 12, 200, 77}, "0x1.4139361563b9bp+7"},
                     {4, {1, 1, 1, 2, 3, 4}, "0x1.68b209c73ba19p-1"},
                     {9, {200, 100, 50, 50, 100, 200}, "0x1.e151933ebb745p+6"},
                     // Black is measured as (1,1,1); only pure black, and only the low 8
                     // bits of a channel count (callers pass p, p >> 8, p >> 16 unmasked).
                     // The values were checked once against an independent script.
                     {4, {0, 0, 0, 1, 1, 1}, "0x0p+0"},
                     {4, {256, 512, 0, 1, 1, 1}, "0x0p+0"},
                     {4, {0x8C4DC8, 0x8C4D, 0x8C, 200, 77, 140}, "0x0p+0"},
                     {4, {0, 0, 0, 2, 3, 4}, "0x1.68b209c73ba19p-1"},
                     {4, {0, 0, 1, 1, 1, 1}, "0x1.e82ed4909a551p-2"}};
  for (const auto& k : differences) {
    EXPECT_EQ(hex(ColourDifference(k.wp, k.c[0], k.c[1], k.c[2], k.c[3], k.c[4], k.c[5])), k.bits)
        << k.c[0] << "," << k.c[1] << "," << k.c[2] << " " << k.c[3] << "," << k.c[4] << ","
        << k.c[5];
  }
  // L, a, b (or X, Y, Z) of a colour under a white point (-1: XYZ).
  const struct {
    int wp, c[3];
    std::string bits;
  } points[] = {
      {4, {255, 255, 255}, "0x1.9p+6 -0x1.41c60ba995cp-9 0x1.30f773abd28p-8"},
      {4, {1, 1, 1}, "0x1.18c1475ead606p-2 -0x1.240b65f65p-16 0x1.14c906b4cc8p-15"},
      {0, {255, 255, 255}, "0x1.9p+6 -0x1.78dbd1145f9e6p+4 -0x1.69637fda9e882p+6"},
      {4, {255, 128, 0}, "0x1.0c381dab886d1p+6 0x1.569a61c7a9d8cp+5 0x1.2811e0a7b3608p+6"},
      {4, {0, 0, 85}, "0x1.7b018fa2ce923p+2 0x1.157b0991d138ap+5 -0x1.80f77e9ea2aa7p+5"},
      {4, {0, 51, 85}, "0x1.422e07088a47ep+4 -0x1.d727f2cf4a688p-1 -0x1.8e736d5e56718p+4"},
      {4, {0, 153, 170}, "0x1.cddf9b26984bcp+5 -0x1.b4ecb96baf72fp+4 -0x1.2740abac744c7p+4"},
      // Channels 10 and 11 lie on either side of the sRGB threshold.
      {-1, {10, 11, 12}, "0x1.3ea83f6690952p-2 0x1.52585e5d9750fp-2 0x1.94974c58943bcp-2"},
      {-1, {200, 100, 50}, "0x1.cf4728d2241d2p+4 0x1.5a0a2d500b4b1p+4 0x1.6aa815fe40564p+2"}};
  for (const auto& k : points) {
    const LabColor lab = colourToLab(k.wp < 0 ? 4 : k.wp, k.c[0], k.c[1], k.c[2]);
    const XyzColor xyz = srgbToXyz(k.c[0], k.c[1], k.c[2]);
    EXPECT_EQ(k.wp < 0 ? hex(xyz.X) + " " + hex(xyz.Y) + " " + hex(xyz.Z)
                       : hex(lab.L) + " " + hex(lab.a) + " " + hex(lab.b),
              k.bits);
  }
  // pow with the rounded exponent, not cbrt: for 1000 it gives just under 10.
  EXPECT_EQ(hex(signedCubeRoot(1000.0)), "0x1.3ffffffffffffp+3");
  EXPECT_EQ(hex(signedCubeRoot(-1000.0)), "-0x1.3ffffffffffffp+3");
}

}  // namespace
}  // namespace tavrel
