#include "color/colour_difference.h"

#include <array>
#include <cmath>

namespace tavrel {

/*
 * sRGB to XYZ, per channel c in 0..255:
 *   v = c * (1/255)
 *   v = ((v + 0.055) / 1.055) ^ 2.4     when v > 0.03928
 *   v = v / 12.92                       otherwise
 *   v = 100 * v
 * then, with the linear channels r, g, b:
 *   X = 0.412453 r + 0.35758 g + 0.180423 b
 *   Y = 0.212671 r + 0.71516 g + 0.072169 b
 *   Z = 0.019334 r + 0.119193 g + 0.950227 b
 *
 * XYZ to L*a*b*, with x = X/Xn, y = Y/Yn, z = Z/Zn, eps = (6/29)^3,
 * kappa = (29/3)^3 and k = kappa / 116:
 *   L  = 116 cbrt(y) - 16                  when y > eps, else kappa y
 *   fy = (L + 16) / 116
 *   a  = 500 (cbrt(x) - fy)                when x > eps, else 500 (k x - fy + 16/116)
 *   b  = 200 (fy - cbrt(z))                when z > eps, else 200 (fy - 16/116 - k z)
 *
 * The divisions by constants are written as multiplications by the stored
 * reciprocals, and every sum is evaluated left to right: the results are
 * compared bit for bit, so the expressions below must not be rearranged.
 */

namespace {

constexpr double kInverse255 = 0.00392156862745098;
constexpr double kGammaThreshold = 0.03928;
constexpr double kInverse1055 = 0.9478672985781991;
constexpr double kInverse1292 = 0.07739938080495357;

constexpr double kEpsilon = 0.008856451679035631;
constexpr double kKappa = 903.2962962962962;
constexpr double kLinearSlope = 7.787037037037037;
constexpr double kSixteenOver116 = 0.13793103448275862;
constexpr double kInverse116 = 0.008620689655172414;

double computeLinearChannel(int channel) {
  double v = static_cast<double>(channel & 0xFF) * kInverse255;
  if (v > kGammaThreshold) {
    v = std::pow((v + 0.055) * kInverse1055, 2.4);
  } else {
    v = v * kInverse1292;
  }
  return v * 100.0;
}

// The 256 values above, computed once by the same expression; the tree
// converts hundreds of thousands of colours and every one costs three powers.
double linearChannel(int channel) {
  static const auto table = [] {
    std::array<double, 256> values{};
    for (int c = 0; c < 256; ++c) values[c] = computeLinearChannel(c);
    return values;
  }();
  return table[channel & 0xFF];
}

}  // namespace

double signedCubeRoot(double x) {
  if (x > 0.0) return std::pow(x, 0.3333333333333333);
  if (x < 0.0) return -std::pow(-x, 0.3333333333333333);
  return 0.0;
}

XyzColor srgbToXyz(int red, int green, int blue) {
  const double r = linearChannel(red);
  const double g = linearChannel(green);
  const double b = linearChannel(blue);
  XyzColor xyz;
  xyz.X = 0.412453 * r + 0.35758 * g + 0.180423 * b;
  xyz.Y = 0.212671 * r + 0.71516 * g + 0.072169 * b;
  xyz.Z = 0.019334 * r + 0.119193 * g + 0.950227 * b;
  return xyz;
}

LabColor xyzToLab(int whitePoint, const XyzColor& xyz) {
  const ReferenceWhite& white = WhitePoint[whitePoint];
  const double x = xyz.X / white.Xn;
  const double y = xyz.Y / white.Yn;
  const double z = xyz.Z / white.Zn;

  LabColor lab;
  if (y > kEpsilon) {
    lab.L = 116.0 * signedCubeRoot(y) - 16.0;
  } else {
    lab.L = kKappa * y;
  }
  const double fy = (lab.L + 16.0) * kInverse116;
  if (x > kEpsilon) {
    lab.a = 500.0 * (signedCubeRoot(x) - fy);
  } else {
    lab.a = 500.0 * (kLinearSlope * x - fy + kSixteenOver116);
  }
  if (z > kEpsilon) {
    lab.b = 200.0 * (fy - signedCubeRoot(z));
  } else {
    lab.b = 200.0 * (fy - kSixteenOver116 - kLinearSlope * z);
  }
  return lab;
}

LabColor colourToLab(int whitePoint, int red, int green, int blue) {
  // Pure black is measured as (1, 1, 1): the two never differ.
  if ((red & 0xFF) == 0 && (green & 0xFF) == 0 && (blue & 0xFF) == 0) {
    red = 1;
    green = 1;
    blue = 1;
  }
  return xyzToLab(whitePoint, srgbToXyz(red, green, blue));
}

double labDistance(const LabColor& first, const LabColor& second) {
  const double dL = first.L - second.L;
  const double da = first.a - second.a;
  const double db = first.b - second.b;
  return std::sqrt(dL * dL + da * da + db * db);
}

double ColourDifference(int whitePoint, int red1, int green1, int blue1, int red2, int green2,
                        int blue2) {
  return labDistance(colourToLab(whitePoint, red1, green1, blue1),
                     colourToLab(whitePoint, red2, green2, blue2));
}

}  // namespace tavrel
