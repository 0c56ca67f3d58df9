// tavrel-deltae ORIGINAL REDUCED
//
// How far a colour-reduced image lies from its original, pixel by pixel. Prints
// one line:
//
//   <mean dE76> <95th percentile dE76> <colours of REDUCED> <mean CIEDE2000> <PSNR>
//
// dE76 is the CIE 1976 difference that Tavrel's cluster tree itself uses, and
// both delta E are measured in the library's own sRGB -> CIELAB conversion
// (D65 white); the PSNR, in dB, is taken over the RGB samples and printed as
// "inf" for identical images. New figures go at the end of the line so that
// readers of the first three keep working.
//
// Both files must be raw PPM (P6, maxval 255) of the same size. Used by
// scripts/compare.sh to put Tavrel beside other colour-reduction tools.

#include <cstdio>
#include <string>

#include "tools/image_measures.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: tavrel-deltae ORIGINAL.ppm REDUCED.ppm\n");
    return 2;
  }
  tavrel::Raster original;
  tavrel::Raster reduced;
  std::string error;
  for (int i = 1; i <= 2; ++i) {
    if (!tavrel::readPpm(argv[i], i == 1 ? original : reduced, error)) {
      std::fprintf(stderr, "tavrel-deltae: %s: %s\n", argv[i], error.c_str());
      return 1;
    }
  }
  if (original.width != reduced.width || original.height != reduced.height) {
    std::fprintf(stderr, "tavrel-deltae: %s is %ldx%ld, %s is %ldx%ld\n", argv[1], original.width,
                 original.height, argv[2], reduced.width, reduced.height);
    return 1;
  }
  std::fputs(tavrel::formatMeasures(tavrel::measureImages(original, reduced)).c_str(), stdout);
  return 0;
}
