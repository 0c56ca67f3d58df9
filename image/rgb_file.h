// Writes a whole P6 image from a packed R, G, B canvas: the one writer of the
// program's dump files. It never replaces the input's own entry, and it
// replaces a dump atomically: the new image is written to a temporary file in
// the dump's folder and renamed over the dump's name only once it is
// complete, so an interrupted run leaves either the previous file or the new
// one, never a truncated image. SIGINT, SIGTERM and SIGHUP remove the
// temporary file before they end the process.
//
// One dump may be written at a time, from any thread.
#pragma once

#include <cstdint>

namespace tavrel {

// Returns 1 when the file was created and written, 0 otherwise (a message
// names the file). A dump that cannot be written completely leaves no file
// under its name.
int writeRgbFile(const char* path, std::uint32_t width, std::uint32_t height,
                 const std::uint8_t* rgb);

}  // namespace tavrel
