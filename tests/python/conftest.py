"""Shared inputs of the Python tests: the sample photo, its hierarchy, and the
command line's dumps of it, made once per test file."""

import os
import subprocess

import numpy as np
import pytest
from PIL import Image

import tavrel


def read_ppm(path):
    with Image.open(path) as image:
        return np.asarray(image)


def random_image(seed, height, width, levels=256):
    """Random pixels with `levels` values a channel: few levels, few colours."""
    rng = np.random.default_rng(seed)
    values = rng.integers(0, levels, size=(height, width, 3)) * (255 // max(levels - 1, 1))
    return values.astype(np.uint8)


def run_binary(folder, *options):
    """The command line on the sample photo in `folder`, its dumps named *_sample.ppm."""
    os.symlink(os.environ["TAVREL_SAMPLE"], folder / "input.ppm")
    command = [os.environ["TAVREL_BINARY"], *options, "input.ppm", "sample"]
    return subprocess.run(command, cwd=folder, capture_output=True, text=True, check=True).stdout


@pytest.fixture(scope="module")
def sample():
    return read_ppm(os.environ["TAVREL_SAMPLE"])


@pytest.fixture(scope="module")
def sample_tree(sample):
    return tavrel.Hierarchy(sample)


@pytest.fixture(scope="module")
def sample_dumps(tmp_path_factory):
    """dump k of `tavrel -C256` on the sample photo, by k."""
    folder = tmp_path_factory.mktemp("dumps")
    run_binary(folder, "-Q0", "-C256")
    return {k: read_ppm(folder / f"dump{k}_sample.ppm") for k in range(2, 257)}
