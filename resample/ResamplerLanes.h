// ScalingZPX's passes on lanes (ResamplerLanes.cpp): the same sums as the
// plain rows of ResamplerPixels.h, in the same order per accumulator; what
// runs side by side is channels, pixels and rows, never the taps of one sum.
#pragma once

#include <cstdint>

#include "lanes/PixelPath.h"
#include "picture/CBuffer.h"
#include "resample/ResamplerPixels.h"

using ResampleRowHFunction = void (*)(const ResampleRowHArgs&);
using ResampleRowVFunction = void (*)(const ResampleRowVArgs&);

// The lane rows for a path and the views' formats; null on the plain path,
// for a format no view carries, and where the processor has no lane set.
ResampleRowHFunction ResampleRowHLanes(PixelPath path, int32_t sourceFormat);
ResampleRowVFunction ResampleRowVLanes(PixelPath path, int32_t destinationFormat);

// Dividing by a list's weightSum, the step that ends every accumulator, is
// replaced by a multiplication with its reciprocal where that is proven to
// give the same channel.
struct Normaliser {
    double weightSum;   // the list's weightSum, widened
    double reciprocal;  // 1 / weightSum, rounded
    bool exact;         // weightSum is a power of two: the product equals the quotient
    bool usable;        // finite and not 0: the error bound below holds
};
Normaliser NormaliserFor(float weightSum);
// NormalisedChannel(accumulator, weightSum) as the lanes compute it, for the tests.
uint32_t NormalisedChannelByReciprocal(double accumulator, const Normaliser& normaliser);

// What the horizontal lane row needs beyond the lists, made once per call.
// Destination columns go in groups of kGroup, whose taps run side by side:
// each column's taps are dense from its first source pixel on, as many in
// every column of a group (a pixel the list leaves out, a tap of weight 0 and
// the taps past a list's last pixel weigh +0.0, which leaves a sum
// unchanged), their weights widened to double and laid out tap by tap, the
// group's columns side by side. With them go each column's normaliser and
// room for the decoded source pixels of a stretch of the row.
class ResampleLaneTables {
public:
    // False when a table cannot be had: the plain rows run then.
    bool Build(const ContributionList* lists, int32_t width, int32_t sourceWidth);

    static constexpr int32_t kGroup = 8;
    struct Column {
        int32_t firstPixel;  // the source pixel of the first tap
        Normaliser normaliser;
    };
    struct Group {
        int64_t first;  // index of the group's first weight
        int32_t taps;   // taps of each column
    };
    // Stretches of whole groups whose source pixels fit the decoded buffer together.
    struct Stretch {
        int32_t firstColumn, endColumn;  // destination columns, whole groups but the last
        int32_t firstPixel, endPixel;    // the source pixels their taps read
    };

    const Column* columns = nullptr;  // padded with black columns to whole groups
    const Group* groups = nullptr;
    const double* weights = nullptr;
    const Stretch* stretches = nullptr;
    int32_t stretchCount = 0;
    int32_t* decoded = nullptr;  // 8 ints per source pixel: two rows, four channels

private:
    CBuffer<Column> columns_;
    CBuffer<Group> groups_;
    CBuffer<double> weights_;
    CBuffer<Stretch> stretches_;
    CBuffer<uint8_t> decoded_;
};
