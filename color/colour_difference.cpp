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

/*
 * CIEDE2000, with C* = sqrt(a^2 + b^2), angles in degrees and the bars for
 * means of the two colours:
 *   G   = 0.5 (1 - sqrt(Cbar^7 / (Cbar^7 + 25^7)))      Cbar of the C* values
 *   a'  = (1 + G) a,  C' = sqrt(a'^2 + b^2),  h' = atan2(b, a') in [0, 360)
 *   dL' = L2 - L1,  dC' = C'2 - C'1,  dH' = 2 sqrt(C'1 C'2) sin(dh' / 2)
 *   SL  = 1 + 0.015 (L'bar - 50)^2 / sqrt(20 + (L'bar - 50)^2)
 *   SC  = 1 + 0.045 C'bar,  SH = 1 + 0.015 C'bar T
 *   T   = 1 - 0.17 cos(h'bar - 30) + 0.24 cos(2 h'bar) + 0.32 cos(3 h'bar + 6)
 *           - 0.20 cos(4 h'bar - 63)
 *   RT  = -sin(60 exp(-((h'bar - 275) / 25)^2)) 2 sqrt(C'bar^7 / (C'bar^7 + 25^7))
 *   dE  = sqrt((dL'/SL)^2 + (dC'/SC)^2 + (dH'/SH)^2 + RT (dC'/SC) (dH'/SH))
 * The hue difference dh' and the mean hue h'bar take the short way round the
 * circle; where either chroma C' is 0 the hue is undefined, so dh' is 0 and
 * h'bar is the plain sum of the two hues.
 */

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kRadiansPerDegree = kPi / 180.0;
constexpr double kTwentyFiveToTheSeventh = 6103515625.0;

// The weight sqrt(c^7 / (c^7 + 25^7)) that G and RT share; it tends to 1 for
// strong chroma.
double chromaWeight(double chroma) {
  const double seventh = std::pow(chroma, 7.0);
  return std::sqrt(seventh / (seventh + kTwentyFiveToTheSeventh));
}

// The hue angle of (a, b) in degrees in [0, 360); 0 for the neutral axis.
double hueDegrees(double a, double b) {
  if (a == 0.0 && b == 0.0) return 0.0;
  const double hue = std::atan2(b, a) / kRadiansPerDegree;
  return hue < 0.0 ? hue + 360.0 : hue;
}

double cosDegrees(double degrees) {
  return std::cos(degrees * kRadiansPerDegree);
}

}  // namespace

double ciede2000(const LabColor& first, const LabColor& second) {
  const double chromaMean = (std::hypot(first.a, first.b) + std::hypot(second.a, second.b)) / 2.0;
  const double aScale = 1.0 + 0.5 * (1.0 - chromaWeight(chromaMean));
  const double a1 = aScale * first.a;
  const double a2 = aScale * second.a;
  const double c1 = std::hypot(a1, first.b);
  const double c2 = std::hypot(a2, second.b);
  const double h1 = hueDegrees(a1, first.b);
  const double h2 = hueDegrees(a2, second.b);

  const bool neutral = c1 * c2 == 0.0;
  double hueStep = h2 - h1;
  if (neutral) {
    hueStep = 0.0;
  } else if (hueStep > 180.0) {
    hueStep -= 360.0;
  } else if (hueStep < -180.0) {
    hueStep += 360.0;
  }
  double hueMean = h1 + h2;
  if (!neutral) {
    if (std::fabs(h1 - h2) <= 180.0) {
      hueMean /= 2.0;
    } else {
      hueMean = (hueMean < 360.0 ? hueMean + 360.0 : hueMean - 360.0) / 2.0;
    }
  }

  const double dL = second.L - first.L;
  const double dC = c2 - c1;
  const double dH = 2.0 * std::sqrt(c1 * c2) * std::sin(hueStep / 2.0 * kRadiansPerDegree);

  const double lightnessOffset = (first.L + second.L) / 2.0 - 50.0;
  const double squaredOffset = lightnessOffset * lightnessOffset;
  const double chromaBar = (c1 + c2) / 2.0;
  const double t = 1.0 - 0.17 * cosDegrees(hueMean - 30.0) + 0.24 * cosDegrees(2.0 * hueMean) +
                   0.32 * cosDegrees(3.0 * hueMean + 6.0) - 0.20 * cosDegrees(4.0 * hueMean - 63.0);
  const double sL = 1.0 + 0.015 * squaredOffset / std::sqrt(20.0 + squaredOffset);
  const double sC = 1.0 + 0.045 * chromaBar;
  const double sH = 1.0 + 0.015 * chromaBar * t;
  const double rotationAngle = 30.0 * std::exp(-std::pow((hueMean - 275.0) / 25.0, 2.0));
  const double rT =
      -std::sin(2.0 * rotationAngle * kRadiansPerDegree) * 2.0 * chromaWeight(chromaBar);

  const double l = dL / sL;
  const double c = dC / sC;
  const double h = dH / sH;
  return std::sqrt(l * l + c * c + h * h + rT * c * h);
}

}  // namespace tavrel
