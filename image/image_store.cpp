#include "image/image_store.h"

#include <sys/stat.h>

#include <climits>
#include <cstdlib>
#include <cstring>

#include "image/file_guard.h"
#include "shell/console.h"

namespace tavrel {
namespace {

const char* const kMessages[] = {
    "Not enough memory to complete operation, aborted.",
    "Invalid image size.",
    "Bounds can not exseed image size.",
    "Unknow image representation model.",
    "Line is already left buffer and can't be observed.",
    "Line is already stored and can't be observed.",
    "Unknow file open mode.",
    "Unknow image buffering method.",
    "Module supports buffer size up to XXXX lines only.",
    "Internal error",
};
constexpr int kMessageCount = static_cast<int>(sizeof kMessages / sizeof kMessages[0]);

constexpr std::uint32_t kRingLimit = 20000;
constexpr std::uint32_t kDefaultWindow = 128;
// Below this many line buffers a read-state image gives up instead of
// settling for a smaller ring.
constexpr std::uint32_t kMinimumShrunkRing = 10;
// Colour rows are split into components through stack buffers of this many
// pixels, so no row transfer allocates.
constexpr std::uint32_t kChunkPixels = 4096;

LineAllocator gLineAllocator = nullptr;

void* allocateLine(std::size_t size) {
  return gLineAllocator ? gLineAllocator(size) : std::malloc(size);
}

// The line buffer size of a model, in 64 bits so that a width whose line
// does not fit the 32-bit field can be refused instead of wrapping.
std::uint64_t lineSizeFor(int model, std::uint32_t width) {
  switch (model) {
    case Bilevel:
      return ((static_cast<std::uint64_t>(width) - 1) >> 3) + 1;
    case Gray:
      return width;
    default:
      return 4 * static_cast<std::uint64_t>(width);
  }
}

std::uint32_t lineSizeOf(const ImageBuffer* image) {
  return static_cast<std::uint32_t>(lineSizeFor(image->model, image->width));
}

bool isKnownModel(int model) {
  return model == Bilevel || model == Gray || model == Color;
}

// Line numbers are held in the signed lastLine field, so a taller image
// cannot be addressed.
bool isUsableSize(int model, std::uint32_t width, std::uint32_t height) {
  return width > 0 && height > 0 && height <= static_cast<std::uint32_t>(INT32_MAX) &&
         lineSizeFor(model, width) <= UINT32_MAX;
}

// lastLine is stored signed but is a line number; it is always handled as an
// unsigned value so that moving the window never overflows a signed type.
std::uint32_t lastLineOf(const ImageBuffer* image) {
  return static_cast<std::uint32_t>(image->lastLine);
}

void closeStream(ImageBuffer* image) {
  if (image->file) std::fclose(image->file);
  image->file = nullptr;
}

void releaseLines(ImageBuffer* image) {
  if (!image->lines) return;
  for (std::uint32_t i = 0; i < image->ringSize; ++i) std::free(image->lines[i]);
  std::free(image->lines);
  image->lines = nullptr;
}

void fillLine(ImageBuffer* image, std::uint32_t slot) {
  std::uint8_t* line = image->lines[slot];
  const std::uint32_t background = static_cast<std::uint32_t>(image->background);
  switch (image->model) {
    case Bilevel:
      std::memset(line, (background & 0xFF) ? 0xFF : 0x00, image->lineSize);
      break;
    case Gray:
      std::memset(line, static_cast<int>(background & 0xFF), image->lineSize);
      break;
    default:
      // The fourth byte of each pixel is left alone.
      for (std::uint32_t x = 0; x < image->width; ++x) {
        line[4 * x] = static_cast<std::uint8_t>(background & 0xFF);
        line[4 * x + 1] = static_cast<std::uint8_t>((background >> 8) & 0xFF);
        line[4 * x + 2] = static_cast<std::uint8_t>((background >> 16) & 0xFF);
      }
      break;
  }
}

void readRow(ImageBuffer* image, std::uint8_t* line) {
  if (image->model != Color) {
    readRawRow(image->file, line, image->lineSize);
    return;
  }
  std::uint8_t red[kChunkPixels];
  std::uint8_t green[kChunkPixels];
  std::uint8_t blue[kChunkPixels];
  for (std::uint32_t done = 0; done < image->width;) {
    const std::uint32_t left = image->width - done;
    const std::uint32_t count = left < kChunkPixels ? left : kChunkPixels;
    readRgbRow(image->file, red, green, blue, count);
    std::uint8_t* pixel = line + 4 * static_cast<std::size_t>(done);
    for (std::uint32_t j = 0; j < count; ++j, pixel += 4) {
      pixel[0] = red[j];
      pixel[1] = green[j];
      pixel[2] = blue[j];
    }
    done += count;
  }
}

void writeRow(ImageBuffer* image, const std::uint8_t* line) {
  if (image->model != Color) {
    writeRawRow(image->file, line, image->lineSize);
    return;
  }
  std::uint8_t red[kChunkPixels];
  std::uint8_t green[kChunkPixels];
  std::uint8_t blue[kChunkPixels];
  for (std::uint32_t done = 0; done < image->width;) {
    const std::uint32_t left = image->width - done;
    const std::uint32_t count = left < kChunkPixels ? left : kChunkPixels;
    const std::uint8_t* pixel = line + 4 * static_cast<std::size_t>(done);
    for (std::uint32_t j = 0; j < count; ++j, pixel += 4) {
      red[j] = pixel[0];
      green[j] = pixel[1];
      blue[j] = pixel[2];
    }
    writeRgbRow(image->file, red, green, blue, count);
    done += count;
  }
}

void stepRing(ImageBuffer* image) {
  image->ringPosition += 1;
  if (static_cast<std::uint32_t>(image->ringPosition) >= image->ringSize) image->ringPosition = 0;
}

void advanceWindow(ImageBuffer* image, std::uint32_t n) {
  image->firstLine += n;
  image->lastLine = static_cast<std::int32_t>(lastLineOf(image) + n);
  image->lineCounter =
      static_cast<std::int32_t>(static_cast<std::uint32_t>(image->lineCounter) + n);
}

// Moves the window down by n lines, each new line read from the file into
// the slot of the oldest one.
void readLines(ImageBuffer* image, std::uint32_t n) {
  for (std::uint32_t i = 0; i < n; ++i) {
    std::uint8_t* line = image->lines[image->ringPosition];
    if (image->file) {
      readRow(image, line);
    } else {
      fillLine(image, static_cast<std::uint32_t>(image->ringPosition));
    }
    stepRing(image);
  }
  advanceWindow(image, n);
}

// Moves the window down by n lines, the oldest line going to the file and its
// slot coming back as a fresh background line.
void writeLines(ImageBuffer* image, std::uint32_t n) {
  for (std::uint32_t i = 0; i < n; ++i) {
    const std::uint32_t slot = static_cast<std::uint32_t>(image->ringPosition);
    if (image->file) writeRow(image, image->lines[slot]);
    fillLine(image, slot);
    stepRing(image);
  }
  advanceWindow(image, n);
}

enum class Access { Get, Set, BilevelSet };

bool inBounds(const ImageBuffer* image, std::uint32_t x, std::uint32_t y) {
  return image->lines && x >= image->xMin && x <= image->xMax && y >= image->yMin &&
         y <= image->yMax;
}

// Brings line y into the ring and returns its buffer. A line above the
// window is gone for good: reaching for it ends the process.
std::uint8_t* reachLine(ImageBuffer* image, std::uint32_t y, Access access) {
  if (y < image->firstLine) {
    errorLog("%s", kMessages[access == Access::Get ? MsgLineLeftBuffer : MsgLineStored]);
    fatalStop(-1);
  }
  const std::uint32_t last = lastLineOf(image);
  if (y > last) {
    std::uint32_t n = y - last;
    if (access != Access::BilevelSet) {
      // The read-ahead never pushes line y itself out of the ring.
      std::uint32_t ahead = image->readAhead;
      if (ahead > image->ringSize - 1) ahead = image->ringSize - 1;
      if (ahead > image->height - y) ahead = image->height - y;
      n += ahead;
    }
    if (access == Access::Get && image->readMode) {
      readLines(image, n);
    } else {
      writeLines(image, n);
    }
  }
  std::uint32_t slot = static_cast<std::uint32_t>(image->ringPosition) + (y - image->firstLine);
  if (slot >= image->ringSize) slot -= image->ringSize;
  return image->lines[slot];
}

void setWholeBounds(ImageBuffer* image) {
  image->xMin = 1;
  image->xMax = image->width;
  image->yMin = 1;
  image->yMax = image->height;
}

// Reads the header of a read-state file into the record. On failure the
// record keeps the stream; destroyImage closes it.
int readHeaderForOpen(const char* path, ImageBuffer* image) {
  // Only regular files are read: a FIFO or a device is of no kind the store
  // knows, and reading it could block.
  const int kind = isRegularStream(image->file) ? sniffFileKind(path) : UnknownKind;
  image->fileKind = kind;
  // A header field that cannot be scanned leaves its field alone; cleared
  // fields make such a header fail below instead of using stale values.
  image->width = 0;
  image->height = 0;
  image->maxValue = 0;
  int read = 0;
  switch (kind) {
    case PbmRaw:
      image->model = Bilevel;
      read = readPbmHeader(image->file, &image->width, &image->height);
      image->maxValue = 1;
      break;
    case PgmRaw:
      image->model = Gray;
      read = readPgmHeader(image->file, &image->width, &image->height, &image->maxValue);
      break;
    case PpmRaw:
      image->model = Color;
      read = readPpmHeader(image->file, &image->width, &image->height, &image->maxValue);
      break;
    default:
      errorLog("Image %s has not supported type or not exist", path);
      return 0;
  }
  if (image->width == 0 || image->height == 0) {
    errorLog("%s", kMessages[MsgInvalidSize]);
    return 0;
  }
  if (!read) return 0;
  if (!isUsableSize(image->model, image->width, image->height)) {
    errorLog("%s", kMessages[MsgInvalidSize]);
    return 0;
  }
  return 1;
}

// A file may end a little early (its missing samples read as 0xFF), but one
// that holds far less than its header claims is corrupt or hostile: reading
// it would allocate, and then paint and write, an image of the claimed size
// from nothing. The slack is the larger of 1 MiB and the samples present.
constexpr std::uint64_t kShortfallAllowed = 1u << 20;

int checkClaimedSize(const char* path, ImageBuffer* image) {
  struct stat info;
  const long at = std::ftell(image->file);
  if (at < 0 || ::fstat(::fileno(image->file), &info) != 0) return 1;
  const std::uint64_t rowBytes = image->model == Bilevel ? lineSizeFor(Bilevel, image->width)
                                 : image->model == Gray
                                     ? image->width
                                     : 3 * static_cast<std::uint64_t>(image->width);
  // Sizes were checked before: the product stays far below 2^64.
  const std::uint64_t claimed = rowBytes * image->height;
  const std::uint64_t size = static_cast<std::uint64_t>(info.st_size);
  const std::uint64_t present = size > static_cast<std::uint64_t>(at) ? size - at : 0;
  const std::uint64_t slack = present > kShortfallAllowed ? present : kShortfallAllowed;
  if (claimed <= present || claimed - present <= slack) return 1;
  errorLog(
      "ERROR: %s is truncated: its header claims %llu bytes of samples, the file holds %llu.\n",
      path, static_cast<unsigned long long>(claimed), static_cast<unsigned long long>(present));
  return 0;
}

}  // namespace

const char* storeMessage(int index) {
  if (index < 0 || index >= kMessageCount) return "";
  return kMessages[index];
}

void setLineAllocator(LineAllocator allocator) {
  gLineAllocator = allocator;
}

int setImageSize(ImageBuffer* image, std::uint32_t width, std::uint32_t height) {
  if (width == 0) width = 1;
  if (height == 0) height = 1;
  image->width = width;
  image->height = height;
  setImageBounds(image, 1, 1, width, height);
  return 1;
}

int setImageBounds(ImageBuffer* image, std::uint32_t x0, std::uint32_t y0, std::uint32_t w,
                   std::uint32_t h) {
  if (w == 0 || h == 0) {
    errorLog("%s", kMessages[MsgInvalidSize]);
    return 0;
  }
  // The far edges are summed in 64 bits: a rectangle reaching past the
  // 32-bit range is cut at the image, not wrapped to a small number.
  const std::uint64_t xEnd = static_cast<std::uint64_t>(x0) + w - 1;
  const std::uint64_t yEnd = static_cast<std::uint64_t>(y0) + h - 1;
  image->xMin = x0 > 1 ? x0 : 1;
  image->yMin = y0 > 1 ? y0 : 1;
  image->xMax = static_cast<std::uint32_t>(xEnd < image->width ? xEnd : image->width);
  image->yMax = static_cast<std::uint32_t>(yEnd < image->height ? yEnd : image->height);
  return 1;
}

int openImage(const char* path, ImageBuffer* image, int mode, int overwrite, int method, int model,
              int fileBacked, std::uint32_t windowLines) {
  image->file = nullptr;
  image->fileBacked = fileBacked ? 1 : 0;
  // A memory-only image has no file to read its lines from.
  image->readMode = (fileBacked && mode == Read) ? 1 : 0;
  image->lines = nullptr;
  image->ringSize = 0;
  image->readAhead = 1;
  image->model = model;
  image->bufferingMethod = method;

  if (image->readMode) {
    image->file = openFileByMode(path, mode, overwrite);
    if (!image->file) return 0;
    if (!readHeaderForOpen(path, image)) return 0;
  } else {
    // Checked before any file is created, so that a failing open never
    // leaves a truncated or header-only file behind.
    if (!isKnownModel(model)) return 0;
    if (!isUsableSize(model, image->width, image->height)) {
      errorLog("%s", kMessages[MsgInvalidSize]);
      return 0;
    }
    image->fileKind = model == Bilevel ? PbmRaw : model == Gray ? PgmRaw : PpmRaw;
    image->maxValue = model == Bilevel ? 1 : 255;
    if (image->fileBacked) {
      image->file = openFileByMode(path, mode, overwrite);
      if (!image->file) return 0;
      if (model == Bilevel) {
        writePbmHeader(image->file, image->width, image->height);
      } else if (model == Gray) {
        writePgmHeader(image->file, image->width, image->height, 255);
      } else {
        writePpmHeader(image->file, image->width, image->height, 255);
      }
    }
  }

  image->background = image->model == Bilevel ? 0 : image->model == Gray ? 255 : 0xFFFFFF;
  if (!image->fileBacked) image->bufferingMethod = WholeImage;
  if (windowLines == 0) windowLines = kDefaultWindow;
  if (image->bufferingMethod == WholeImage) {
    image->ringSize = image->height;
  } else {
    image->ringSize = image->height < windowLines ? image->height : windowLines;
    // With a single line the read-ahead would push the requested line out
    // of the ring before it is used.
    if (image->ringSize < 2 && image->height >= 2) image->ringSize = 2;
  }
  image->lineSize = lineSizeOf(image);
  setWholeBounds(image);

  if (image->ringSize >= kRingLimit) {
    errorLog("%s", kMessages[MsgRingLimit]);
    image->ringSize = 0;
    closeStream(image);
    return 0;
  }

  if (image->readMode && !checkClaimedSize(path, image)) {
    image->ringSize = 0;
    closeStream(image);
    return 0;
  }

  image->lines = static_cast<std::uint8_t**>(std::calloc(image->ringSize, sizeof(std::uint8_t*)));
  if (!image->lines) {
    errorLog("%s", kMessages[MsgNoMemory]);
    image->ringSize = 0;
    closeStream(image);
    return 0;
  }
  for (std::uint32_t i = 0; i < image->ringSize; ++i) {
    image->lines[i] = static_cast<std::uint8_t*>(allocateLine(image->lineSize));
    if (image->lines[i]) continue;
    if (i >= kMinimumShrunkRing && method == ShrinkingWindow && image->readMode) {
      image->ringSize = i;
      break;
    }
    releaseLines(image);
    image->ringSize = 0;
    closeStream(image);
    return 0;
  }
  if (image->bufferingMethod != WholeImage) image->bufferingMethod = FixedWindow;

  image->firstLine = 1;
  image->lastLine = static_cast<std::int32_t>(image->ringSize);
  image->ringPosition = 0;
  if (image->readMode) {
    readLines(image, image->ringSize);
    image->firstLine = 1;
    image->lastLine = static_cast<std::int32_t>(image->ringSize);
    image->ringPosition = 0;
    image->lineCounter = static_cast<std::int32_t>(image->ringSize);
  } else {
    for (std::uint32_t i = 0; i < image->ringSize; ++i) fillLine(image, i);
    image->lineCounter = 0;
  }
  return 1;
}

int getBilevelPixel(ImageBuffer* image, std::uint32_t x, std::uint32_t y) {
  if (image->model != Bilevel) return -1;
  if (!inBounds(image, x, y)) return 0;
  const std::uint8_t* line = reachLine(image, y, Access::Get);
  return (line[(x - 1) >> 3] >> (7 - ((x - 1) & 7))) & 1;
}

int getGrayPixel(ImageBuffer* image, std::uint32_t x, std::uint32_t y) {
  if (image->model != Gray) return -1;
  if (!inBounds(image, x, y)) return 0;
  return reachLine(image, y, Access::Get)[x - 1];
}

PackedColor getColorPixel(ImageBuffer* image, std::uint32_t x, std::uint32_t y) {
  if (image->model != Color) return 0;
  if (!inBounds(image, x, y)) return 0;
  const std::uint8_t* pixel =
      reachLine(image, y, Access::Get) + 4 * static_cast<std::size_t>(x - 1);
  return static_cast<PackedColor>(pixel[0]) | static_cast<PackedColor>(pixel[1]) << 8 |
         static_cast<PackedColor>(pixel[2]) << 16;
}

// Sets never touch a read-state image: moving its window would mean writing
// to a stream that is open for reading.
void setBilevelPixel(ImageBuffer* image, std::uint32_t x, std::uint32_t y, int bit) {
  if (image->model != Bilevel) return;
  if (!inBounds(image, x, y) || image->readMode) return;
  std::uint8_t* byte = reachLine(image, y, Access::BilevelSet) + ((x - 1) >> 3);
  const std::uint8_t mask = static_cast<std::uint8_t>(1u << (7 - ((x - 1) & 7)));
  if (bit) {
    *byte = static_cast<std::uint8_t>(*byte | mask);
  } else {
    *byte = static_cast<std::uint8_t>(*byte & ~mask);
  }
}

void setGrayPixel(ImageBuffer* image, std::uint32_t x, std::uint32_t y, int value) {
  if (image->model != Gray) return;
  if (!inBounds(image, x, y) || image->readMode) return;
  reachLine(image, y, Access::Set)[x - 1] = static_cast<std::uint8_t>(value & 0xFF);
}

void setColorPixel(ImageBuffer* image, std::uint32_t x, std::uint32_t y, PackedColor color) {
  if (image->model != Color) return;
  if (!inBounds(image, x, y) || image->readMode) return;
  std::uint8_t* pixel = reachLine(image, y, Access::Set) + 4 * static_cast<std::size_t>(x - 1);
  pixel[0] = static_cast<std::uint8_t>(color & 0xFF);
  pixel[1] = static_cast<std::uint8_t>((color >> 8) & 0xFF);
  pixel[2] = static_cast<std::uint8_t>((color >> 16) & 0xFF);
}

PackedColor getPixel(ImageBuffer* image, std::uint32_t x, std::uint32_t y) {
  switch (image->model) {
    case Bilevel:
      return getBilevelPixel(image, x, y) == 1 ? 0 : 0xFFFFFF;
    case Gray:
      return static_cast<PackedColor>(getGrayPixel(image, x, y) & 0xFF) * 0x010101u;
    default:
      return getColorPixel(image, x, y);
  }
}

void setPixel(ImageBuffer* image, std::uint32_t x, std::uint32_t y, PackedColor color) {
  switch (image->model) {
    case Bilevel:
      setBilevelPixel(image, x, y, color == 0 ? 1 : 0);
      break;
    case Gray:
      setGrayPixel(image, x, y, static_cast<int>(color & 0xFF));
      break;
    default:
      setColorPixel(image, x, y, color);
      break;
  }
}

int flushImage(ImageBuffer* image) {
  if (!image->fileBacked || !image->file || !image->lines || image->readMode) return 1;
  // The ring holds lines firstLine..lastLine, none beyond the height; once
  // flushed, the window stands past the last line, so a second flush writes
  // nothing and the file never gets more than height rows.
  const std::uint32_t last = lastLineOf(image);
  if (image->firstLine <= image->height) {
    const std::uint32_t remaining = image->height - (last < image->height ? last : image->height);
    writeLines(image, image->ringSize);
    // Every slot is background now, so further lines written through the
    // ring are the background line.
    writeLines(image, remaining);
  }
  std::fflush(image->file);
  return 1;
}

int rewindImage(ImageBuffer* image) {
  if (!image || !image->lines) return 0;
  if (image->fileBacked && image->file) {
    flushImage(image);
    std::rewind(image->file);
    image->readMode = 1;
    // The size read back is not taken over: the line buffers were made for
    // the record's size, and a file changed behind the image's back must not
    // make rows overrun them.
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    if (image->model == Bilevel) {
      readPbmHeader(image->file, &width, &height);
    } else if (image->model == Gray) {
      readPgmHeader(image->file, &width, &height, &image->maxValue);
    } else {
      readPpmHeader(image->file, &width, &height, &image->maxValue);
    }
    image->lineSize = lineSizeOf(image);
    setWholeBounds(image);
    image->firstLine = 1;
    image->lastLine = static_cast<std::int32_t>(image->ringSize);
    image->ringPosition = 0;
    readLines(image, image->ringSize);
    image->firstLine = 1;
    image->lastLine = static_cast<std::int32_t>(image->ringSize);
    image->ringPosition = 0;
    image->lineCounter = static_cast<std::int32_t>(image->ringSize);
  } else {
    setWholeBounds(image);
    image->ringPosition = 0;
  }
  return 1;
}

int destroyImage(ImageBuffer* image) {
  if (!image) return 1;
  // Only an image that opened has lines to flush; a failed open may still
  // hold the stream it could not use.
  if (image->lines && image->fileBacked) flushImage(image);
  closeStream(image);
  releaseLines(image);
  image->ringSize = 0;
  return 1;
}

std::uint8_t* wholeColourLine(ImageBuffer* image, std::uint32_t y) {
  const bool whole = image && image->model == Color && image->lines &&
                     image->ringSize == image->height && image->firstLine == 1 &&
                     image->ringPosition == 0 && image->xMin <= 1 && image->xMax >= image->width &&
                     image->yMin <= 1 && image->yMax >= image->height;
  if (!whole || y < 1 || y > image->height) return nullptr;
  return image->lines[y - 1];
}

int copyImageToFile(ImageBuffer* source, const char* path) {
  if (!source || !source->lines) return 0;
  ImageBuffer copy;
  setImageSize(&copy, source->width, source->height);
  if (!openImage(path, &copy, Create, 1, ShrinkingWindow, source->model, 1, 10)) return 0;
  rewindImage(source);
  for (std::uint32_t y = 1; y <= source->height; ++y) {
    for (std::uint32_t x = 1; x <= source->width; ++x)
      setPixel(&copy, x, y, getPixel(source, x, y));
  }
  // The last lines leave the ring here; a write that failed anywhere (a full
  // disk, a size limit) must not leave a truncated file that looks whole.
  flushImage(&copy);
  const int written = finishWrittenFile(copy.file, path);
  copy.file = nullptr;
  destroyImage(&copy);
  return written;
}

}  // namespace tavrel
