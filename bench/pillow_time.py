"""Times Pillow operations in-process on one picture: the operation alone,
median of REPEAT runs, in milliseconds on standard output.

    /usr/bin/python3 pillow_time.py IN.ppm OPERATION ARG... REPEAT
      reduce FACTOR                 Image.reduce: its integer box average
      resize FILTER WIDTH HEIGHT    Image.resize with box, bilinear, bicubic or lanczos
      boxblur RADIUS                ImageFilter.BoxBlur: a running sum
      translate DX DY               Image.transform, AFFINE, bilinear: the picture moved by DX, DY

BENCH_CLOCK=cpu times the process's CPU time instead of the wall clock.
Run by bench/peers.sh with the single-thread and allocator settings of the comparison.
"""
import os
import statistics
import sys
import time

from PIL import Image, ImageFilter

FILTERS = {
    "box": Image.Resampling.BOX,
    "bilinear": Image.Resampling.BILINEAR,
    "bicubic": Image.Resampling.BICUBIC,
    "lanczos": Image.Resampling.LANCZOS,
}


def operation(image, name, args):
    if name == "reduce":
        factor = int(args[0])
        return lambda: image.reduce(factor)
    if name == "resize":
        kernel, size = FILTERS[args[0]], (int(args[1]), int(args[2]))
        return lambda: image.resize(size, kernel)
    if name == "boxblur":
        kernel = ImageFilter.BoxBlur(float(args[0]))
        return lambda: image.filter(kernel)
    if name == "translate":
        # Output pixel (x, y) reads input (x - DX, y - DY): the picture moves by DX, DY.
        matrix = (1, 0, -float(args[0]), 0, 1, -float(args[1]))
        return lambda: image.transform(image.size, Image.Transform.AFFINE, matrix, Image.Resampling.BILINEAR)
    raise SystemExit(f"pillow_time: unknown operation {name}")


def main():
    if len(sys.argv) < 4:
        raise SystemExit("usage: pillow_time.py IN OPERATION ARG... REPEAT")
    image = Image.open(sys.argv[1]).convert("RGB")
    image.load()
    run = operation(image, sys.argv[2], sys.argv[3:-1])
    clock = time.process_time if os.environ.get("BENCH_CLOCK") == "cpu" else time.perf_counter
    times = []
    result = None
    for _ in range(int(sys.argv[-1])):
        result = None  # freed before the next call, so that it can reuse the memory
        start = clock()
        result = run()
        times.append((clock() - start) * 1000)
    print(f"{statistics.median(times):.3f}")


main()
