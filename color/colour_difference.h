// CIE 1976 colour difference (delta E*ab) of two 8-bit sRGB colours, and the
// CIEDE2000 difference that measures results beside it.
//
// The cluster tree is decided by the 1976 values, so every function for them is
// computed in double precision in one fixed order of operations and must give
// the same bits on every build. A faster engine that caches Lab values goes
// through colourToLab and labDistance and therefore matches ColourDifference
// exactly.
#pragma once

namespace tavrel {

// A reference white on the scale Y = 100.
struct ReferenceWhite {
  double Xn;
  double Yn;
  double Zn;
};

// The ten reference whites (CIE 1931 2 degree observer), by index.
inline constexpr int kWhitePointCount = 10;
inline constexpr ReferenceWhite WhitePoint[kWhitePointCount] = {
    {109.85, 100.0, 35.585},   // 0: A
    {98.074, 100.0, 118.232},  // 1: C
    {96.422, 100.0, 82.521},   // 2: D50
    {95.682, 100.0, 92.149},   // 3: D55
    {95.047, 100.0, 108.883},  // 4: D65
    {100.0, 100.0, 100.0},     // 5: E
    {94.972, 100.0, 122.638},  // 6: D75
    {99.187, 100.0, 67.395},   // 7: F2
    {95.044, 100.0, 108.755},  // 8: F7
    {100.966, 100.0, 64.37},   // 9: F11
};

// The white the cluster tree measures against.
inline constexpr int kD65WhitePoint = 4;

struct XyzColor {
  double X;
  double Y;
  double Z;
};

struct LabColor {
  double L;
  double a;
  double b;
};

// x^(1/3) for x > 0, 0 for 0, -(|x|^(1/3)) for x < 0.
double signedCubeRoot(double x);

// One 8-bit colour (only the low 8 bits of each channel are used) to XYZ on
// the scale 0..100.
XyzColor srgbToXyz(int red, int green, int blue);

// XYZ to L*a*b* relative to WhitePoint[whitePoint]; the index is not checked.
LabColor xyzToLab(int whitePoint, const XyzColor& xyz);

// Pure black (low 8 bits of all three channels 0) is measured as (1, 1, 1);
// then sRGB -> XYZ -> Lab.
LabColor colourToLab(int whitePoint, int red, int green, int blue);

// sqrt((dL * dL + da * da) + db * db), each difference first minus second.
double labDistance(const LabColor& first, const LabColor& second);

// labDistance(colourToLab(first colour), colourToLab(second colour)).
double ColourDifference(int whitePoint, int red1, int green1, int blue1, int red2, int green2,
                        int blue2);

// The CIEDE2000 difference of two CIELAB colours, with the parametric weights
// kL = kC = kH = 1. A measure of results only: the cluster tree never uses it,
// and its trigonometry is not held to the same bits on every platform.
double ciede2000(const LabColor& first, const LabColor& second);

}  // namespace tavrel
