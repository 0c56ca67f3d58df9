#!/usr/bin/python3
"""The README's quality curve: the mean colour difference of the sample photo
at every number of colours from 1 to 256, from one build in Python, with the
fewest colours that keep it at or below 2 marked; beside it, dashed, the
same palettes with every pixel painted in its nearest palette colour.

    PYTHONPATH=build/python scripts/quality_curve.py [photo] [figure]

(or: make python-figure). Writes docs/quality-curve.png by default.
"""

import os
import sys

import matplotlib
import matplotlib.ticker

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402
from PIL import Image  # noqa: E402

import tavrel  # noqa: E402

root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
photo_path = sys.argv[1] if len(sys.argv) > 1 else os.path.join(root, "examples/coffee-320x240.ppm")
figure_path = sys.argv[2] if len(sys.argv) > 2 else os.path.join(root, "docs/quality-curve.png")

h = tavrel.Hierarchy(Image.open(photo_path).convert("RGB"))
kmax = min(256, h.colours)
curve = h.mean_delta_e(kmax)
nearest = h.mean_delta_e(kmax, remap="nearest")
target = 2.0
k = h.fewest_colours(target)
k_nearest = h.fewest_colours(target, remap="nearest")

fig, ax = plt.subplots(figsize=(7, 4), dpi=100)
ax.plot(range(1, kmax + 1), curve, color="#8a3b12", linewidth=1.5,
        label="each pixel in its cluster's colour")
ax.plot(range(1, kmax + 1), nearest, color="#8a3b12", linewidth=1.2, linestyle="--",
        label='each pixel in its nearest palette colour (remap="nearest")')
ax.axhline(target, color="grey", linewidth=0.8, linestyle=":")
if k <= kmax:
    ax.plot([k], [curve[k - 1]], "o", color="black")
    ax.annotate(f"{k} colours: mean ΔE*ab {curve[k - 1]:.2f}", (k, curve[k - 1]),
                textcoords="offset points", xytext=(-10, 14), ha="right")
if k_nearest <= kmax:
    ax.plot([k_nearest], [nearest[k_nearest - 1]], "o", color="black", fillstyle="none")
    ax.annotate(f"{k_nearest} by nearest colour: {nearest[k_nearest - 1]:.2f}",
                (k_nearest, nearest[k_nearest - 1]), textcoords="offset points",
                xytext=(-10, -4), ha="right", va="top")
ax.set_xscale("log", base=2)
ax.set_xticks([2**i for i in range(9) if 2**i <= kmax])
ax.xaxis.set_major_formatter(matplotlib.ticker.ScalarFormatter())
ax.set_xlabel("colours (k)")
ax.set_ylabel("mean ΔE*ab against the photo")
ax.set_title(f"{os.path.basename(photo_path)}: {h.colours:,} distinct colours, one build")
ax.grid(True, which="both", linewidth=0.3)
ax.legend(loc="upper right", frameon=False)
fig.tight_layout()
fig.savefig(figure_path, metadata={"Software": None})
print(f"{figure_path}: k = 1..{kmax}, fewest colours for a mean ΔE*ab of at most {target}: "
      f"{k} by cluster, {k_nearest} by nearest colour")
