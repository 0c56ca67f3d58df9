// Writes a whole P6 image from a packed R, G, B canvas with the same file
// rules as a copy through the image store: an existing file of that name is
// replaced, and a failure to create it prints the store's message.
#pragma once

#include <cstdint>

namespace tavrel {

// Returns 1 when the file was created and written, 0 otherwise.
int writeRgbFile(const char* path, std::uint32_t width, std::uint32_t height,
                 const std::uint8_t* rgb);

}  // namespace tavrel
