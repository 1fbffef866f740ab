// Which implementation of the pixel loops runs: the plain rows, or the rows
// of a lane set (lanes/Lanes.h). Every lane row has a plain twin that follows
// the arithmetic literally; all of them give identical bytes, and the tests
// run every pixel test through each path the processor has.
#pragma once

enum class PixelPath {
    Plain,     // one pixel, one tap at a time, exactly as the arithmetic is written
    Baseline,  // the same sums in the same order on the lanes every processor of the architecture has:
               // SSE2 on x86 (named "baseline"), NEON on arm64 (named "neon")
    Avx2,      // the same, with 256-bit vectors, where the processor has AVX2
    Avx512,    // the same, with 512-bit vectors, where the processor has AVX-512 (F, BW, VL)
};

// The fastest path this processor runs, chosen once.
PixelPath BestPixelPath();
bool PixelPathAvailable(PixelPath path);
// The path operations take now: the best one unless a test forced another.
PixelPath ActivePixelPath();
// For tests and benchmarks; a path the processor lacks falls back to the best one below it.
void ForcePixelPath(PixelPath path);
const char* PixelPathName(PixelPath path);
