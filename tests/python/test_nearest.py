"""Painting by nearest colour against a brute-force search over palette(k) in
CIELAB converted here with the library's own formulas, ties included, and
its quality curve against the per-pixel mean of those images."""

import math

import numpy as np
import pytest

import tavrel
from conftest import random_image


def linear(c):
    v = c * 0.00392156862745098
    if v > 0.03928:
        return math.pow((v + 0.055) * 0.9478672985781991, 2.4) * 100.0
    return v * 0.07739938080495357 * 100.0


def lab(colour):
    """One colour as the library converts it: D65, pure black as (1, 1, 1), the
    same operations in the same order, so that equal differences stay equal."""
    r, g, b = (linear(c) for c in (colour if any(colour) else (1, 1, 1)))
    x = (0.412453 * r + 0.35758 * g + 0.180423 * b) / 95.047
    y = (0.212671 * r + 0.71516 * g + 0.072169 * b) / 100.0
    z = (0.019334 * r + 0.119193 * g + 0.950227 * b) / 108.883
    eps, slope = 0.008856451679035631, 7.787037037037037
    cbrt = lambda v: math.pow(v, 0.3333333333333333)  # noqa: E731
    L = 116.0 * cbrt(y) - 16.0 if y > eps else 903.2962962962962 * y
    fy = (L + 16.0) * 0.008620689655172414
    a = 500.0 * (cbrt(x) - fy) if x > eps else 500.0 * (slope * x - fy + 0.13793103448275862)
    b = 200.0 * (fy - cbrt(z)) if z > eps else 200.0 * (fy - 0.13793103448275862 - slope * z)
    return L, a, b


def brute_force(photo, palette):
    """Each pixel's nearest palette entry (the lower of equal ones) and its difference."""
    colours, inverse = np.unique(photo.reshape(-1, 3), axis=0, return_inverse=True)
    p = np.array([lab(tuple(int(v) for v in c)) for c in colours])[:, None, :]
    q = np.array([lab(tuple(int(v) for v in c)) for c in palette])[None, :, :]
    dL, da, db = (p[..., i] - q[..., i] for i in range(3))
    d = np.sqrt(dL * dL + da * da + db * db)
    nearest = np.argmin(d, axis=1)  # the first of equal minima
    return nearest[inverse].reshape(photo.shape[:2]), d[np.arange(len(colours)), nearest][inverse]


def test_nearest_painting_and_its_curve_equal_a_brute_force_search(sample):
    # Black and (1, 1, 1) measure alike: where both are entries, the lower wins.
    photo = np.ascontiguousarray(sample[100:140, 150:200])
    photo[::7, ::5] = 0
    photo[3::7, 2::5] = 1
    h = tavrel.Hierarchy(photo)
    n = h.colours
    curve = h.mean_delta_e(n, remap="nearest")
    ties = 0
    for k in [1, 2, 3, 16, 255, 256, 257, n - 1, n]:
        palette = h.palette(k)
        expected, differences = brute_force(photo, palette)
        indices = h.indices(k, remap="nearest")
        assert indices.dtype == (np.uint8 if k <= 256 else np.uint16), k
        assert np.array_equal(indices, expected), k
        assert np.array_equal(h.image(k, remap="nearest"), palette[expected]), k
        if k <= 256:
            assert np.array_equal(np.asarray(h.to_pil(k, remap="nearest")), expected), k
        assert curve[k - 1] == pytest.approx(differences.mean(), rel=1e-9, abs=1e-12), k
        ties += len({lab(tuple(int(v) for v in c)) for c in palette}) < k
    assert ties > 0
    for target in curve[[1, 4, n // 2]]:
        assert h.fewest_colours(target, remap="nearest") == int(np.argmax(curve <= target)) + 1
