// The figures of the measuring tool: PSNR on cases worked out by hand, and the
// per-image statistics against the colour difference taken pixel by pixel.
#include "tools/image_measures.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>

#include "color/colour_difference.h"

namespace tavrel {
namespace {

std::string fourDecimals(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.4f", value);
  return text;
}

// Samples, not pixels: three per pixel, in R G B order.
struct PsnrCase {
  const char* name;
  std::vector<unsigned char> original, reduced;
  const char* psnr;
};

TEST(ImageMeasures, PeakSignalToNoiseWorkedOutByHand) {
  const PsnrCase cases[] = {
      // MSE 0: nothing to compare the peak against.
      {"identical", {10, 20, 30, 40, 50, 60}, {10, 20, 30, 40, 50, 60}, "inf"},
      // MSE 255^2: 0 dB.
      {"black against white", {0, 0, 0}, {255, 255, 255}, "0.0000"},
      // One sample in three off by 255: MSE 255^2 / 3, 10 log10(3).
      {"black against red", {0, 0, 0}, {255, 0, 0}, "4.7712"},
      // Every sample off by one, up or down: MSE 1, 20 log10(255).
      {"off by one", {0, 1, 2, 3, 4, 5}, {1, 0, 3, 2, 5, 4}, "48.1308"},
      // 9 over 6 samples: MSE 1.5, 48.1308 - 10 log10(1.5).
      {"one sample off by three", {0, 0, 0, 9, 9, 9}, {0, 0, 0, 9, 12, 9}, "46.3699"},
      // 256 over 3 samples: 10 log10(65025 * 3 / 256) = 10 log10(762.0117).
      {"blue off by sixteen", {10, 20, 30}, {10, 20, 14}, "28.8196"},
  };
  for (const PsnrCase& c : cases) {
    const double psnr = peakSignalToNoise(c.original, c.reduced);
    EXPECT_EQ(std::isinf(psnr) ? std::string("inf") : fourDecimals(psnr), c.psnr) << c.name;
  }
}

Raster raster(long width, const std::vector<unsigned char>& rgb) {
  return {width, static_cast<long>(rgb.size()) / 3 / width, rgb};
}

double difference76(const unsigned char* a, const unsigned char* b) {
  return ColourDifference(kD65WhitePoint, a[0], a[1], a[2], b[0], b[1], b[2]);
}

double difference2000(const unsigned char* a, const unsigned char* b) {
  return ciede2000(colourToLab(kD65WhitePoint, a[0], a[1], a[2]),
                   colourToLab(kD65WhitePoint, b[0], b[1], b[2]));
}

// Ten pixels, so that the 95th percentile by nearest rank is the largest
// difference: rank ceil(9.5) = 10. The same original colour meets three
// different colours, and two original colours meet the same one, so that a
// difference remembered for the wrong pair shows.
TEST(ImageMeasures, StatisticsOverThePixels) {
  const std::vector<unsigned char> original = {200, 30, 30, 200, 30,  30,  200, 30,  30, 200,
                                               30,  30, 10, 90,  200, 10,  90,  200, 0,  0,
                                               0,   1,  1,  1,   250, 250, 250, 200, 30, 30};
  const std::vector<unsigned char> reduced = {200, 30, 30, 190, 40,  30,  20,  130, 60, 200,
                                              30,  30, 10, 90,  200, 200, 30,  30,  1,  1,
                                              1,   1,  1,  1,   250, 250, 250, 200, 30, 30};
  const ImageMeasures got = measureImages(raster(5, original), raster(5, reduced));

  double sum76 = 0.0, sum2000 = 0.0, largest = 0.0;
  for (std::size_t i = 0; i < original.size(); i += 3) {
    const double d = difference76(&original[i], &reduced[i]);
    sum76 += d;
    largest = std::max(largest, d);
    sum2000 += difference2000(&original[i], &reduced[i]);
  }
  EXPECT_EQ(got.meanDeltaE76, sum76 / 10);
  EXPECT_EQ(got.p95DeltaE76, largest);
  EXPECT_EQ(got.meanCiede2000, sum2000 / 10);
  EXPECT_EQ(got.colours, 6u);
  EXPECT_EQ(got.psnr, peakSignalToNoise(original, reduced));
}

// Twenty pixels: rank ceil(19) = 19, the second largest of the differences.
TEST(ImageMeasures, NinetyFifthPercentileByNearestRank) {
  std::vector<unsigned char> original(60, 128), reduced(60, 128);
  reduced[0] = 138;  // the largest difference
  reduced[3] = 133;  // the second largest
  reduced[6] = 130;
  const ImageMeasures got = measureImages(raster(4, original), raster(4, reduced));
  EXPECT_EQ(got.p95DeltaE76, difference76(&original[3], &reduced[3]));
}

TEST(ImageMeasures, OutputLineKeepsTheOlderColumnsFirst) {
  ImageMeasures m{1.23456, 7.5, 42, 0.98765, 31.25};
  EXPECT_EQ(formatMeasures(m), "1.2346 7.5000 42 0.9877 31.2500\n");
  m.psnr = INFINITY;
  EXPECT_EQ(formatMeasures(m), "1.2346 7.5000 42 0.9877 inf\n");
}

}  // namespace
}  // namespace tavrel
