// Which implementation of the pixel loops runs. Every fast path has a plain
// twin that follows the arithmetic literally; both give identical bytes, and
// the tests run every pixel test through each of them.
#pragma once

enum class PixelPath {
    Plain,   // one pixel, one tap at a time, exactly as the arithmetic is written
    Vector,  // the same sums in the same order, several channels and pixels at once
};

PixelPath ActivePixelPath();
// For tests and benchmarks: run the given path from now on.
void ForcePixelPath(PixelPath path);
