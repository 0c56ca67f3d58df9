/* Tavrel's plain C interface: the calls of tavrel.hpp behind an opaque
 * handle, with status codes instead of exceptions, for any language with a C
 * foreign-function interface. The definitions (leaves, the image for k,
 * palette order, quality) are those of tavrel.hpp.
 *
 * Every call that can fail returns a tavrel_status; on failure its outputs
 * are left unchanged and tavrel_status_text() names the failure. No call
 * lets an exception or a signal out. A handle may be read by several threads
 * at once; a cursor serves one thread at a time. */
#ifndef TAVREL_TAVREL_H
#define TAVREL_TAVREL_H

#include <stddef.h>
#include <stdint.h>

#include "tavrel/export.h"
#include "tavrel/version.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef enum tavrel_status {
  TAVREL_OK = 0,
  TAVREL_INVALID_ARGUMENT = 1, /* no data, zero size, stride or buffer too small, k out of range */
  TAVREL_OUT_OF_MEMORY = 2,
  TAVREL_CANCELLED = 3,     /* the progress callback asked to stop */
  TAVREL_INTERNAL_ERROR = 4 /* a fault of the library itself; please report it */
} tavrel_status;

typedef enum tavrel_pixel_format {
  TAVREL_PIXELS_RGB = 0,  /* 3 bytes a pixel */
  TAVREL_PIXELS_RGBX = 1, /* 4 bytes a pixel, the fourth ignored */
  /* Not a format: it makes every int a valid value of the type, so that a
   * wrong one is refused with TAVREL_INVALID_ARGUMENT, not undefined. */
  TAVREL_PIXEL_FORMAT_MAX_ENUM = 0x7fffffff
} tavrel_pixel_format;

typedef enum tavrel_output_format {
  TAVREL_OUTPUT_RGB = 0,
  TAVREL_OUTPUT_RGBA = 1,    /* alpha 255 */
  TAVREL_OUTPUT_INDEX8 = 2,  /* k up to 256 */
  TAVREL_OUTPUT_INDEX16 = 3, /* k up to 65,536 */
  TAVREL_OUTPUT_INDEX32 = 4,
  TAVREL_OUTPUT_FORMAT_MAX_ENUM = 0x7fffffff /* not a format; as above */
} tavrel_output_format;

/* How the pixels of an image take the colours of its palette (see
 * tavrel::Remap): by cluster, as the command line dumps, or each in the
 * nearest palette colour. */
typedef enum tavrel_remap {
  TAVREL_REMAP_CLUSTER = 0,
  TAVREL_REMAP_NEAREST = 1,
  TAVREL_REMAP_MAX_ENUM = 0x7fffffff /* not a remap; as above */
} tavrel_remap;

typedef struct tavrel_hierarchy tavrel_hierarchy;
typedef struct tavrel_cursor tavrel_cursor;

/* Step `step` split `node` (its linkage id) of `pixels` pixels into the two
 * colours left and right (R, G, B), making step + 2 colours. */
typedef struct tavrel_split {
  uint32_t node;
  uint64_t pixels;
  uint8_t left[3];
  uint8_t right[3];
  double cost;
} tavrel_split;

/* Called with the fraction done (0 to 1) at least every 50 ms during a build;
 * return nonzero to go on, 0 to stop (the build then ends within 100 ms with
 * TAVREL_CANCELLED and frees everything). */
typedef int (*tavrel_progress_fn)(double fraction, void* user);

TAVREL_API const char* tavrel_version(void);
TAVREL_API const char* tavrel_status_text(tavrel_status status);

/* Builds the hierarchy of a photo: width × height pixels of 3 or 4 bytes,
 * rows row_stride bytes apart (0: packed). progress may be NULL. threads 0
 * lets the build use a second core; 1 or 2 fix it. On success *out holds the
 * handle, to be freed with tavrel_free. colours, when not NULL, receives the
 * number of distinct colours as soon as it is known, also when memory runs
 * out afterwards (0 before). */
TAVREL_API tavrel_status tavrel_build(const uint8_t* pixels, uint32_t width, uint32_t height,
                                      size_t row_stride, tavrel_pixel_format format,
                                      tavrel_progress_fn progress, void* user, unsigned threads,
                                      tavrel_hierarchy** out, uint32_t* colours);
TAVREL_API void tavrel_free(tavrel_hierarchy* hierarchy); /* NULL is fine */

TAVREL_API uint32_t tavrel_width(const tavrel_hierarchy* hierarchy);
TAVREL_API uint32_t tavrel_height(const tavrel_hierarchy* hierarchy);
TAVREL_API uint32_t tavrel_colours(const tavrel_hierarchy* hierarchy);
TAVREL_API size_t tavrel_memory_bytes(const tavrel_hierarchy* hierarchy);

/* The k colours of the image for k as R, G, B triples; size is rgb's length
 * in bytes, at least 3 k. */
TAVREL_API tavrel_status tavrel_palette(const tavrel_hierarchy* hierarchy, uint32_t k, uint8_t* rgb,
                                        size_t size);

/* Bytes one image needs in this format and row stride (0: packed); 0 for a
 * NULL handle or a stride too small. */
TAVREL_API size_t tavrel_output_size(const tavrel_hierarchy* hierarchy, tavrel_output_format format,
                                     size_t row_stride);

/* Paints the image for k from scratch into out (size bytes, rows row_stride
 * bytes apart, 0: packed). */
TAVREL_API tavrel_status tavrel_paint(const tavrel_hierarchy* hierarchy, uint32_t k,
                                      tavrel_output_format format, void* out, size_t size,
                                      size_t row_stride);

/* The same, painted as remap says. */
TAVREL_API tavrel_status tavrel_paint_remapped(const tavrel_hierarchy* hierarchy, uint32_t k,
                                               tavrel_remap remap, tavrel_output_format format,
                                               void* out, size_t size, size_t row_stride);

/* A cursor paints the image for k into out, then moves it forward one split
 * at a time. It keeps the hierarchy alive (tavrel_free may come first); out
 * must outlive it. */
TAVREL_API tavrel_status tavrel_cursor_new(const tavrel_hierarchy* hierarchy, uint32_t k,
                                           tavrel_output_format format, void* out, size_t size,
                                           size_t row_stride, tavrel_cursor** cursor);
TAVREL_API uint32_t tavrel_cursor_k(const tavrel_cursor* cursor);
/* Moves to k (at least the cursor's k, at most the colours). */
TAVREL_API tavrel_status tavrel_cursor_advance(tavrel_cursor* cursor, uint32_t k);
TAVREL_API void tavrel_cursor_free(tavrel_cursor* cursor); /* NULL is fine */

/* The record of step `step` (0 ≤ step < colours - 1). */
TAVREL_API tavrel_status tavrel_split_at(const tavrel_hierarchy* hierarchy, uint32_t step,
                                         tavrel_split* out);
/* The path label of the node split at `step`, NUL-terminated, into text of
 * size bytes; *length (when not NULL) receives its length without the NUL,
 * also when text is too small (then TAVREL_INVALID_ARGUMENT). */
TAVREL_API tavrel_status tavrel_path_label(const tavrel_hierarchy* hierarchy, uint32_t step,
                                           char* text, size_t size, size_t* length);

/* The mean colour difference for k = 1 .. kmax into out[0 .. kmax - 1];
 * count is out's length in doubles. */
TAVREL_API tavrel_status tavrel_mean_delta_e(const tavrel_hierarchy* hierarchy, uint32_t kmax,
                                             double* out, size_t count);
/* The smallest k whose mean colour difference is at most max_mean. */
TAVREL_API tavrel_status tavrel_fewest_colours(const tavrel_hierarchy* hierarchy, double max_mean,
                                               uint32_t* k);

/* The same two for images painted as remap says; TAVREL_REMAP_NEAREST costs
 * about one pass over the distinct colours for every k. */
TAVREL_API tavrel_status tavrel_mean_delta_e_remapped(const tavrel_hierarchy* hierarchy,
                                                      tavrel_remap remap, uint32_t kmax,
                                                      double* out, size_t count);
TAVREL_API tavrel_status tavrel_fewest_colours_remapped(const tavrel_hierarchy* hierarchy,
                                                        tavrel_remap remap, double max_mean,
                                                        uint32_t* k);

/* The linkage matrix, (colours - 1) × 4 doubles row major; count is out's
 * length in doubles. */
TAVREL_API tavrel_status tavrel_linkage(const tavrel_hierarchy* hierarchy, double* out,
                                        size_t count);
/* The colour of every leaf as R, G, B triples; size in bytes, at least 3 × colours. */
TAVREL_API tavrel_status tavrel_leaf_colours(const tavrel_hierarchy* hierarchy, uint8_t* rgb,
                                             size_t size);

#ifdef __cplusplus
}
#endif

#endif /* TAVREL_TAVREL_H */
