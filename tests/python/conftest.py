"""Shared inputs of the Python tests: the sample photo, its hierarchy, and the
command line's dumps of it, made once per test file."""

import os
import subprocess

import numpy as np
import pytest

import tavrel


def read_ppm(path):
    """A raw P6 file with maximum value 255 as an H x W x 3 uint8 array."""
    with open(path, "rb") as f:
        data = f.read()
    fields, pos = [], 0
    while len(fields) < 4:
        while data[pos : pos + 1].isspace():
            pos += 1
        if data[pos : pos + 1] == b"#":
            pos = data.index(b"\n", pos)
            continue
        end = pos
        while not data[end : end + 1].isspace():
            end += 1
        fields.append(data[pos:end])
        pos = end
    assert fields[0] == b"P6" and fields[3] == b"255", path
    width, height = int(fields[1]), int(fields[2])
    body = data[pos + 1 : pos + 1 + width * height * 3]
    return np.frombuffer(body, np.uint8).reshape(height, width, 3)


def random_image(seed, height, width, levels=256):
    """Random pixels with `levels` values a channel: few levels, few colours."""
    rng = np.random.default_rng(seed)
    values = rng.integers(0, levels, size=(height, width, 3)) * (255 // max(levels - 1, 1))
    return values.astype(np.uint8)


@pytest.fixture(scope="module")
def sample():
    return read_ppm(os.environ["TAVREL_SAMPLE"])


@pytest.fixture(scope="module")
def sample_tree(sample):
    return tavrel.Hierarchy(sample)


@pytest.fixture(scope="module")
def sample_dumps(sample, tmp_path_factory):
    """dump k of `tavrel -C256` on the sample photo, by k."""
    folder = tmp_path_factory.mktemp("dumps")
    os.symlink(os.environ["TAVREL_SAMPLE"], folder / "input.ppm")
    run = subprocess.run(
        [os.environ["TAVREL_BINARY"], "-Q0", "-C256", "input.ppm", "sample"],
        cwd=folder,
        capture_output=True,
    )
    assert run.returncode == 0, run.stderr
    return {k: read_ppm(folder / f"dump{k}_sample.ppm") for k in range(2, 257)}
