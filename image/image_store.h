// Image store: an image held as a ring of line buffers, with 1-based pixel
// access. File-backed images stream lines in from a PNM file (read state) or
// out to a new one (write state); memory-only images keep every line.
#pragma once

#include <cstdint>
#include <cstdio>

#include "color/packed_color.h"
#include "image/pnm.h"

namespace tavrel {

enum PixelModel : int { Bilevel = 0, Gray = 1, Color = 2 };
enum BufferingMethod : int { WholeImage = 0, FixedWindow = 1, ShrinkingWindow = 2 };

struct ImageBuffer {
  std::FILE* file = nullptr;
  std::int32_t fileBacked = 0;
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::uint32_t lineSize = 0;
  std::uint32_t xMin = 0;
  std::uint32_t xMax = 0;
  std::uint32_t yMin = 0;
  std::uint32_t yMax = 0;
  std::int32_t fileKind = 0;
  std::uint32_t readMode = 0;
  std::int32_t bufferingMethod = 0;
  std::int32_t model = 0;
  std::int32_t background = 0;
  std::int32_t maxValue = 0;
  std::uint32_t ringSize = 0;
  std::uint32_t readAhead = 0;
  std::uint32_t firstLine = 0;
  std::int32_t lastLine = 0;
  std::int32_t ringPosition = 0;
  std::int32_t lineCounter = 0;
  std::uint8_t** lines = nullptr;
};

// The store's message texts, by index.
enum StoreMessage : int {
  MsgNoMemory = 0,
  MsgInvalidSize = 1,
  MsgBoundsExceed = 2,
  MsgUnknownModel = 3,
  MsgLineLeftBuffer = 4,
  MsgLineStored = 5,
  MsgUnknownMode = 6,
  MsgUnknownMethod = 7,
  MsgRingLimit = 8,
  MsgInternal = 9,
};
const char* storeMessage(int index);

int setImageSize(ImageBuffer* image, std::uint32_t width, std::uint32_t height);
int setImageBounds(ImageBuffer* image, std::uint32_t x0, std::uint32_t y0, std::uint32_t w,
                   std::uint32_t h);
int openImage(const char* path, ImageBuffer* image, int mode, int overwrite, int method, int model,
              int fileBacked, std::uint32_t windowLines);

int getBilevelPixel(ImageBuffer* image, std::uint32_t x, std::uint32_t y);
int getGrayPixel(ImageBuffer* image, std::uint32_t x, std::uint32_t y);
PackedColor getColorPixel(ImageBuffer* image, std::uint32_t x, std::uint32_t y);
void setBilevelPixel(ImageBuffer* image, std::uint32_t x, std::uint32_t y, int bit);
void setGrayPixel(ImageBuffer* image, std::uint32_t x, std::uint32_t y, int value);
void setColorPixel(ImageBuffer* image, std::uint32_t x, std::uint32_t y, PackedColor color);
PackedColor getPixel(ImageBuffer* image, std::uint32_t x, std::uint32_t y);
void setPixel(ImageBuffer* image, std::uint32_t x, std::uint32_t y, PackedColor color);

// Line y (1-based) of a Color image whose lines are all in memory and whose
// bounds are the whole image, or null for any other image. Bulk readers and
// writers use it to skip the per-pixel calls: pixel x sits at bytes
// 4(x - 1) .. 4(x - 1) + 2 as R, G, B.
std::uint8_t* wholeColourLine(ImageBuffer* image, std::uint32_t y);

int flushImage(ImageBuffer* image);
int rewindImage(ImageBuffer* image);
int destroyImage(ImageBuffer* image);
int copyImageToFile(ImageBuffer* source, const char* path);

// Test seam: the allocation of line buffers goes through this function, so a
// test can make the n-th buffer fail. Null restores the default allocator.
using LineAllocator = void* (*)(std::size_t size);
void setLineAllocator(LineAllocator allocator);

}  // namespace tavrel
