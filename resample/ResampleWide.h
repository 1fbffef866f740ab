// The AVX2 and AVX-512 forms of the two resampling passes (ResampleWide.cpp).
// They give the plain passes' bytes: the same products, added in the same
// order per accumulator; only pixels and channels run side by side.
#pragma once

#include <cstdint>

#include "plugin/PixelPath.h"

class PictureReader;
class PictureWriter;
struct ContributionList;
struct YieldData;

// False, with nothing done, when the path has no wide form or a working table
// cannot be allocated: the caller then runs the baseline or plain pass.
bool ResampleRowsWide(PixelPath path, PictureReader& reader, const ContributionList* lists, uint32_t* buffer,
                      int32_t width);
bool ResampleColumnsWide(PixelPath path, PictureWriter& writer, const ContributionList* lists,
                         const uint32_t* buffer, int32_t width, YieldData& yieldRecord);

// Dividing by a list's weightSum, the step that ends every accumulator, is
// replaced by a multiplication with its reciprocal where that is proven to
// give the same channel. Exposed for the tests.
struct Normaliser {
    double weightSum;   // the list's weightSum, widened
    double reciprocal;  // 1 / weightSum, rounded
    bool exact;         // weightSum is a power of two: the product equals the quotient
    bool usable;        // finite, and far from under- and overflow: the bound below holds
};
Normaliser NormaliserFor(float weightSum);
// NormalisedChannel(accumulator, weightSum) through the reciprocal: the product
// is checked to lie far enough from every step of the truncation, else the
// quotient is formed.
uint32_t NormalisedChannelByReciprocal(double accumulator, const Normaliser& normaliser);
