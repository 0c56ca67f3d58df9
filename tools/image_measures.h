// How far a colour-reduced image lies from its original, pixel by pixel: the
// figures that tavrel-deltae prints and scripts/compare.sh tabulates.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace tavrel {

struct Raster {
  long width = 0;
  long height = 0;
  std::vector<unsigned char> rgb;  // width * height * 3 bytes, row by row
};

// A raw PPM file (P6, maxval 255) into image; on failure false, with the
// reason in error.
bool readPpm(const char* path, Raster& image, std::string& error);

struct ImageMeasures {
  double meanDeltaE76 = 0.0;  // CIE 1976, the difference the cluster tree uses
  double p95DeltaE76 = 0.0;   // nearest rank: at least 95% of the pixels lie at or below
  std::size_t colours = 0;    // distinct colours of the reduced image
  double meanCiede2000 = 0.0;
  double psnr = 0.0;  // dB over the RGB samples; +infinity when nothing differs
};

// Both rasters of the same size, at least one pixel. Colours are converted to
// CIELAB with the library's own conversion against D65.
ImageMeasures measureImages(const Raster& original, const Raster& reduced);

// 10 log10(255^2 / MSE), the mean squared error taken over every sample (three
// per pixel) of the two equally long rasters; +infinity when they are equal.
double peakSignalToNoise(const std::vector<unsigned char>& original,
                         const std::vector<unsigned char>& reduced);

// The tool's output line: mean and 95th-percentile delta E 1976 and the
// colour count first (the columns older scripts read), then the mean CIEDE2000
// and the PSNR, "inf" when infinite; four decimals each, a line feed at the end.
std::string formatMeasures(const ImageMeasures& measures);

}  // namespace tavrel
