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
# 600 pixels of 512 possible colours: n between 257 and 600.
SMALL = tavrel.Hierarchy(random_image(seed=1, height=20, width=30, levels=8))
N = SMALL.colours
BAD_CALLS = [
    # call, exception, message
    (lambda: tavrel.Hierarchy(None), TypeError, r"H×W×3 uint8 numpy array .*; got NoneType"),
    (lambda: tavrel.Hierarchy(RGB.astype(np.float64)), TypeError, r"float64; expected uint8"),
    (lambda: tavrel.Hierarchy([[[1, 2, 3]]]), TypeError, r"array interface .*; got list"),
    (lambda: tavrel.Hierarchy(RGB[..., 0]), ValueError, r"shape \(4, 5\), one value a pixel.*\.convert\(\"RGB\"\)"),
    (lambda: tavrel.Hierarchy(Image.new("P", (5, 4))), ValueError, r"Pillow mode \"L\" or \"P\""),
    (lambda: tavrel.Hierarchy(Image.new("RGBA", (5, 4))), ValueError, r"shape \(4, 5, 4\), 4 channels; expected 3.*alpha=\"ignore\""),
    (lambda: tavrel.Hierarchy(RGB[..., :2], alpha="ignore"), ValueError, r"2 channels; expected 3"),
    (lambda: tavrel.Hierarchy(np.zeros(12, np.uint8)), ValueError, r"shape \(12,\); expected H×W×3"),
    (lambda: tavrel.Hierarchy(RGB[None]), ValueError, r"shape \(1, 4, 5, 3\); expected H×W×3"),
    (lambda: tavrel.Hierarchy(RGB[:0]), ValueError, r"shape \(0, 5, 3\), no pixels"),
    (lambda: tavrel.Hierarchy(RGB[:, :0]), ValueError, r"no pixels"),
    (lambda: tavrel.Hierarchy(RGB, alpha="drop"), ValueError, r"alpha must be \"error\" or \"ignore\"; got \"drop\""),
    (lambda: tavrel.Hierarchy(RGB, progress=3), TypeError, r"progress must be callable .*; got int"),
    (lambda: SMALL.palette(0), ValueError, rf"k must be between 1 and {N} .*; got 0"),
    (lambda: SMALL.image(-1), ValueError, r"got -1"),
    (lambda: SMALL.indices(N + 1), ValueError, rf"between 1 and {N} .*; got {N + 1}"),
    (lambda: SMALL.to_pil(257), ValueError, r"at most 256 colours; got k = 257"),
    (lambda: SMALL.progression(0), ValueError, rf"kmax must be between 1 and {N}"),
    (lambda: SMALL.mean_delta_e(N + 1), ValueError, rf"kmax must be .*; got {N + 1}"),
    (lambda: SMALL.fewest_colours(-0.5), ValueError, r"at or above 0; got -0.5"),
    (lambda: SMALL.fewest_colours(math.nan), ValueError, r"got nan"),
    (lambda: SMALL.path_label(-1), ValueError, rf"between 0 and {N - 2} .*; got -1"),
    (lambda: SMALL.path_label(N - 1), ValueError, rf"got {N - 1}"),
    (lambda: SMALL.palette(2.5), TypeError, r"incompatible function arguments"),
    (lambda: SMALL.image(1, remap="closest"), ValueError, r"remap must be \"cluster\" or \"nearest\"; got \"closest\""),
    (lambda: SMALL.indices(1, remap="Nearest"), ValueError, r"got \"Nearest\""),
    (lambda: SMALL.to_pil(257, remap=""), ValueError, r"remap must be .*; got \"\""),
    (lambda: SMALL.fewest_colours(1.0, remap="NEAREST"), ValueError, r"remap must be"),
    (lambda: SMALL.image(1, "nearest"), TypeError, r"incompatible function arguments"),  # keyword only
]


@pytest.mark.parametrize("call, error, message", BAD_CALLS)
def test_bad_inputs_and_arguments_are_refused_with_what_was_given(call, error, message):
    with pytest.raises(error, match=message):
        call()


def test_progress_rises_to_one_and_its_exception_stops_the_build():
    photo = random_image(seed=4, height=400, width=400, levels=40)
    seen = []
    tavrel.Hierarchy(photo, progress=seen.append)
    assert seen[-1] == 1.0 and seen[0] >= 0.0 and seen == sorted(seen)

    def stop(fraction):
        if fraction > 0.0:
            raise InterruptedError(fraction)

    with pytest.raises(InterruptedError) as stopped:
        tavrel.Hierarchy(photo, progress=stop)
    assert stopped.value.args[0] < 1.0  # stopped the build, not only its last report


def test_memory_running_out_raises_memory_error():
    # In a child process whose address space ends a little above what it uses.
    code = """
import resource, numpy, tavrel
photo = numpy.random.default_rng(0).integers(0, 256, (1000, 1000, 3), dtype=numpy.uint8)
limit = int(open("/proc/self/statm").read().split()[0]) * resource.getpagesize() + (40 << 20)
resource.setrlimit(resource.RLIMIT_AS, (limit, limit))
try:
    tavrel.Hierarchy(photo)
except MemoryError as e:
    print(e)
"""
    run = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True)
    assert re.fullmatch(r"not enough memory .*\(9\d{5} distinct colours\)\n", run.stdout), run


def heap_in_use():
    """Bytes malloc has handed out and not had back, in every arena: unlike the
    resident size, blind to what the allocator keeps for later."""
    class MallInfo2(ctypes.Structure):
        _fields_ = [(f"f{i}", ctypes.c_size_t) for i in range(10)]

    libc = ctypes.CDLL(None)
    libc.mallinfo2.restype = MallInfo2
    info = libc.mallinfo2()
    return info.f7 + info.f4  # uordblks + hblkhd


def test_ctrl_c_stops_a_large_build_soon_and_leaves_nothing_behind():
    # About 260,000 colours: seconds to build, far longer than the timer.
    photo = random_image(seed=5, height=1024, width=1024, levels=64)
    sent, latencies, in_use = [], [], []
    for attempt in range(6):
        timer = threading.Timer(0.3 + 0.05 * attempt,
                                lambda: sent.append(time.monotonic()) or os.kill(os.getpid(), signal.SIGINT))
        timer.start()
        with pytest.raises(KeyboardInterrupt):
            tavrel.Hierarchy(photo)
            time.sleep(5)  # a build that outran the timer still meets it here
        latencies.append(time.monotonic() - sent[-1])
        timer.join()
        in_use.append(heap_in_use())
    # A build stopped this early holds tens of MB; none of it may stay.
    assert in_use[-1] - in_use[0] < 1 << 20, in_use
    assert max(latencies) < 0.2, latencies
    small = random_image(seed=6, height=50, width=50)
    assert tavrel.Hierarchy(small).colours == len(np.unique(small.reshape(-1, 3), axis=0))
