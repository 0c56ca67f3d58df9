"""The tree read as data: split records against the command line's -Q3 log,
the linkage against scipy and the split records, the quality curve and the
fewest colours for a target, and the one-colour photo."""

import re

import numpy as np
import pytest
from scipy.cluster import hierarchy as sch

import tavrel
from conftest import run_binary


def test_split_records_and_paths_equal_the_command_lines_log(sample_tree, tmp_path):
    log = run_binary(tmp_path, "-Q3", "-C0")
    pixels = [int(p) for p in re.findall(r"^Pixels updated : (\d+)$", log, re.M)]
    colours = re.findall(r"^Colors : (\d+):(\d+):(\d+) (\d+):(\d+):(\d+)$", log, re.M)
    paths = re.findall(r"^Path : (R[01]*)$", log, re.M)
    splits = sample_tree.splits
    assert len(splits) == len(paths) == sample_tree.colours - 1
    assert splits["pixels"].tolist() == pixels
    assert np.array_equal(np.hstack([splits["left"], splits["right"]]), np.array(colours, int))
    for step in list(range(300)) + list(range(len(paths) - 300, len(paths))):
        assert sample_tree.path_label(step) == paths[step], step


def test_linkage_is_valid_for_scipy_and_agrees_with_the_splits(sample, sample_tree):
    # The library's tests check the linkage against the photo; here its
    # array, and that its rows and the split records name the same merges.
    z = sample_tree.linkage()
    n = sample_tree.colours
    assert z.shape == (n - 1, 4) and z.dtype == np.float64
    assert sch.is_valid_linkage(z, throw=True)
    assert sorted(sch.leaves_list(z)) == list(range(n)) and z[-1, 3] == n
    sch.dendrogram(z, truncate_mode="lastp", p=12, no_plot=True)
    splits = sample_tree.splits
    assert np.array_equal(z[splits["node"] - n, 2], splits["cost"])
    colours, first = np.unique(sample.reshape(-1, 3), axis=0, return_index=True)
    assert np.array_equal(sample_tree.leaf_colours, colours[np.argsort(first)])  # in order of first appearance


def test_quality_curve_and_the_fewest_colours_for_a_target(sample_tree):
    # The curve's values are checked per pixel by the library's tests; here
    # the numpy array's layout, and the first k at or below each target.
    n = sample_tree.colours
    curve = sample_tree.mean_delta_e(n)
    assert curve.dtype == np.float64 and curve.shape == (n,) and curve[-1] == 0.0
    assert np.array_equal(sample_tree.mean_delta_e(40), curve[:40])
    targets = [0.0, 1e300, 2.0, np.nextafter(curve[0], 0)]
    for k in [1, 5, 300, 5000]:
        targets += [curve[k - 1], np.nextafter(curve[k - 1], 0), np.nextafter(curve[k - 1], 99)]
    for target in targets:
        assert sample_tree.fewest_colours(target) == int(np.argmax(curve <= target)) + 1, target


def test_a_one_colour_photo_has_one_palette_and_no_linkage():
    photo = np.full((5, 7, 3), (12, 200, 99), np.uint8)
    h = tavrel.Hierarchy(photo)
    assert h.colours == 1 and h.palette(1).tolist() == h.leaf_colours.tolist() == [[12, 200, 99]]
    assert np.array_equal(h.image(1), photo) and not h.indices(1).any()
    assert h.mean_delta_e(1).tolist() == [0.0] and h.fewest_colours(0.0) == 1
    assert len(h.splits) == 0 and [k for k, _ in h.progression(1)] == [1]
    with pytest.raises(ValueError, match="one-colour image has no linkage"):
        h.linkage()
