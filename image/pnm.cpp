#include "image/pnm.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <climits>
#include <cstring>

#include "shell/console.h"

namespace tavrel {
namespace {

// Rows of RGB pixels pass through a small stack buffer, so a multi-megapixel
// row costs a handful of block transfers and no allocation.
constexpr long kRgbChunkPixels = 4096;

// Opens without ever waiting: a FIFO without a writer (or a device) would
// otherwise hold the process in open(). For regular files O_NONBLOCK changes
// nothing; any other kind of file is turned away before a byte is read.
std::FILE* openStream(const char* path, int flags, const char* mode) {
  int fd = ::open(path, flags | O_NONBLOCK, 0666);
  if (fd < 0) return nullptr;
  std::FILE* stream = ::fdopen(fd, mode);
  if (!stream) ::close(fd);
  return stream;
}

std::FILE* openForReading(const char* path) {
  return openStream(path, O_RDONLY, "rb");
}

// Scans one header number with the syntax of "%li" (optional sign, 0x for
// hexadecimal, a leading 0 for octal) into a type wide enough to see values
// that do not fit the caller's field. The format decides whether trailing
// white space is consumed.
bool scanNumber(std::FILE* stream, const char* format, long long* value) {
  long long scanned = 0;
  if (std::fscanf(stream, format, &scanned) != 1) return false;
  *value = scanned;
  return true;
}

// A width or height is stored only when it is a usable size; anything else
// (0, negative, beyond 32 bits) leaves 0 behind, which no open accepts.
bool scanDimension(std::FILE* stream, const char* format, std::uint32_t* out) {
  long long value = 0;
  if (!scanNumber(stream, format, &value)) return false;
  if (value < 1 || value > static_cast<long long>(UINT32_MAX)) {
    *out = 0;
    return false;
  }
  *out = static_cast<std::uint32_t>(value);
  return true;
}

// The shared tail of the P5 and P6 readers: width, height, maxval, then the
// single separator byte. levelsMessage takes the number of levels.
int readGrayOrColorTail(std::FILE* stream, std::uint32_t* width, std::uint32_t* height, int* maxval,
                        const char* levelsMessage) {
  skipHeaderComments(stream);
  if (!scanDimension(stream, "%lli ", width)) return 0;
  skipHeaderComments(stream);
  if (!scanDimension(stream, "%lli ", height)) return 0;
  skipHeaderComments(stream);
  // A maxval that cannot be scanned leaves the caller's value to be judged,
  // as the field was before the header was read.
  long long value = *maxval;
  scanNumber(stream, "%lli", &value);
  if (value > INT_MAX) value = INT_MAX;
  if (value < INT_MIN) value = INT_MIN;
  *maxval = static_cast<int>(value);
  if (*maxval != 255) {
    errorLog(levelsMessage, static_cast<long long>(*maxval) + 1);
    return 0;
  }
  std::getc(stream);
  return 1;
}

bool magicIs(std::FILE* stream, char digit) {
  int first = std::getc(stream);
  int second = std::getc(stream);
  return first == 'P' && second == digit;
}

}  // namespace

int fileExists(const char* path) {
  std::FILE* stream = openForReading(path);
  if (!stream) return 0;
  std::fclose(stream);
  return 1;
}

std::FILE* openFileByMode(const char* path, int mode, int overwrite) {
  if (mode == Read) {
    std::FILE* stream = openForReading(path);
    if (!stream) errorLog("ERROR: Cannot find the file: %s", path);
    return stream;
  }
  if (mode == Create) {
    if (fileExists(path)) {
      if (overwrite != 1) {
        errorLog("ERROR: File already exists: %s", path);
        return nullptr;
      }
      // unlink rather than remove: an overwrite replaces files, it never
      // deletes a directory of that name.
      ::unlink(path);
    }
    std::FILE* stream = openStream(path, O_RDWR | O_CREAT | O_TRUNC, "wb+");
    if (!stream) errorLog("ERROR: Couldn't open the file: %s", path);
    return stream;
  }
  errorLog("ERROR: Invalid file mode:%d", mode);
  return nullptr;
}

bool isRegularStream(std::FILE* stream) {
  struct stat info;
  return ::fstat(::fileno(stream), &info) == 0 && S_ISREG(info.st_mode);
}

int sniffFileKind(const char* path) {
  if (!fileExists(path)) return UnknownKind;
  std::FILE* stream = openForReading(path);
  if (!stream) return UnknownKind;
  int kind = UnknownKind;
  if (isRegularStream(stream)) {
    int first = std::getc(stream);
    int second = std::getc(stream);
    if (first == 'P') {
      switch (second) {
        case '2':
          kind = PgmPlain;
          break;
        case '4':
          kind = PbmRaw;
          break;
        case '5':
          kind = PgmRaw;
          break;
        case '6':
          kind = PpmRaw;
          break;
        default:
          break;
      }
    }
  }
  std::fclose(stream);
  return kind;
}

int skipHeaderComments(std::FILE* stream) {
  int ch = std::getc(stream);
  while (true) {
    while (ch != EOF && std::isspace(static_cast<unsigned char>(ch))) ch = std::getc(stream);
    if (ch != '#') break;
    // Discard the comment up to its line feed; the end of the file ends the
    // header here instead of looping on a comment that never finishes.
    while (ch != EOF && ch != '\n') ch = std::getc(stream);
    if (ch == EOF) break;
    ch = std::getc(stream);
  }
  if (ch != EOF) std::ungetc(ch, stream);
  return 1;
}

int readPbmHeader(std::FILE* stream, std::uint32_t* width, std::uint32_t* height) {
  if (!magicIs(stream, '4')) {
    errorLog("PBM-identification flag not found\a. (P4 was expected).");
    return 0;
  }
  skipHeaderComments(stream);
  if (!scanDimension(stream, "%lli ", width)) return 0;
  skipHeaderComments(stream);
  if (!scanDimension(stream, "%lli", height)) return 0;
  std::getc(stream);
  return 1;
}

int readPgmHeader(std::FILE* stream, std::uint32_t* width, std::uint32_t* height, int* maxval) {
  if (!magicIs(stream, '5')) {
    errorLog("PGM-identification flag not found.. (P5 was expected).");
    return 0;
  }
  return readGrayOrColorTail(
      stream, width, height, maxval,
      "This module supports 256 gray scales only.The current image file has %lli levels.");
}

int readPpmHeader(std::FILE* stream, std::uint32_t* width, std::uint32_t* height, int* maxval) {
  if (!magicIs(stream, '6')) {
    errorLog("PPM-identification flag not found\a. (P6 was expected).");
    return 0;
  }
  return readGrayOrColorTail(
      stream, width, height, maxval,
      "This module supports 8-bit color components only.The current image file has %lli levels.");
}

int writePbmHeader(std::FILE* stream, std::uint32_t width, std::uint32_t height) {
  std::fprintf(stream, "P4\n%li %li\n", static_cast<long>(width), static_cast<long>(height));
  return 1;
}

int writePgmHeader(std::FILE* stream, std::uint32_t width, std::uint32_t height, int maxval) {
  std::fprintf(stream, "P5\n%li %li\n%i\n", static_cast<long>(width), static_cast<long>(height),
               maxval);
  return 1;
}

std::size_t formatPpmHeader(char* header, std::size_t size, std::uint32_t width,
                            std::uint32_t height, int maxval) {
  const int n = std::snprintf(header, size, "P6\n%li %li\n%i\n", static_cast<long>(width),
                              static_cast<long>(height), maxval);
  return n > 0 ? static_cast<std::size_t>(n) : 0;
}

int writePpmHeader(std::FILE* stream, std::uint32_t width, std::uint32_t height, int maxval) {
  char header[64];
  std::fwrite(header, 1, formatPpmHeader(header, sizeof header, width, height, maxval), stream);
  return 1;
}

int readRawRow(std::FILE* stream, std::uint8_t* bytes, long count) {
  if (count < 1) return 1;
  const std::size_t wanted = static_cast<std::size_t>(count);
  const std::size_t got = std::fread(bytes, 1, wanted, stream);
  // Bytes beyond the end of the file read as the low byte of EOF.
  if (got < wanted) std::memset(bytes + got, 0xFF, wanted - got);
  return 1;
}

int writeRawRow(std::FILE* stream, const std::uint8_t* bytes, long count) {
  if (count < 1) return 1;
  std::fwrite(bytes, 1, static_cast<std::size_t>(count), stream);
  return 1;
}

int readRgbRow(std::FILE* stream, std::uint8_t* red, std::uint8_t* green, std::uint8_t* blue,
               long count) {
  std::uint8_t chunk[3 * kRgbChunkPixels];
  for (long done = 0; done < count;) {
    const long pixels = count - done < kRgbChunkPixels ? count - done : kRgbChunkPixels;
    readRawRow(stream, chunk, 3 * pixels);
    for (long i = 0; i < pixels; ++i) {
      red[done + i] = chunk[3 * i];
      green[done + i] = chunk[3 * i + 1];
      blue[done + i] = chunk[3 * i + 2];
    }
    done += pixels;
  }
  return 1;
}

int writeRgbRow(std::FILE* stream, const std::uint8_t* red, const std::uint8_t* green,
                const std::uint8_t* blue, long count) {
  std::uint8_t chunk[3 * kRgbChunkPixels];
  for (long done = 0; done < count;) {
    const long pixels = count - done < kRgbChunkPixels ? count - done : kRgbChunkPixels;
    for (long i = 0; i < pixels; ++i) {
      chunk[3 * i] = red[done + i];
      chunk[3 * i + 1] = green[done + i];
      chunk[3 * i + 2] = blue[done + i];
    }
    writeRawRow(stream, chunk, 3 * pixels);
    done += pixels;
  }
  return 1;
}

}  // namespace tavrel
