"""What the module paints: every k against the command line's dumps, by every
path (image, indices with the palette, the progression, a PNG through
Pillow), and the same tree whatever layout the pixels come in."""

import tracemalloc

import numpy as np
import pytest
from PIL import Image

import tavrel
from conftest import random_image


def test_every_k_painted_three_ways_equals_the_command_lines_dump(sample_tree, sample_dumps):
    steps = sample_tree.progression(256)
    k, image = next(steps)
    assert k == 1
    for k, incremental in steps:
        dump = sample_dumps[k]
        assert np.array_equal(sample_tree.image(k), dump), k
        assert np.array_equal(incremental, dump), k
        indices = sample_tree.indices(k)
        assert indices.dtype == np.uint8 and indices.shape == dump.shape[:2]
        assert np.array_equal(sample_tree.palette(k)[indices], dump), k


def test_one_colour_is_the_truncated_mean_and_all_colours_the_photo(sample, sample_tree):
    pixels = sample.reshape(-1, 3).astype(np.int64)
    mean = pixels.sum(axis=0) // len(pixels)
    assert sample_tree.palette(1).tolist() == [mean.tolist()]
    assert np.array_equal(sample_tree.image(1), np.broadcast_to(mean, sample.shape))
    n = sample_tree.colours
    assert n == len(np.unique(pixels, axis=0))
    assert np.array_equal(sample_tree.image(n), sample)
    assert sample_tree.shape == sample.shape[:2]


def test_progression_images_are_copies_the_caller_may_keep(sample_tree):
    kept = [image for _, image in sample_tree.progression(12)]
    for k, image in enumerate(kept, start=1):
        assert np.array_equal(image, sample_tree.image(k)), k


def test_indices_widen_past_256_and_65536_colours():
    photo = random_image(seed=7, height=300, width=300)
    h = tavrel.Hierarchy(photo)
    assert h.colours > 65537
    for k, dtype in [(256, np.uint8), (257, np.uint16), (65536, np.uint16), (65537, np.uint32)]:
        indices = h.indices(k)
        assert indices.dtype == dtype, k
        assert int(indices.max()) == k - 1
        assert np.array_equal(h.palette(k)[indices], h.image(k)), k
    assert np.array_equal(h.image(h.colours), photo)


@pytest.mark.parametrize("k", [1, 2, 16, 256])
def test_indexed_png_reads_back_as_the_image(sample_tree, tmp_path, k):
    path = tmp_path / "reduced.png"
    pil = sample_tree.to_pil(k)
    assert pil.mode == "P" and pil.size == sample_tree.shape[::-1]
    pil.save(path)
    with Image.open(path) as back:
        assert back.mode == "P"
        assert np.array_equal(np.asarray(back.convert("RGB")), sample_tree.image(k))


def layouts(photo):
    """The same pixels in every layout a caller may hand over: name -> (image, options)."""
    height, width, _ = photo.shape
    rgba = np.dstack([photo, np.arange(height * width, dtype=np.uint8).reshape(height, width)])
    spaced = np.zeros((2 * height, 2 * width, 3), np.uint8)
    spaced[::2, ::2] = photo
    padded = np.zeros((height, width + 5, 3), np.uint8)
    padded[:, :width] = photo
    read_only = photo.copy()
    read_only.flags.writeable = False
    flipped = np.ascontiguousarray(photo[::-1])
    return {
        "fortran order": (np.asfortranarray(photo), {}),
        "every second row and column": (spaced[::2, ::2], {}),
        "every second row": (np.repeat(photo, 2, axis=0)[::2], {}),
        "padded rows": (padded[:, :width], {}),
        "rows reversed": (flipped[::-1], {}),
        "channels last of a wider array": (np.dstack([np.zeros_like(photo), photo])[..., 3:], {}),
        "read-only": (read_only, {}),
        "RGBA, alpha ignored": (rgba, {"alpha": "ignore"}),
        "RGB view of RGBA": (rgba[..., :3], {}),
        "Pillow RGB": (Image.fromarray(photo), {}),
        "Pillow RGBA, alpha ignored": (Image.fromarray(rgba, "RGBA"), {"alpha": "ignore"}),
        "memoryview": (memoryview(photo), {}),
        "one row": (photo[:1], {}),
        "one column": (photo[:, :1], {}),
    }


@pytest.mark.parametrize("name", list(layouts(np.zeros((2, 2, 3), np.uint8))))
def test_every_layout_builds_the_tree_of_the_contiguous_array(sample, name):
    photo = np.ascontiguousarray(sample[40:130, 100:220])
    image, options = layouts(photo)[name]
    expected_photo = np.ascontiguousarray(np.asarray(image)[..., :3])
    expected = tavrel.Hierarchy(expected_photo)
    h = tavrel.Hierarchy(image, **options)
    assert h.colours == expected.colours
    assert np.array_equal(h.splits, expected.splits)
    for k in sorted({1, 2, 16, h.colours}):
        assert np.array_equal(h.image(k), expected.image(k)), k


def peak_allocation(build):
    tracemalloc.start()
    try:
        build()
        return tracemalloc.get_traced_memory()[1]
    finally:
        tracemalloc.stop()


def test_a_c_order_array_is_read_in_place_and_others_copied_once():
    photo = random_image(seed=3, height=1000, width=1000, levels=4)
    assert peak_allocation(lambda: tavrel.Hierarchy(photo)) < photo.nbytes // 10
    padded = np.zeros((1000, 1003, 3), np.uint8)[:, :1000]
    assert peak_allocation(lambda: tavrel.Hierarchy(padded)) < photo.nbytes // 10
    fortran = np.asfortranarray(photo)
    assert photo.nbytes <= peak_allocation(lambda: tavrel.Hierarchy(fortran)) < 2 * photo.nbytes
