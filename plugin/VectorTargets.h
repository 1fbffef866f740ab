// The instruction sets of the wider pixel paths, as function attributes.
// Code compiled for one of them runs only where ActivePixelPath() has found
// it on the processor, so the module itself runs on any x86 processor.
#pragma once

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>

#define ZPX_TARGET_AVX2 __attribute__((target("avx2")))
#define ZPX_TARGET_AVX512 __attribute__((target("avx512f,avx512bw,avx512vl")))
// For templates over lane operations: they must end up inside the function
// of their instruction set (flattened there), never as a function of their own.
#define ZPX_LANE_INLINE inline __attribute__((always_inline))
#endif
