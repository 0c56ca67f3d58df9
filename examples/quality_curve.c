/* quality_curve PHOTO.ppm
 *
 * Tavrel from C: how far the photo painted in 1 to 16 colours lies from the
 * original (mean CIE 1976 delta E), and the palette of 8 colours. PHOTO is a
 * raw PPM (P6, maxval 255). */
#include <stdio.h>
#include <stdlib.h>
#include <tavrel/tavrel.h>

/* The pixels of a P6 file with maxval 255, or NULL. Header comments are not
 * read here: the command line and the example photo write none. */
static uint8_t* read_ppm(const char* path, uint32_t* width, uint32_t* height) {
  FILE* file = fopen(path, "rb");
  unsigned w = 0, h = 0, maxval = 0;
  uint8_t* rgb = NULL;
  if (file == NULL) return NULL;
  if (fscanf(file, "P6 %u %u %u", &w, &h, &maxval) == 3 && maxval == 255 && w > 0 && h > 0 &&
      fgetc(file) != EOF) {
    size_t size = (size_t)w * h * 3;
    rgb = malloc(size);
    if (rgb != NULL && fread(rgb, 1, size, file) != size) {
      free(rgb);
      rgb = NULL;
    }
  }
  fclose(file);
  *width = w;
  *height = h;
  return rgb;
}

int main(int argc, char** argv) {
  uint32_t width, height, colours = 0, kmax, k;
  tavrel_hierarchy* tree = NULL;
  double mean[16];
  uint8_t palette[8 * 3];
  tavrel_status status;
  uint8_t* rgb;

  if (argc != 2) {
    fprintf(stderr, "usage: %s PHOTO.ppm\n", argv[0]);
    return 2;
  }
  rgb = read_ppm(argv[1], &width, &height);
  if (rgb == NULL) {
    fprintf(stderr, "%s: not a raw PPM with maxval 255\n", argv[1]);
    return 1;
  }
  /* Rows packed (stride 0), no progress callback, threads as the machine allows. */
  status = tavrel_build(rgb, width, height, 0, TAVREL_PIXELS_RGB, NULL, NULL, 0, &tree, &colours);
  free(rgb); /* the hierarchy keeps nothing of the caller's pixels */
  if (status != TAVREL_OK) {
    fprintf(stderr, "%s\n", tavrel_status_text(status));
    return 1;
  }
  printf("tavrel %s: %u x %u pixels, %u colours\n", tavrel_version(), width, height, colours);

  kmax = colours < 16 ? colours : 16;
  status = tavrel_mean_delta_e(tree, kmax, mean, 16);
  for (k = 1; status == TAVREL_OK && k <= kmax; ++k) printf("%2u %.6f\n", k, mean[k - 1]);

  k = colours < 8 ? colours : 8;
  if (status == TAVREL_OK) status = tavrel_palette(tree, k, palette, sizeof palette);
  if (status == TAVREL_OK) {
    printf("palette of %u:", k);
    for (uint32_t i = 0; i < k; ++i)
      printf(" %02x%02x%02x", palette[3 * i], palette[3 * i + 1], palette[3 * i + 2]);
    printf("\n");
  }
  tavrel_free(tree);
  if (status != TAVREL_OK) {
    fprintf(stderr, "%s\n", tavrel_status_text(status));
    return 1;
  }
  return 0;
}
