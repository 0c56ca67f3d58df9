// Writes a whole P6 image from a packed R, G, B canvas: the one writer of the
// program's dump files. It never replaces the input's own entry, and it
// replaces a dump atomically: the new image is written to a temporary file in
// the dump's folder and renamed over the dump's name only once it is
// complete, so an interrupted run leaves either the previous file or the new
// one, never a truncated image. SIGINT, SIGTERM and SIGHUP remove the
// temporary file before they end the process, whichever thread they reach
// and whichever thread is writing: once one has come, no thread creates,
// renames or removes a file any more.
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

// For tests: moments at which a test may act while a dump is written. The
// first two come on the writing thread; the last from the signal handler,
// once it has removed the temporary file and before it ends the process, so
// a hook must be async-signal-safe there.
enum class DumpMoment { BeforeTemporaryFile, BeforeRename, SignalCleanedUp };
using DumpTestHook = void (*)(DumpMoment);
void setDumpTestHook(DumpTestHook hook);

}  // namespace tavrel
