// BlurZPX's rows on lanes (BlurLanes.cpp). They compute the same two
// truncated averages per channel as the plain rows, on integer lanes, several
// pixels per instruction. The lanes are the four bytes of a pixel in memory
// order, so the rows need no layout; the fourth byte is averaged too and then
// overwritten, as the plain rows overwrite it.
//
// Why the sums are the plain sums: every window sum is at most 255 (2r + 1),
// and integer sums are exact in any order (the horizontal pass forms them as
// running prefix sums modulo the lane width, whose results are the true sums
// because those fit the lane). Up to kLargestLaneRadius the sums fit 16-bit
// lanes and each quotient comes from one multiply (Divide16); larger radii
// up to kLargestWideLaneRadius take 32-bit lanes, whose quotients come from one
// multiply in single precision (see WideDivide).
#pragma once

#include <cmath>
#include <cstdint>

#include "effects/BlurPixels.h"
#include "lanes/Divisors.h"
#include "lanes/PixelPath.h"

// 255 * (2 * 128 + 1) = 65535: the largest radius whose sums fit 16 bits.
constexpr int32_t kLargestLaneRadius = 128;
// The largest radius of the 32-bit lanes, which WideDivide needs; larger
// radii take the plain passes.
constexpr int32_t kLargestWideLaneRadius = 8191;

// floor(n / span) for every sum 0 <= n < 256 span the quotient table holds,
// of an odd span up to 2 kLargestWideLaneRadius + 1, as the lanes compute it: n times
// the float just at or above 1 / span, truncated. n < 2^22 is a float. The
// product is at least n / span and less than (n / span)(1 + 2^-23), so an
// exact quotient k stays k (k is a float and rounding to nearest never falls
// below it); otherwise n / span <= k - 1 / span with k <= 256, and the excess
// (under 2^-15) plus half a float step near k (at most 2^-17) stays below
// 1 / span >= 2^-14, so truncation gives k - 1. The quotient never falls as
// n grows, so the unit tests prove every n by checking both sides of every
// multiple of every such span.
inline float WideReciprocal(int32_t span) {
    float reciprocal = 1.0f / static_cast<float>(span);
    // float times int32 is exact in double: 24 + 15 bits.
    if (static_cast<double>(reciprocal) * span < 1.0) reciprocal = std::nextafter(reciprocal, 2.0f);
    return reciprocal;
}

inline uint32_t WideDivide(uint32_t n, float reciprocal) {
    return static_cast<uint32_t>(static_cast<float>(n) * reciprocal);
}

// Bytes of zero-filled working memory the lane rows take for a source width and radius.
int64_t BlurLaneBytes(int32_t width, int32_t r, bool yielding);

// The lane rows of `path` for radius r; null members on the plain path, for
// radii beyond kLargestWideLaneRadius, and where the processor has no lane
// set. They need 4 bytes per pixel on both sides and red, green and blue at
// the same bytes of source and result pixels. While yielding, host code may
// draw into the source between a row's entering and leaving the window, and
// a sum may then leave the range of a window (QuotientOf): the 32-bit lanes,
// which give such sums what the plain rows give, serve every radius then.
BlurRows BlurLaneRows(PixelPath path, int32_t r, bool yielding);
