"""The tree read as data: split records against the command line's -Q3 log,
the linkage against scipy and the split records, the quality curve against a
plain per-pixel computation, and the one-colour photo."""

import os
import re
import subprocess

import numpy as np
import pytest
from scipy.cluster import hierarchy as sch

import tavrel


def test_split_records_and_paths_equal_the_command_lines_log(sample_tree, tmp_path):
    os.symlink(os.environ["TAVREL_SAMPLE"], tmp_path / "input.ppm")
    log = subprocess.run(
        [os.environ["TAVREL_BINARY"], "-Q3", "-C0", "input.ppm", "sample"],
        cwd=tmp_path, capture_output=True, text=True, check=True,
    ).stdout
    pixels = [int(p) for p in re.findall(r"^Pixels updated : (\d+)$", log, re.M)]
    colours = re.findall(r"^Colors : (\d+):(\d+):(\d+) (\d+):(\d+):(\d+)$", log, re.M)
    paths = re.findall(r"^Path : (R[01]*)$", log, re.M)
    splits = sample_tree.splits
    assert len(splits) == len(pixels) == len(colours) == len(paths) == sample_tree.colours - 1
    assert splits["pixels"].tolist() == pixels
    assert np.array_equal(np.hstack([splits["left"], splits["right"]]), np.array(colours, int))
    for step in list(range(300)) + list(range(len(paths) - 300, len(paths))):
        assert sample_tree.path_label(step) == paths[step], step


def leaf_pixels(photo, leaf_colours):
    def packed(c):
        c = c.astype(np.int64)
        return (c[..., 0] << 16) | (c[..., 1] << 8) | c[..., 2]

    keys, counts = np.unique(packed(photo.reshape(-1, 3)), return_counts=True)
    return counts[np.searchsorted(keys, packed(leaf_colours))]


def test_linkage_is_valid_for_scipy_and_agrees_with_the_splits(sample, sample_tree):
    z = sample_tree.linkage()
    n = sample_tree.colours
    assert z.shape == (n - 1, 4) and z.dtype == np.float64
    assert sch.is_valid_linkage(z, throw=True)
    assert sorted(sch.leaves_list(z)) == list(range(n))
    sch.dendrogram(z, truncate_mode="lastp", p=12, no_plot=True)

    # Counts below each merge, and the pixels below it from the leaves.
    colours = sample_tree.leaf_colours
    assert colours.shape == (n, 3)
    pixels = np.concatenate([leaf_pixels(sample, colours), np.zeros(n - 1, np.int64)])
    counts = np.concatenate([np.ones(n), np.zeros(n - 1)])
    for r, (left, right, cost, count) in enumerate(z):
        left, right = int(left), int(right)
        assert max(left, right) < n + r
        counts[n + r] = counts[left] + counts[right]
        pixels[n + r] = pixels[left] + pixels[right]
        assert count == counts[n + r]

    # Each step splits the costliest unsplit cluster; of equal costs the one
    # further right, whose pixels come later in the tree's leaf order.
    first = np.zeros(2 * n - 1, np.int64)
    for node in range(2 * n - 2, n - 1, -1):
        left, right = int(z[node - n, 0]), int(z[node - n, 1])
        first[left], first[right] = first[node], first[node] + pixels[left]
    splits = sample_tree.splits
    frontier = {2 * n - 2}
    for step, split in enumerate(splits[:2000]):
        node = max(frontier, key=lambda c: (z[c - n, 2], first[c]))
        assert split["node"] == node, step
        assert split["cost"] == z[node - n, 2] and split["pixels"] == pixels[node]
        frontier.remove(node)
        frontier |= {int(c) for c in z[node - n, :2] if c >= n}


def lab(rgb):
    """CIELAB (D65) of sRGB bytes, the formulas written out independently."""
    rgb = rgb.astype(np.int64)
    rgb = np.where((rgb == 0).all(axis=-1, keepdims=True), 1, rgb)
    v = rgb / 255.0
    v = np.where(v > 0.03928, ((v + 0.055) / 1.055) ** 2.4, v / 12.92) * 100.0
    m = np.array([[0.412453, 0.35758, 0.180423], [0.212671, 0.71516, 0.072169],
                  [0.019334, 0.119193, 0.950227]])
    xyz = (v @ m.T) / np.array([95.047, 100.0, 108.883])
    eps, kappa = (6 / 29) ** 3, (29 / 3) ** 3
    f = np.where(xyz > eps, np.cbrt(xyz), (kappa * xyz + 16) / 116)
    light = np.where(xyz[..., 1] > eps, 116 * f[..., 1] - 16, kappa * xyz[..., 1])
    fy = (light + 16) / 116
    return np.stack([light, 500 * (f[..., 0] - fy), 200 * (fy - f[..., 2])], axis=-1)


def test_quality_curve_equals_a_per_pixel_computation(sample, sample_tree):
    n = sample_tree.colours
    curve = sample_tree.mean_delta_e(n)
    assert curve.dtype == np.float64 and curve.shape == (n,)
    photo = lab(sample)
    for k in [1, 2, 3, 17, 64, 256, 1000, n - 1]:
        expected = np.linalg.norm(photo - lab(sample_tree.image(k)), axis=-1).mean()
        assert curve[k - 1] == pytest.approx(expected, rel=1e-9, abs=1e-12), k
    assert curve[-1] == 0.0
    assert np.array_equal(sample_tree.mean_delta_e(40), curve[:40])


def test_fewest_colours_is_the_first_k_at_or_below_the_target(sample_tree):
    curve = sample_tree.mean_delta_e(sample_tree.colours)
    targets = [0.0, 1e300, curve[0], np.nextafter(curve[0], 0)]
    for k in [2, 5, 40, 300, 5000]:
        targets += [curve[k - 1], np.nextafter(curve[k - 1], 0), np.nextafter(curve[k - 1], 99)]
    targets += [2.0, 0.5]
    for target in targets:
        expected = int(np.argmax(curve <= target)) + 1
        assert sample_tree.fewest_colours(target) == expected, target


def test_a_one_colour_photo_has_one_palette_and_no_linkage():
    photo = np.full((5, 7, 3), (12, 200, 99), np.uint8)
    h = tavrel.Hierarchy(photo)
    assert h.colours == 1 and h.shape == (5, 7)
    assert h.palette(1).tolist() == [[12, 200, 99]]
    assert np.array_equal(h.image(1), photo) and not h.indices(1).any()
    assert h.mean_delta_e(1).tolist() == [0.0] and h.fewest_colours(0.0) == 1
    assert len(h.splits) == 0 and h.leaf_colours.tolist() == [[12, 200, 99]]
    assert [k for k, _ in h.progression(1)] == [1]
    with pytest.raises(ValueError, match="one-colour image has no linkage"):
        h.linkage()
