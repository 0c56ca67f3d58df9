// PNM file layer: existence test, opening under the overwrite rule, sniffing
// the kind of a file, raw PBM/PGM/PPM headers and rows. Every message goes to
// the error log without a newline.
#pragma once

#include <cstdint>
#include <cstdio>

namespace tavrel {

enum OpenMode : int { Create = 0, Read = 1 };

// What sniffFileKind returns and an ImageBuffer records.
enum FileKind : int {
  UnknownKind = 0,
  PbmRaw = 1,    // "P4"
  PgmRaw = 2,    // "P5"
  PpmRaw = 3,    // "P6"
  PgmPlain = 4,  // "P2": recognised, not read
};

int fileExists(const char* path);
std::FILE* openFileByMode(const char* path, int mode, int overwrite);
int sniffFileKind(const char* path);
// True when the stream is a regular file: only those are ever read as images.
bool isRegularStream(std::FILE* stream);
int skipHeaderComments(std::FILE* stream);

int readPbmHeader(std::FILE* stream, std::uint32_t* width, std::uint32_t* height);
int readPgmHeader(std::FILE* stream, std::uint32_t* width, std::uint32_t* height, int* maxval);
int readPpmHeader(std::FILE* stream, std::uint32_t* width, std::uint32_t* height, int* maxval);
int writePbmHeader(std::FILE* stream, std::uint32_t width, std::uint32_t height);
int writePgmHeader(std::FILE* stream, std::uint32_t width, std::uint32_t height, int maxval);
// The P6 header text in header (size bytes at most); returns its length.
std::size_t formatPpmHeader(char* header, std::size_t size, std::uint32_t width,
                            std::uint32_t height, int maxval);
int writePpmHeader(std::FILE* stream, std::uint32_t width, std::uint32_t height, int maxval);

int readRawRow(std::FILE* stream, std::uint8_t* bytes, long count);
int writeRawRow(std::FILE* stream, const std::uint8_t* bytes, long count);
int readRgbRow(std::FILE* stream, std::uint8_t* red, std::uint8_t* green, std::uint8_t* blue,
               long count);
int writeRgbRow(std::FILE* stream, const std::uint8_t* red, const std::uint8_t* green,
                const std::uint8_t* blue, long count);

}  // namespace tavrel
