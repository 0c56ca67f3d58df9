"""What the module paints: every k against the command line's dumps, by every
path (image, indices with the palette, the progression, a PNG through
Pillow), and the same tree whatever layout the pixels come in."""

import tracemalloc

import numpy as np
import pytest
from PIL import Image

import tavrel
from conftest import random_image


def test_every_k_painted_three_ways_equals_the_command_lines_dump(sample, sample_tree, sample_dumps):
    kept = list(sample_tree.progression(256))  # copies the caller may keep
    assert [k for k, _ in kept] == list(range(1, 257))
    for k, incremental in kept[1:]:
        dump = sample_dumps[k]
        assert np.array_equal(sample_tree.image(k), dump), k
        assert np.array_equal(incremental, dump), k
        indices = sample_tree.indices(k)
        assert indices.dtype == np.uint8 and indices.shape == dump.shape[:2]
        assert np.array_equal(sample_tree.palette(k)[indices], dump), k
    assert np.array_equal(kept[0][1], sample_tree.image(1))
    assert np.array_equal(sample_tree.image(sample_tree.colours), sample)
    assert sample_tree.shape == sample.shape[:2]


def test_indices_widen_past_256_and_65536_colours():
    h = tavrel.Hierarchy(random_image(seed=7, height=300, width=300))
    for k, dtype in [(256, np.uint8), (257, np.uint16), (65536, np.uint16), (65537, np.uint32)]:
        indices = h.indices(k)
        assert indices.dtype == dtype and int(indices.max()) == k - 1, k
        assert np.array_equal(h.palette(k)[indices], h.image(k)), k


@pytest.mark.parametrize("k", [1, 16, 256])
def test_indexed_png_reads_back_as_the_image(sample_tree, tmp_path, k):
    sample_tree.to_pil(k).save(tmp_path / "reduced.png")
    with Image.open(tmp_path / "reduced.png") as back:
        assert back.mode == "P"
        assert np.array_equal(np.asarray(back.convert("RGB")), sample_tree.image(k))


def layouts(photo):
    """The same pixels in the layouts a caller may hand over: name -> (image, options)."""
    height, width, _ = photo.shape
    rgba = np.dstack([photo, np.arange(height * width, dtype=np.uint8).reshape(height, width)])
    spaced = np.zeros((2 * height, 2 * width, 3), np.uint8)
    spaced[::2, ::2] = photo
    return {
        "fortran order": (np.asfortranarray(photo), {}),
        "every second row and column": (spaced[::2, ::2], {}),
        "padded rows": (np.pad(photo, ((0, 0), (0, 5), (0, 0)))[:, :width], {}),
        "rows reversed": (np.ascontiguousarray(photo[::-1])[::-1], {}),
        "RGBA, alpha ignored": (rgba, {"alpha": "ignore"}),
        "RGB view of RGBA": (rgba[..., :3], {}),
        "Pillow RGB": (Image.fromarray(photo), {}),
        "Pillow RGBA, alpha ignored": (Image.fromarray(rgba, "RGBA"), {"alpha": "ignore"}),
        "memoryview": (memoryview(photo), {}),
        "one column": (photo[:, :1], {}),
    }


@pytest.mark.parametrize("name", list(layouts(np.zeros((2, 2, 3), np.uint8))))
def test_every_layout_builds_the_tree_of_the_contiguous_array(sample, name):
    image, options = layouts(np.ascontiguousarray(sample[40:130, 100:220]))[name]
    expected = tavrel.Hierarchy(np.ascontiguousarray(np.asarray(image)[..., :3]))
    h = tavrel.Hierarchy(image, **options)
    assert np.array_equal(h.splits, expected.splits)
    for k in sorted({1, 2, 16, h.colours}):
        assert np.array_equal(h.image(k), expected.image(k)), k


def peak_allocation(image):
    tracemalloc.start()
    try:
        tavrel.Hierarchy(image)
        return tracemalloc.get_traced_memory()[1]
    finally:
        tracemalloc.stop()


def test_a_c_order_array_is_read_in_place_and_others_copied_once():
    photo = random_image(seed=3, height=1000, width=1000, levels=4)
    assert peak_allocation(photo) < photo.nbytes // 10
    assert peak_allocation(np.zeros((1000, 1003, 3), np.uint8)[:, :1000]) < photo.nbytes // 10
    assert photo.nbytes <= peak_allocation(np.asfortranarray(photo)) < 2 * photo.nbytes
