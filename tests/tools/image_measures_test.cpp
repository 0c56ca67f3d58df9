// The figures of the measuring tool: PSNR on cases worked out by hand, and the
// per-image statistics against the colour difference taken pixel by pixel.
#include "tools/image_measures.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "color/colour_difference.h"

namespace tavrel {
namespace {

std::string fourDecimals(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.4f", value);
  return text;
}

// Samples, not pixels: three per pixel, in R G B order. (The tool's own
// cases add black against white, inf for identical images and 20 log10(255).)
TEST(ImageMeasures, PeakSignalToNoiseWorkedOutByHand) {
  const struct {
    std::vector<unsigned char> original, reduced;
    const char* psnr;
  } cases[] = {
      // One sample in three off by 255: MSE 255^2 / 3, 10 log10(3).
      {{0, 0, 0}, {255, 0, 0}, "4.7712"},
      // 9 over 6 samples: MSE 1.5, 48.1308 - 10 log10(1.5).
      {{0, 0, 0, 9, 9, 9}, {0, 0, 0, 9, 12, 9}, "46.3699"},
      // 256 over 3 samples: 10 log10(65025 * 3 / 256) = 10 log10(762.0117).
      {{10, 20, 30}, {10, 20, 14}, "28.8196"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(fourDecimals(peakSignalToNoise(c.original, c.reduced)), c.psnr);
}

double difference76(const unsigned char* a, const unsigned char* b) {
  return ColourDifference(kD65WhitePoint, a[0], a[1], a[2], b[0], b[1], b[2]);
}

// Ten pixels, so that the 95th percentile by nearest rank is the largest
// difference: rank ceil(9.5) = 10. The same original colour meets three
// different colours, and two original colours meet the same one, so that a
// difference remembered for the wrong pair shows. Then twenty pixels: rank
// ceil(19) = 19, the second largest of the differences.
TEST(ImageMeasures, StatisticsOverThePixels) {
  const std::vector<unsigned char> original = {200, 30, 30, 200, 30,  30,  200, 30,  30, 200,
                                               30,  30, 10, 90,  200, 10,  90,  200, 0,  0,
                                               0,   1,  1,  1,   250, 250, 250, 200, 30, 30};
  const std::vector<unsigned char> reduced = {200, 30, 30, 190, 40,  30,  20,  130, 60, 200,
                                              30,  30, 10, 90,  200, 200, 30,  30,  1,  1,
                                              1,   1,  1,  1,   250, 250, 250, 200, 30, 30};
  const ImageMeasures got = measureImages({5, 2, original}, {5, 2, reduced});
  double sum76 = 0.0, sum2000 = 0.0, largest = 0.0;
  for (std::size_t i = 0; i < original.size(); i += 3) {
    const unsigned char *a = &original[i], *b = &reduced[i];
    sum76 += difference76(a, b);
    largest = std::max(largest, difference76(a, b));
    sum2000 += ciede2000(colourToLab(kD65WhitePoint, a[0], a[1], a[2]),
                         colourToLab(kD65WhitePoint, b[0], b[1], b[2]));
  }
  EXPECT_EQ(got.meanDeltaE76, sum76 / 10);
  EXPECT_EQ(got.p95DeltaE76, largest);
  EXPECT_EQ(got.meanCiede2000, sum2000 / 10);
  EXPECT_EQ(got.colours, 6u);
  EXPECT_EQ(got.psnr, peakSignalToNoise(original, reduced));

  std::vector<unsigned char> grey(60, 128), twenty(60, 128);
  twenty[0] = 138;  // the largest difference
  twenty[3] = 133;  // the second largest
  twenty[6] = 130;
  EXPECT_EQ(measureImages({4, 5, grey}, {4, 5, twenty}).p95DeltaE76,
            difference76(&grey[3], &twenty[3]));
}

}  // namespace
}  // namespace tavrel
