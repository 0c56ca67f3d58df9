// The few calls the page needs beyond the C interface itself: a build whose
// progress goes to the worker's JavaScript, and the size of a status text.
#include <emscripten/emscripten.h>

#include <cstdint>

#include "tavrel/tavrel.h"

// Returns whether to go on. The worker cannot read messages while the build
// runs, so a Cancel ends the whole worker instead (see worker.js); this only
// reports the fraction done.
EM_JS(int, tavrel_web_progress, (double fraction),
      { return Module["onProgress"] ? (Module["onProgress"](fraction) ? 1 : 0) : 1; });

namespace {
int reportProgress(double fraction, void*) {
  return tavrel_web_progress(fraction);
}
}  // namespace

extern "C" {

// tavrel_build on one thread (a page served without cross-origin isolation
// has no shared memory for a second one), with the progress wired to
// Module.onProgress. The handle is written into *out.
EMSCRIPTEN_KEEPALIVE tavrel_status tavrel_web_build(const std::uint8_t* rgba, std::uint32_t width,
                                                    std::uint32_t height, tavrel_hierarchy** out,
                                                    std::uint32_t* colours) {
  return tavrel_build(rgba, width, height, 0, TAVREL_PIXELS_RGBX, reportProgress, nullptr, 1, out,
                      colours);
}

}  // extern "C"
