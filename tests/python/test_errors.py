"""What the module refuses and how a build stops: bad inputs and arguments
with their exception types and messages, the progress callback, memory
running out, and Ctrl-C during a large build."""

import ctypes
import math
import os
import re
import signal
import subprocess
import sys
import threading
import time

import numpy as np
import pytest
from PIL import Image

import tavrel
from conftest import random_image

RGB = np.zeros((4, 5, 3), np.uint8)

BAD_IMAGES = [
    # image, options, exception, message
    (None, {}, TypeError, r"H×W×3 uint8 numpy array .*; got NoneType"),
    ("photo.png", {}, TypeError, r"got str"),
    (RGB.astype(np.float64), {}, TypeError, r"dtype float64; expected uint8"),
    (RGB.astype(np.uint16), {}, TypeError, r"dtype uint16; expected uint8"),
    ([[[1, 2, 3]]], {}, TypeError, r"array interface .*; got list"),
    (Image.new("I;16", (3, 2)), {}, TypeError, r"expected uint8"),
    (RGB[..., 0], {}, ValueError, r"shape \(4, 5\), one value a pixel.*\.convert\(\"RGB\"\)"),
    (Image.new("L", (5, 4)), {}, ValueError, r"shape \(4, 5\).*\.convert\(\"RGB\"\)"),
    (Image.new("P", (5, 4)), {}, ValueError, r"Pillow mode \"L\" or \"P\""),
    (np.zeros((4, 5, 4), np.uint8), {}, ValueError, r"shape \(4, 5, 4\), 4 channels; expected 3.*alpha=\"ignore\""),
    (Image.new("RGBA", (5, 4)), {}, ValueError, r"4 channels.*alpha=\"ignore\""),
    (np.zeros((4, 5, 2), np.uint8), {}, ValueError, r"2 channels; expected 3"),
    (np.zeros((4, 5, 2), np.uint8), {"alpha": "ignore"}, ValueError, r"2 channels; expected 3"),
    (np.zeros(12, np.uint8), {}, ValueError, r"shape \(12,\); expected H×W×3"),
    (np.zeros((2, 2, 2, 3), np.uint8), {}, ValueError, r"shape \(2, 2, 2, 3\); expected H×W×3"),
    (np.zeros((0, 5, 3), np.uint8), {}, ValueError, r"shape \(0, 5, 3\), no pixels"),
    (np.zeros((4, 0, 3), np.uint8), {}, ValueError, r"no pixels"),
    (RGB, {"alpha": "drop"}, ValueError, r"alpha must be \"error\" or \"ignore\"; got \"drop\""),
    (RGB, {"progress": 3}, TypeError, r"progress must be callable .*; got int"),
]


@pytest.mark.parametrize("image, options, error, message", BAD_IMAGES)
def test_bad_images_are_refused_with_what_was_given(image, options, error, message):
    with pytest.raises(error, match=message):
        tavrel.Hierarchy(image, **options)


@pytest.fixture(scope="module")
def small():
    return tavrel.Hierarchy(random_image(seed=1, height=20, width=30, levels=6))


def test_bad_arguments_are_refused_with_the_range(small):
    n = small.colours
    calls = [
        (lambda: small.palette(0), ValueError, rf"k must be between 1 and {n} .*; got 0"),
        (lambda: small.palette(n + 1), ValueError, rf"got {n + 1}"),
        (lambda: small.image(-1), ValueError, r"got -1"),
        (lambda: small.indices(n + 1), ValueError, rf"between 1 and {n}"),
        (lambda: small.to_pil(0), ValueError, r"got 0"),
        (lambda: small.progression(0), ValueError, rf"kmax must be between 1 and {n}"),
        (lambda: small.mean_delta_e(n + 1), ValueError, rf"kmax must be .*; got {n + 1}"),
        (lambda: small.fewest_colours(-0.5), ValueError, r"at or above 0; got -0.5"),
        (lambda: small.fewest_colours(math.nan), ValueError, r"got nan"),
        (lambda: small.path_label(-1), ValueError, rf"between 0 and {n - 2} .*; got -1"),
        (lambda: small.path_label(n - 1), ValueError, rf"got {n - 1}"),
        (lambda: small.palette(2.5), TypeError, r"incompatible function arguments"),
        (lambda: small.image("3"), TypeError, r"incompatible function arguments"),
    ]
    for call, error, message in calls:
        with pytest.raises(error, match=message):
            call()


def test_to_pil_refuses_more_than_256_colours():
    h = tavrel.Hierarchy(random_image(seed=2, height=40, width=40, levels=16))
    with pytest.raises(ValueError, match=r"at most 256 colours; got k = 257"):
        h.to_pil(257)


def test_progress_rises_to_one_and_its_exception_stops_the_build():
    photo = random_image(seed=4, height=400, width=400, levels=40)
    seen = []
    tavrel.Hierarchy(photo, progress=seen.append)
    assert seen[-1] == 1.0 and all(0.0 <= f <= 1.0 for f in seen)
    assert seen == sorted(seen)

    class Stop(Exception):
        pass

    def stop(fraction):
        if fraction > 0.0:
            raise Stop(fraction)

    with pytest.raises(Stop) as stopped:
        tavrel.Hierarchy(photo, progress=stop)
    assert stopped.value.args[0] < 1.0  # stopped the build, not only its last report


def test_memory_running_out_raises_memory_error():
    # In a child process whose address space ends a little above what it uses.
    code = """
import resource, numpy, tavrel
photo = numpy.random.default_rng(0).integers(0, 256, (1000, 1000, 3), dtype=numpy.uint8)
with open("/proc/self/statm") as f:
    limit = int(f.read().split()[0]) * resource.getpagesize() + (40 << 20)
resource.setrlimit(resource.RLIMIT_AS, (limit, limit))
try:
    tavrel.Hierarchy(photo)
except MemoryError as e:
    print(e)
"""
    run = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True)
    assert run.returncode == 0, run.stderr
    assert re.fullmatch(r"not enough memory .*\(9\d{5} distinct colours\)\n", run.stdout)


class MallInfo2(ctypes.Structure):
    _fields_ = [(name, ctypes.c_size_t) for name in (
        "arena", "ordblks", "smblks", "hblks", "hblkhd", "usmblks", "fsmblks", "uordblks",
        "fordblks", "keepcost")]


def heap_in_use():
    """Bytes malloc has handed out and not had back, in every arena: unlike the
    resident size, blind to what the allocator keeps for later."""
    libc = ctypes.CDLL(None)
    libc.mallinfo2.restype = MallInfo2
    info = libc.mallinfo2()
    return info.uordblks + info.hblkhd


def test_ctrl_c_stops_a_large_build_soon_and_leaves_nothing_behind():
    # About 260,000 colours: seconds to build, far longer than the timer.
    photo = random_image(seed=5, height=1024, width=1024, levels=64)
    sent = []

    def interrupt():
        sent.append(time.monotonic())
        os.kill(os.getpid(), signal.SIGINT)

    latencies, in_use = [], []
    for attempt in range(6):
        sent.clear()
        timer = threading.Timer(0.3 + 0.05 * attempt, interrupt)
        timer.start()
        with pytest.raises(KeyboardInterrupt):
            tavrel.Hierarchy(photo)
            time.sleep(5)  # a build that outran the timer still meets it here
        latencies.append(time.monotonic() - sent[0])
        timer.join()
        in_use.append(heap_in_use())
    # A build stopped this early holds tens of MB; none of it may stay.
    assert in_use[-1] - in_use[0] < 1 << 20, in_use
    assert max(latencies) < 0.2, latencies
    small = random_image(seed=6, height=50, width=50)
    assert tavrel.Hierarchy(small).colours == len(np.unique(small.reshape(-1, 3), axis=0))
