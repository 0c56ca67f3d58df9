#!/usr/bin/python3
"""The Python module against the library it wraps, in one process.

The library is called through its C interface (libtavrel.so of the same build,
loaded with ctypes: one foreign call per build or painting, so the figures are
the library's own), the module as users call it. Runs alternate between the
two (A B A B ...) and the table gives medians, with the spread of each side's
runs, so that a shared machine's drift falls on both alike.

    python_bench.py --build build --corpus path/to/photos [--runs 7]
"""

import argparse
import ctypes
import os
import statistics
import sys
import time

import numpy as np

PHOTOS = ["garden-1024x768.ppm", "ladybird-2560x1600.ppm"]
OUTPUT_FORMATS = {"rgb": 0, "index8": 2, "index16": 3, "index32": 4}


def read_ppm(path):
    with open(path, "rb") as f:
        data = f.read()
    fields = data.split(maxsplit=4)
    assert fields[0] == b"P6" and fields[3] == b"255", path
    width, height = int(fields[1]), int(fields[2])
    return np.frombuffer(fields[4][: width * height * 3], np.uint8).reshape(height, width, 3)


class Library:
    """The C interface of libtavrel.so."""

    def __init__(self, path):
        self.lib = ctypes.CDLL(path)
        self.lib.tavrel_build.argtypes = [
            ctypes.c_void_p, ctypes.c_uint32, ctypes.c_uint32, ctypes.c_size_t, ctypes.c_int,
            ctypes.c_void_p, ctypes.c_void_p, ctypes.c_uint, ctypes.POINTER(ctypes.c_void_p),
            ctypes.POINTER(ctypes.c_uint32),
        ]
        self.lib.tavrel_free.argtypes = [ctypes.c_void_p]
        self.lib.tavrel_paint.argtypes = [
            ctypes.c_void_p, ctypes.c_uint32, ctypes.c_int, ctypes.c_void_p, ctypes.c_size_t,
            ctypes.c_size_t,
        ]

    def build(self, photo):
        handle = ctypes.c_void_p()
        height, width, _ = photo.shape
        status = self.lib.tavrel_build(photo.ctypes.data, width, height, 0, 0, None, None, 0,
                                       ctypes.byref(handle), None)
        assert status == 0, status
        return handle

    def paint(self, handle, k, form, out):
        status = self.lib.tavrel_paint(handle, k, OUTPUT_FORMATS[form], out.ctypes.data,
                                       out.nbytes, 0)
        assert status == 0, status

    def free(self, handle):
        self.lib.tavrel_free(handle)


def timed(call):
    start = time.perf_counter()
    result = call()
    return time.perf_counter() - start, result


def spread(times):
    return (max(times) - min(times)) / statistics.median(times) * 100


def compare(name, library_call, module_call, runs, rows):
    """Interleaved runs of both; one row: medians, their ratio, each side's spread."""
    library, module = [], []
    for _ in range(runs):
        library.append(timed(library_call)[0])
        module.append(timed(module_call)[0])
    lib_median, mod_median = statistics.median(library), statistics.median(module)
    rows.append((name, lib_median, mod_median, mod_median / lib_median,
                 spread(library), spread(module)))
    print(f"{name:<34} library {lib_median * 1000:9.2f} ms  module {mod_median * 1000:9.2f} ms  "
          f"ratio {mod_median / lib_median:5.3f}  spread {spread(library):4.0f}% / "
          f"{spread(module):4.0f}%", flush=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", default="build")
    parser.add_argument("--corpus", required=True)
    parser.add_argument("--runs", type=int, default=7)
    parser.add_argument("--paint-runs", type=int, default=21)
    args = parser.parse_args()
    sys.path.insert(0, os.path.join(args.build, "python"))
    import tavrel

    library = Library(os.path.join(args.build, "libtavrel.so.0"))
    print(f"tavrel {tavrel.__version__}, {os.cpu_count()} cores, load average "
          f"{os.getloadavg()[0]:.1f}; medians of interleaved runs", flush=True)
    rows = []
    for photo_name in PHOTOS:
        photo = np.ascontiguousarray(read_ppm(os.path.join(args.corpus, photo_name)))
        short = photo_name.split("-")[0]

        def library_build():
            library.free(library.build(photo))

        compare(f"{short}: build", library_build, lambda: tavrel.Hierarchy(photo), args.runs,
                rows)

        handle = library.build(photo)
        h = tavrel.Hierarchy(photo)
        for k in [2, 16, 256, h.colours]:
            image = np.empty_like(photo)
            form = "index8" if k <= 256 else "index16" if k <= 65536 else "index32"
            indices = np.empty(photo.shape[:2], np.dtype({"index8": np.uint8, "index16": np.uint16,
                                                         "index32": np.uint32}[form]))
            assert np.array_equal(h.image(k), (library.paint(handle, k, "rgb", image), image)[1])
            compare(f"{short}: image({k})", lambda: library.paint(handle, k, "rgb", image),
                    lambda: h.image(k), args.paint_runs, rows)
            compare(f"{short}: indices({k})", lambda: library.paint(handle, k, form, indices),
                    lambda: h.indices(k), args.paint_runs, rows)
        library.free(handle)

    print()
    print("| photo: call | library | module | module / library | spread (library / module) |")
    print("|---|---:|---:|---:|---:|")
    for name, lib_time, mod_time, ratio, lib_spread, mod_spread in rows:
        print(f"| {name} | {lib_time * 1000:.2f} ms | {mod_time * 1000:.2f} ms | {ratio:.3f} | "
              f"{lib_spread:.0f} % / {mod_spread:.0f} % |")


if __name__ == "__main__":
    main()
