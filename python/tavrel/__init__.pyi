"""Every nested palette of one photo, from a single build."""

from typing import Any, Callable, Iterator, Literal, Optional, Tuple

import numpy as np
import numpy.typing as npt

__version__: str

_Remap = Literal["cluster", "nearest"]

class Progression(Iterator[Tuple[int, npt.NDArray[np.uint8]]]):
    """Iterator over (k, image) pairs made by Hierarchy.progression()."""

    def __iter__(self) -> "Progression": ...
    def __next__(self) -> Tuple[int, npt.NDArray[np.uint8]]: ...
    def __length_hint__(self) -> int: ...

class Hierarchy:
    """The cluster tree of one photo's colours, built once.

    The image for k splits, step by step, the most expensive unsplit cluster
    first; indices(k) and image(k) give it. Cutting linkage() with scipy's
    fcluster can differ where merge costs do not grow toward the root.

    remap="nearest" paints each pixel in the palette colour nearest to it by
    the CIE 1976 difference (ties to the lower index) instead of its
    cluster's: the same nested palettes, a mean difference never higher, but
    the image for k + 1 may differ from the image for k in more places than
    one cluster. A remap other than "cluster" or "nearest" is a ValueError.
    """

    def __init__(
        self,
        image: Any,
        *,
        alpha: Literal["error", "ignore"] = "error",
        progress: Optional[Callable[[float], object]] = None,
    ) -> None:
        """Build the tree from an H x W x 3 uint8 array (any strides) or a
        Pillow "RGB" image; alpha="ignore" accepts H x W x 4 and reads the
        first three channels. progress receives the fraction done."""
    @property
    def colours(self) -> int:
        """The number of distinct colours n; every k from 1 to n is a size."""
    @property
    def shape(self) -> Tuple[int, int]:
        """The photo's (height, width)."""
    @property
    def memory_bytes(self) -> int:
        """Bytes the hierarchy holds; 24 more a colour once remap="nearest"
        has been used."""
    def palette(self, k: int) -> npt.NDArray[np.uint8]:
        """The k x 3 palette of the image for k, in palette order."""
    def indices(
        self, k: int, *, remap: _Remap = "cluster"
    ) -> npt.NDArray[np.unsignedinteger[Any]]:
        """H x W palette indices: uint8 up to k = 256, uint16 up to 65,536,
        uint32 beyond."""
    def image(self, k: int, *, remap: _Remap = "cluster") -> npt.NDArray[np.uint8]:
        """The H x W x 3 image for k; painted by cluster, for 2 <= k <= 256
        the command line's dump of k."""
    def progression(self, kmax: int) -> Progression:
        """(k, image) for k = 1 .. kmax, painted incrementally by cluster
        only; each image is a copy."""
    def mean_delta_e(self, kmax: int, *, remap: _Remap = "cluster") -> npt.NDArray[np.float64]:
        """Mean delta E*ab of the image for k = i + 1 at element i; with
        "nearest" about one pass over the distinct colours per k."""
    def fewest_colours(self, max_mean_delta_e: float, *, remap: _Remap = "cluster") -> int:
        """The smallest k whose mean delta E*ab is at or below the target."""
    @property
    def splits(self) -> npt.NDArray[np.void]:
        """Structured array of the split records: node (uint32), pixels
        (uint64), left (uint8[3]), right (uint8[3]), cost (float64)."""
    def path_label(self, step: int) -> str:
        """"R", then 1 for a left and 0 for a right child, down to the
        cluster split at step."""
    def linkage(self) -> npt.NDArray[np.float64]:
        """The (n - 1) x 4 linkage matrix of scipy.cluster.hierarchy;
        ValueError for a one-colour photo."""
    @property
    def leaf_colours(self) -> npt.NDArray[np.uint8]:
        """n x 3: the colour of every leaf id of linkage()."""
    def to_pil(self, k: int, *, remap: _Remap = "cluster") -> Any:
        """A Pillow image of mode "P" with palette(k); k <= 256."""
