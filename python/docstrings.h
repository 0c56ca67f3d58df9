// What help() shows for the Python module. Kept apart from the bindings so the
// code stays readable; python/tavrel/__init__.pyi repeats the signatures for
// editors and type checkers.
#pragma once

namespace tavrel::python {

inline constexpr const char* kModuleDoc = R"(Every nested palette of one photo, from a single build.

Tavrel clusters a photo's distinct colours bottom-up, always merging the two
clusters whose merge costs least (nA*nB / (nA + nB) times their CIE 1976
colour difference in CIELAB), and then undoes the merges top-down. Every
palette size k from 1 to the number of distinct colours is one step of that
single tree: the image for k + 1 splits one cluster of the image for k in two
and leaves the other colours alone.

    >>> import numpy, tavrel
    >>> from PIL import Image
    >>> h = tavrel.Hierarchy(Image.open("photo.jpg").convert("RGB"))
    >>> k = h.fewest_colours(2.0)          # mean delta E at most 2
    >>> h.to_pil(min(k, 256)).save("photo.png")   # an indexed PNG

Hierarchy builds the tree; everything else reads it. A Hierarchy is
immutable, and its methods may be called from several threads at once.
)";

inline constexpr const char* kHierarchyDoc = R"(The cluster tree of one photo's colours, built once.

Definitions every method keeps:

- Leaves: leaf i is the i-th distinct colour in order of first appearance,
  rows from the top left. Merge r (0-based) makes node n + r for n colours;
  its left child is the newer cluster, its right child the older.
- The image for k: k = 1 paints the root's colour (the pixel-weighted mean
  of all pixels, each channel truncated). Step s (0-based) splits, among the
  unsplit clusters whose parent is split, the one with the largest merge
  cost (of equal costs the one further right in the tree) and gives the
  image for k = s + 2. For 2 <= k <= 256 the image is byte for byte the
  command line's dump of k; for k = colours it is the photo.
- Palette order: palette(1) is the root. The split that makes k colours puts
  its left child in the split cluster's entry and appends its right child as
  entry k - 1, so palette(k) and palette(k - 1) differ in one entry and one
  more. Two clusters may share a colour.
- Quality: the mean, over all pixels, of the CIE 1976 difference (delta E*ab)
  between each pixel and its painted colour; pure black is measured as
  (1, 1, 1), as everywhere in Tavrel.
- Painting: remap="cluster" (the default of every call that paints or
  measures) paints each pixel in the colour of the cluster its colour
  belongs to, as above. remap="nearest" paints each pixel in the palette
  colour nearest to it by the CIE 1976 difference as Quality measures it,
  of equal differences the lower palette index. The palettes are the same
  and stay nested, and the mean difference is never higher, but a split may
  move pixels of other clusters to the new entry too: the image for k + 1
  may differ from the image for k in more places than one cluster.
  progression() paints by cluster only.

Tavrel's image for k splits the most expensive unsplit cluster first; that
is what indices(k) and image(k) give. Merge costs need not grow toward the
root, so cutting linkage() with scipy's fcluster into k clusters can give a
different partition where they do not.
)";

inline constexpr const char* kInitDoc = R"(Hierarchy(image, *, alpha="error", progress=None)

Build the tree of the photo's colours.

image: an H x W x 3 uint8 array in R, G, B order, of any strides (C or
    Fortran order, slices, views), or anything with the array interface,
    such as a Pillow "RGB" image. Read where it lies, without a copy, when
    each row holds packed 3-byte pixels (4-byte with alpha="ignore") and the
    rows run forward, as in a C-contiguous array or a row slice; otherwise
    (Fortran order, a column step, a channel view, rows reversed) copied once
    into C order. Do not write to it from another thread during the build.
alpha: "error" (the default) refuses an H x W x 4 array or a Pillow "RGBA"
    image; "ignore" builds from the first three channels and never looks at
    the fourth (nothing is composited).
progress: None, or a callable that receives the fraction done (0 to 1,
    never falling) every few tens of milliseconds, and 1.0 when the build is
    complete. With tqdm:
        bar = tqdm(total=1)
        h = Hierarchy(image, progress=lambda f: bar.update(f - bar.n))
    An exception raised in it stops the build and propagates.

The GIL is released while the tree is built. Ctrl-C (KeyboardInterrupt)
stops a build within 0.2 s and leaves nothing behind.

Raises TypeError for something that is not an array or not uint8 and
ValueError for a wrong shape or an empty image (the message says what was
given and what is expected), MemoryError when memory runs out.
Cost: about the command line's run without dumps.
)";

inline constexpr const char* kColoursDoc =
    "The number of distinct colours n of the photo; every k from 1 to n is a palette size.";
inline constexpr const char* kShapeDoc = "The photo's (height, width).";
inline constexpr const char* kMemoryDoc =
    "Bytes the hierarchy holds: at most 4 a pixel plus 64 a distinct colour, and 24 more a "
    "colour once an image has been painted or measured with remap=\"nearest\".";

inline constexpr const char* kPaletteDoc = R"(palette(k) -> numpy.ndarray

The k colours of the image for k as a k x 3 uint8 array, in palette order:
entry i is the colour indices(k) paints as i. 1 <= k <= colours.
)";

inline constexpr const char* kIndicesDoc = R"(indices(k, *, remap="cluster") -> numpy.ndarray

The image for k as an H x W array of palette indices into palette(k):
uint8 for k up to 256, uint16 up to 65,536, uint32 beyond.
1 <= k <= colours. Cost: one pass over the pixels.

remap="nearest" gives each pixel the index of the palette colour nearest to
it by the CIE 1976 difference (of equal differences the lower index) instead
of its cluster's; it adds a search among the entries near each distinct
colour's cluster, and the first such call converts every distinct colour to
CIELAB once. ValueError for any other remap than "cluster" or "nearest".
)";

inline constexpr const char* kImageDoc = R"(image(k, *, remap="cluster") -> numpy.ndarray

The image for k as an H x W x 3 uint8 array (a new array). For
2 <= k <= 256 byte for byte the command line's dump of k; for k = colours
the photo itself. 1 <= k <= colours. Cost: one pass over the pixels.

remap="nearest" paints each pixel in the palette colour nearest to it by the
CIE 1976 difference (of equal differences the lower palette index): the same
palette(k), a mean difference never higher, but no longer the command
line's dump, and from k to k + 1 it may change in more places than one
cluster. ValueError for any other remap than "cluster" or "nearest".
)";

inline constexpr const char* kProgressionDoc =
    R"(progression(kmax) -> iterator of (int, numpy.ndarray)

The images for k = 1, 2, ..., kmax in turn, as (k, H x W x 3 uint8 array)
pairs. One canvas is moved from each k to the next by repainting only the
pixels of the split cluster, so the whole run costs far less than kmax calls
of image(k); each image handed out is a copy the caller may keep.
1 <= kmax <= colours. It paints by cluster only, as image(k) does by
default: an image painted by nearest colour can change beyond the split
cluster, so call image(k, remap="nearest") for each k instead.
)";

inline constexpr const char* kProgressionClassDoc =
    "Iterator over (k, image) pairs made by Hierarchy.progression().";

inline constexpr const char* kMeanDeltaEDoc =
    R"(mean_delta_e(kmax, *, remap="cluster") -> numpy.ndarray

The quality curve: a float64 array whose element i is the mean delta E*ab of
the image for k = i + 1, for k = 1 .. kmax. Computed from the tree and the
colour counts, not by painting. The curve need not fall at every k.
1 <= kmax <= colours.

remap="nearest" gives the curve of the images painted by nearest colour
(see image), at or below the cluster curve at every k. It costs about one
pass over the distinct colours for every k: 256 takes about as long as the
build, so ask for the sizes you will show, not for every k of a large photo.
ValueError for any other remap than "cluster" or "nearest".
)";

inline constexpr const char* kFewestDoc =
    R"(fewest_colours(max_mean_delta_e, *, remap="cluster") -> int

The smallest k whose mean delta E*ab (see mean_delta_e) is at or below the
target; colours when only the photo itself reaches it (its mean is 0).
With remap="nearest" the same for images painted by nearest colour, at a
cost of one pass over the distinct colours for every k it tries.
ValueError for a negative or NaN target, or a remap other than "cluster" or
"nearest".
)";

inline constexpr const char* kSplitsDoc =
    R"(The split records, one per step, as a numpy structured array.

splits[s] made s + 2 colours; colours - 1 records, with the fields
    node    uint32    linkage id of the split cluster (n + merge number)
    pixels  uint64    pixels of the split cluster
    left    uint8[3]  colour of its left child (keeps the palette entry)
    right   uint8[3]  colour of its right child (the new entry k - 1)
    cost    float64   the merge cost of the node
Made anew on every access.
)";

inline constexpr const char* kPathDoc = R"(path_label(step) -> str

Where the cluster split at `step` sits in the tree: "R" for the root, then
"1" for every step down to a left child and "0" for a right child; complete,
never cut. 0 <= step <= colours - 2.
)";

inline constexpr const char* kLinkageDoc = R"(linkage() -> numpy.ndarray

The tree as the (n - 1) x 4 float64 linkage matrix of
scipy.cluster.hierarchy: row r is merge r with its left child id, its right
child id, its merge cost and the number of colours below it. Ids below n are
leaves (their colours are leaf_colours), id n + r is the cluster of merge r.
scipy's is_valid_linkage, leaves_list and dendrogram accept it; deep trees
want dendrogram(Z, truncate_mode="lastp", p=...). Merge costs need not grow
toward the root, so fcluster's cut into k clusters can differ from
indices(k), which splits the most expensive unsplit cluster first.
ValueError for a one-colour photo, which has no merge.
)";

inline constexpr const char* kLeafColoursDoc =
    "The colour of every leaf as an n x 3 uint8 array: row i is leaf i, the i-th distinct "
    "colour in order of first appearance.";

inline constexpr const char* kToPilDoc = R"(to_pil(k, *, remap="cluster") -> PIL.Image.Image

The image for k as a Pillow image of mode "P" with palette(k) as its
palette, so that h.to_pil(16).save("x.png") writes an indexed PNG; remap as
for indices(k). Pillow is imported only here. ValueError beyond 256 colours.
)";

}  // namespace tavrel::python
