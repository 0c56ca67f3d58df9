#include "color/colour_difference.h"

#include <gtest/gtest.h>

#include <cmath>
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

TEST(ColourDifferenceTest, IdenticalColoursDoNotDiffer) {
  for (int wp = 0; wp < kWhitePointCount; ++wp) {
    EXPECT_EQ(ColourDifference(wp, 12, 200, 77, 12, 200, 77), 0.0);
    EXPECT_EQ(ColourDifference(wp, 255, 255, 255, 255, 255, 255), 0.0);
  }
}

TEST(ColourDifferenceTest, BlackIsMeasuredAsOneOneOne) {
  EXPECT_EQ(ColourDifference(4, 0, 0, 0, 1, 1, 1), 0.0);
  EXPECT_EQ(ColourDifference(4, 1, 1, 1, 0, 0, 0), 0.0);
  EXPECT_EQ(ColourDifference(4, 0, 0, 0, 0, 0, 0), 0.0);
  EXPECT_EQ(ColourDifference(4, 0, 0, 0, 200, 30, 9), ColourDifference(4, 1, 1, 1, 200, 30, 9));
  // Only pure black is replaced: (0, 0, 1) is measured as it is.
  EXPECT_GT(ColourDifference(4, 0, 0, 1, 1, 1, 1), 0.0);
  // The test looks at the low 8 bits, so 256 counts as black.
  EXPECT_EQ(ColourDifference(4, 256, 512, 0, 1, 1, 1), 0.0);
}

TEST(ColourDifferenceTest, OnlyTheLowEightBitsOfAChannelCount) {
  // Callers pass p, p >> 8 and p >> 16 of a packed colour without masking.
  const unsigned p = 0x8C4DC8u;  // red 200, green 77, blue 140
  EXPECT_EQ(ColourDifference(4, static_cast<int>(p), static_cast<int>(p >> 8),
                             static_cast<int>(p >> 16), 200, 77, 140),
            0.0);
}

TEST(ColourDifferenceTest, WhiteUnderD65IsLightnessHundredAndNeutral) {
  const LabColor white = colourToLab(4, 255, 255, 255);
  EXPECT_EQ(white.L, 100.0);
  EXPECT_NEAR(white.a, 0.0, 0.01);
  EXPECT_NEAR(white.b, 0.0, 0.01);
}

TEST(ColourDifferenceTest, ChannelTenTakesTheLinearBranchAndElevenThePowerBranch) {
  struct Case {
    int channel;
    double linear;  // expected linear value scaled by 100
  };
  const Case cases[] = {
      {10, 10 * 0.00392156862745098 * 0.07739938080495357 * 100.0},
      {11, std::pow((11 * 0.00392156862745098 + 0.055) * 0.9478672985781991, 2.4) * 100.0},
      {0, 0.0},
      {255, std::pow((255 * 0.00392156862745098 + 0.055) * 0.9478672985781991, 2.4) * 100.0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.channel);
    const XyzColor red = srgbToXyz(c.channel, 0, 0);
    const XyzColor green = srgbToXyz(0, c.channel, 0);
    const XyzColor blue = srgbToXyz(0, 0, c.channel);
    EXPECT_EQ(hex(red.X), hex(0.412453 * c.linear + 0.35758 * 0.0 + 0.180423 * 0.0));
    EXPECT_EQ(hex(green.Y), hex(0.212671 * 0.0 + 0.71516 * c.linear + 0.072169 * 0.0));
    EXPECT_EQ(hex(blue.Z), hex(0.019334 * 0.0 + 0.119193 * 0.0 + 0.950227 * c.linear));
  }
}

TEST(ColourDifferenceTest, XyzToLabComparesStrictlyWithEpsilon) {
  // A ratio exactly equal to epsilon takes the linear branch of all three
  // coordinates; the tiniest step above it takes the cube-root branch.
  const double eps = 0.008856451679035631;
  const ReferenceWhite& white = WhitePoint[5];  // E: Xn = Yn = Zn = 100
  const XyzColor onEdge{eps * white.Xn, eps * white.Yn, eps * white.Zn};
  ASSERT_EQ(onEdge.Y / white.Yn, eps);
  const LabColor lab = xyzToLab(5, onEdge);
  EXPECT_EQ(lab.L, 903.2962962962962 * eps);
  const double fy = (lab.L + 16.0) * 0.008620689655172414;
  EXPECT_EQ(lab.a, 500.0 * (7.787037037037037 * eps - fy + 0.13793103448275862));
  EXPECT_EQ(lab.b, 200.0 * (fy - 0.13793103448275862 - 7.787037037037037 * eps));

  const double above = std::nextafter(eps, 1.0);
  const LabColor over = xyzToLab(5, XyzColor{above * 100.0, above * 100.0, above * 100.0});
  EXPECT_EQ(over.L, 116.0 * std::pow((above * 100.0) / 100.0, 0.3333333333333333) - 16.0);
}

TEST(ColourDifferenceTest, SignedCubeRoot) {
  EXPECT_EQ(signedCubeRoot(0.0), 0.0);
  EXPECT_EQ(signedCubeRoot(8.0), std::pow(8.0, 0.3333333333333333));
  EXPECT_EQ(signedCubeRoot(-8.0), -std::pow(8.0, 0.3333333333333333));
  EXPECT_EQ(signedCubeRoot(-0.027), -signedCubeRoot(0.027));
  // pow with the rounded exponent, not cbrt: for 1000 it gives just under 10.
  EXPECT_EQ(hex(signedCubeRoot(1000.0)), "0x1.3ffffffffffffp+3");
}

TEST(ColourDifferenceTest, DifferenceIsSymmetric) {
  const int colours[][3] = {{0, 0, 0},     {1, 1, 1},     {10, 20, 30},   {11, 20, 31},
                            {255, 0, 0},   {0, 255, 0},   {0, 0, 255},    {255, 255, 255},
                            {12, 200, 77}, {250, 3, 140}, {128, 128, 128}};
  for (const auto& p : colours) {
    for (const auto& q : colours) {
      EXPECT_EQ(hex(ColourDifference(4, p[0], p[1], p[2], q[0], q[1], q[2])),
                hex(ColourDifference(4, q[0], q[1], q[2], p[0], p[1], p[2])));
    }
  }
}

TEST(ColourDifferenceTest, ComposedOfColourToLabAndLabDistance) {
  const LabColor p = colourToLab(4, 0, 0, 0);
  const LabColor q = colourToLab(4, 12, 200, 77);
  EXPECT_EQ(hex(ColourDifference(4, 0, 0, 0, 12, 200, 77)), hex(labDistance(p, q)));
  const LabColor first{50.0, 3.0, -4.0};
  const LabColor second{47.0, -1.0, 8.0};
  EXPECT_EQ(labDistance(first, second), 13.0);  // sqrt(9 + 16 + 144)
}

// Exact bits of known values, recomputed independently with the same formulas
// in the same order of operations. Any reordering of the arithmetic (or a
// fused multiply-add) changes at least one of them.
TEST(ColourDifferenceTest, KnownValuesToTheBit) {
  struct Case {
    int wp;
    int c[6];
    const char* bits;
  };
  const Case cases[] = {
      {4, {255, 0, 0, 0, 255, 0}, "0x1.552195b946424p+7"},
      {4, {10, 20, 30, 11, 20, 31}, "0x1.b5668465fed6fp-1"},
      {4, {0, 0, 0, 255, 255, 255}, "0x1.8ee73ec1cff39p+6"},
      {4, {12, 200, 77, 250, 3, 140}, "0x1.4139361563b9bp+7"},
      {4, {1, 1, 1, 2, 3, 4}, "0x1.68b209c73ba19p-1"},
      {9, {200, 100, 50, 50, 100, 200}, "0x1.e151933ebb745p+6"},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.bits);
    EXPECT_EQ(hex(ColourDifference(k.wp, k.c[0], k.c[1], k.c[2], k.c[3], k.c[4], k.c[5])), k.bits);
  }

  struct XyzCase {
    int c[3];
    const char* bits[3];
  };
  const XyzCase xyzs[] = {
      {{10, 11, 12}, {"0x1.3ea83f6690952p-2", "0x1.52585e5d9750fp-2", "0x1.94974c58943bcp-2"}},
      {{200, 100, 50}, {"0x1.cf4728d2241d2p+4", "0x1.5a0a2d500b4b1p+4", "0x1.6aa815fe40564p+2"}},
  };
  for (const XyzCase& k : xyzs) {
    const XyzColor xyz = srgbToXyz(k.c[0], k.c[1], k.c[2]);
    EXPECT_EQ(hex(xyz.X), k.bits[0]);
    EXPECT_EQ(hex(xyz.Y), k.bits[1]);
    EXPECT_EQ(hex(xyz.Z), k.bits[2]);
  }

  struct LabCase {
    int wp;
    int c[3];
    const char* bits[3];
  };
  const LabCase labs[] = {
      {4, {255, 255, 255}, {"0x1.9p+6", "-0x1.41c60ba995cp-9", "0x1.30f773abd28p-8"}},
      {4, {1, 1, 1}, {"0x1.18c1475ead606p-2", "-0x1.240b65f65p-16", "0x1.14c906b4cc8p-15"}},
      {0, {255, 255, 255}, {"0x1.9p+6", "-0x1.78dbd1145f9e6p+4", "-0x1.69637fda9e882p+6"}},
      {4, {255, 128, 0}, {"0x1.0c381dab886d1p+6", "0x1.569a61c7a9d8cp+5", "0x1.2811e0a7b3608p+6"}},
      {4, {0, 0, 85}, {"0x1.7b018fa2ce923p+2", "0x1.157b0991d138ap+5", "-0x1.80f77e9ea2aa7p+5"}},
      {4, {0, 51, 85}, {"0x1.422e07088a47ep+4", "-0x1.d727f2cf4a688p-1", "-0x1.8e736d5e56718p+4"}},
      {4,
       {0, 153, 170},
       {"0x1.cddf9b26984bcp+5", "-0x1.b4ecb96baf72fp+4", "-0x1.2740abac744c7p+4"}},
  };
  for (const LabCase& k : labs) {
    const LabColor lab = colourToLab(k.wp, k.c[0], k.c[1], k.c[2]);
    EXPECT_EQ(hex(lab.L), k.bits[0]);
    EXPECT_EQ(hex(lab.a), k.bits[1]);
    EXPECT_EQ(hex(lab.b), k.bits[2]);
  }
}

}  // namespace
}  // namespace tavrel
