// Tavrel as a library: build the cluster tree of a photo's colours once, then
// ask it for any palette size.
//
// The tree is built bottom-up over the photo's distinct colours, always
// merging the two clusters whose merge costs least (nA·nB / (nA + nB) times
// their CIE 1976 colour difference in CIELAB), and undone top-down, the most
// expensive merge first. Every palette size k from 1 to the number of
// distinct colours is one step of that single tree: the image for k + 1
// splits one cluster of the image for k in two and leaves the rest alone.
//
// Definitions every call keeps:
// - Leaves: leaf i is the i-th distinct colour in order of first appearance,
//   rows from the top left. Merge r (0-based, in merge order) makes node
//   n + r for n colours. A merge's left child is its newer cluster, its right
//   child the older.
// - The image for k: k = 1 is the root's colour (the pixel-weighted mean of
//   all pixels, each channel truncated). Step s (0-based) splits, among the
//   unsplit clusters whose parent is split, the one with the largest merge
//   cost, of equal costs the one further right in the tree, and gives the
//   image for k = s + 2. Merge costs need not grow toward the root, so the
//   image for k is not always "the k - 1 most expensive merges undone".
// - Palette order: palette(1) is the root. The split that makes k colours
//   puts its left child in the split cluster's entry and appends its right
//   child as entry k - 1 (0-based), so palette(k) and palette(k - 1) differ
//   in one entry and one more. Two clusters may share a colour: a palette
//   may repeat a colour, and an image may have fewer than k distinct colours.
// - Quality: the mean, over all width × height pixels, of the CIE 1976
//   difference between each pixel and its painted colour, measured with the
//   library's own conversion (pure black counts as (1, 1, 1)).
//
// A Hierarchy is immutable once built: any number of threads may read one at
// once, and several may be built at the same time. Copies share the tree.
//
// Errors are thrown as tavrel::Error or one of its three subclasses below;
// no call leaves a half-built object behind.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "tavrel/export.h"
#include "tavrel/version.h"

namespace tavrel {

// The library's version as "major.minor.patch"; equal to TAVREL_VERSION_STRING
// of the header a program was compiled with when both come from one release.
TAVREL_API const char* version() noexcept;

// ---------------------------------------------------------------- errors --

enum class ErrorCode : int { InvalidArgument = 1, OutOfMemory = 2, Cancelled = 3 };

class TAVREL_API Error : public std::runtime_error {
 public:
  Error(ErrorCode code, const std::string& what) : std::runtime_error(what), code_(code) {}
  ErrorCode code() const noexcept { return code_; }

 private:
  ErrorCode code_;
};

// A call was given what it cannot take: no pixel data, a zero width or
// height, a row stride too small, a buffer too small, k out of range.
class TAVREL_API InvalidArgument : public Error {
 public:
  explicit InvalidArgument(const std::string& what) : Error(ErrorCode::InvalidArgument, what) {}
};

// Memory ran out. colours() is the photo's number of distinct colours once it
// was known when memory ran out, 0 before.
class TAVREL_API OutOfMemory : public Error {
 public:
  OutOfMemory(const std::string& what, std::uint32_t colours)
      : Error(ErrorCode::OutOfMemory, what), colours_(colours) {}
  std::uint32_t colours() const noexcept { return colours_; }

 private:
  std::uint32_t colours_;
};

// The progress callback asked the build to stop.
class TAVREL_API Cancelled : public Error {
 public:
  explicit Cancelled(const std::string& what) : Error(ErrorCode::Cancelled, what) {}
};

// ---------------------------------------------------------------- pixels --

struct Colour {
  std::uint8_t r = 0, g = 0, b = 0;
  friend bool operator==(const Colour&, const Colour&) = default;
};

// How the caller's input pixels are laid out.
enum class PixelFormat : std::uint8_t {
  Rgb,   // 3 bytes a pixel: R, G, B
  Rgbx,  // 4 bytes a pixel: R, G, B and a fourth byte that is ignored (alpha)
};

// The photo, in the caller's memory; read during the build only.
struct Pixels {
  const std::uint8_t* data = nullptr;
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::size_t rowStride = 0;  // bytes from one row to the next; 0: rows packed
  PixelFormat format = PixelFormat::Rgb;
};

// How an image is painted into the caller's buffer.
enum class OutputFormat : std::uint8_t {
  Rgb,      // 3 bytes a pixel
  Rgba,     // 4 bytes a pixel, alpha 255
  Index8,   // one uint8_t palette index a pixel; k up to 256
  Index16,  // one uint16_t a pixel; k up to 65,536
  Index32,  // one uint32_t a pixel; any k
};

// A caller's buffer for one image. rowStride is in bytes (0: rows packed) and
// must be a multiple of the index size for Index16 and Index32; size is the
// buffer's length in bytes, at least outputSize(format, rowStride).
struct Output {
  void* data = nullptr;
  std::size_t size = 0;
  std::size_t rowStride = 0;
  OutputFormat format = OutputFormat::Rgb;
};

// How the pixels of an image take the colours of its palette. The palettes
// are the same either way, and nested.
enum class Remap : std::uint8_t {
  // Each pixel in the colour of the cluster its colour belongs to: what the
  // command line dumps. The image for k + 1 differs from the image for k in
  // the pixels of one cluster only.
  Cluster,
  // Each pixel in the palette colour nearest to it by the CIE 1976
  // difference, measured as Quality above; of equal differences the lower
  // entry. A lower mean difference at every k, but a split may move pixels
  // of other clusters to the new entry too, so the image for k + 1 may differ
  // from the image for k in more places than one cluster.
  Nearest,
};

// ------------------------------------------------------------------ build --

// Called on the building thread with the fraction done (0 to 1, never
// falling) at least every 50 ms while the tree is built. Returning false
// stops the build within 100 ms: the constructor then throws Cancelled and
// everything it allocated is freed.
using Progress = std::function<bool(double fraction)>;

struct BuildOptions {
  Progress progress;     // may be empty
  unsigned threads = 0;  // 0: a second thread where the machine has a core
                         // for it; 1 or 2 fix the number. The tree is the same.
};

// One step of the progression: step s splits `node` and makes s + 2 colours.
struct Split {
  std::uint32_t node = 0;    // linkage id of the split cluster (n + merge number)
  std::uint64_t pixels = 0;  // pixels of the split cluster
  Colour left;               // the colour of its left child (keeps the entry)
  Colour right;              // the colour of its right child (the new entry)
  double cost = 0;           // the merge cost of the node
};

class TAVREL_API Hierarchy {
 public:
  // Builds the tree of the photo's colours. Cost: about the command line's
  // run without dumps; memory while building as there, afterwards
  // memoryBytes(). Throws InvalidArgument (null data, zero width or height,
  // rowStride below width × bytes a pixel, a size beyond the address space),
  // OutOfMemory, or Cancelled. Any width and height that memory allows.
  explicit Hierarchy(const Pixels& pixels, const BuildOptions& options = {});

  std::uint32_t width() const noexcept;
  std::uint32_t height() const noexcept;
  // Distinct colours of the photo, n ≥ 1; every k from 1 to n is a palette size.
  std::uint32_t colours() const noexcept;

  // The k colours of the image for k, in palette order (see above).
  // InvalidArgument unless 1 ≤ k ≤ colours(). Cost: O(k).
  std::vector<Colour> palette(std::uint32_t k) const;

  // Bytes a buffer needs for one image in this format and row stride
  // (0: packed): (height - 1) × stride + width × bytes a pixel.
  std::size_t outputSize(OutputFormat format, std::size_t rowStride = 0) const;

  // Paints the image for k from scratch into out; bytes between rows are left
  // alone. For 2 ≤ k ≤ min(colours(), 256) the RGB bytes equal the command
  // line's dump of k; for k = colours() they equal the photo. Index formats
  // write each pixel's palette index, as in palette(k). InvalidArgument for k
  // out of range or beyond the index width, a null or too small buffer, or a
  // bad stride. Cost: one pass over the pixels plus O(colours()).
  void paint(std::uint32_t k, const Output& out) const;
  // The same, painted as remap says. Remap::Nearest costs one pass over the
  // pixels plus, for each distinct colour, a search among the entries near
  // its cluster; the first call also converts every distinct colour to
  // CIELAB once and keeps the result (24 bytes a colour, in memoryBytes()).
  void paint(std::uint32_t k, const Output& out, Remap remap) const;

  // The split records, one per step: splits()[s] made s + 2 colours.
  // colours() - 1 records.
  std::vector<Split> splits() const;
  Split split(std::uint32_t step) const;  // InvalidArgument beyond the last step

  // The path of the node split at `step`: "R" for the root, then 1 for every
  // step down to a left child and 0 for a right child; complete, never cut.
  // Cost: the node's depth.
  std::string pathLabel(std::uint32_t step) const;

  // The mean colour difference of the image for every k from 1 to kmax;
  // element i is k = i + 1. Computed from the tree and the colour counts,
  // not by painting. InvalidArgument unless 1 ≤ kmax ≤ colours().
  std::vector<double> meanDeltaE(std::uint32_t kmax) const;
  // The same for images painted as remap says. Remap::Nearest costs about
  // kmax passes over the distinct colours: ask for the sizes you will show
  // (256 takes about as long as the build), not for every k of a large photo.
  std::vector<double> meanDeltaE(std::uint32_t kmax, Remap remap) const;

  // The smallest k whose mean colour difference is at or below the target;
  // the curve need not fall at every k. InvalidArgument for a negative or
  // NaN target.
  std::uint32_t fewestColours(double maxMeanDeltaE) const;
  // The same for images painted as remap says; for Remap::Nearest it costs
  // one pass over the distinct colours for every k it tries.
  std::uint32_t fewestColours(double maxMeanDeltaE, Remap remap) const;

  // The tree as a linkage matrix: colours() - 1 rows of four doubles, row
  // major; row r is merge r with its left child id, right child id, merge
  // cost and the number of colours below it. Ids below colours() are leaves,
  // id colours() + r is the cluster made by merge r. Empty for one colour.
  std::vector<double> linkage() const;
  // The colour of every leaf id.
  std::vector<Colour> leafColours() const;

  // Bytes the hierarchy holds: at most 4 a pixel plus 64 a distinct colour,
  // and 24 more a colour once an image has been painted by nearest colour.
  std::size_t memoryBytes() const noexcept;

  struct State;  // private to the library

 private:
  friend class Cursor;
  std::shared_ptr<const State> state_;
};

// Moves a caller's buffer through the progression from k upward, repainting
// only the pixels of the split cluster at each step (painting by cluster:
// Remap::Nearest images are painted whole by Hierarchy::paint): the cheap way to show
// k, k + 1, k + 2, ... in turn. The cursor holds the hierarchy's tree (a copy
// of the Hierarchy may go away), but the buffer must outlive it and nothing
// else may write the pixels it paints. A cursor serves one thread at a time.
class TAVREL_API Cursor {
 public:
  // Paints the image for k into out as Hierarchy::paint does. Throws as
  // paint does; the cursor also holds about 4 bytes a pixel of its own.
  Cursor(const Hierarchy& hierarchy, std::uint32_t k, const Output& out);
  ~Cursor();
  Cursor(Cursor&&) noexcept;
  Cursor& operator=(Cursor&&) noexcept;

  std::uint32_t k() const noexcept;
  // Brings the buffer to the image for k + 1; false, with nothing painted,
  // at k = colours(). InvalidArgument, with nothing painted, where k + 1
  // entries do not fit the buffer's index format (257 for Index8).
  bool next();
  // Brings the buffer forward to the image for k (k() ≤ k ≤ colours()),
  // repainting only what changed; InvalidArgument otherwise.
  void advanceTo(std::uint32_t k);

  struct State;  // private to the library

 private:
  std::unique_ptr<State> state_;
};

}  // namespace tavrel
