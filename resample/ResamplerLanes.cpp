// ScalingZPX's rows on lanes (see ResamplerLanes.h).
//
// Horizontal: two source rows at a time. A stretch of each is decoded once to
// 32-bit integers, eight per source pixel: the pixel's four bytes in row k,
// then in row k + 1, the fourth cleared (it is never read). A vector of
// doubles then holds destination pixels of both rows, so every weight load
// serves two rows: per tap it converts the pixel's integers (exactly) and adds
// their product with the widened weight. An 8-bit channel times a float
// weight is exact in double, so each product equals the plain one, and each
// accumulator adds them in the stored order. Several destination columns are
// summed at once to keep the adders busy; their channels, rounded and
// narrowed to bytes, are moved into the intermediate word's order at the end.
//
// Vertical: a vector of columns per channel; each product is formed in float
// and widened before it is added, as in the plain pass, and the taps of the
// list walk the intermediate buffer row by row.
//
// Both end by multiplying with the list's reciprocal instead of dividing
// (see NormaliseLanes), and take the quotient where that is not proven to
// give the same channel.
#include "resample/ResamplerLanes.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "lanes/Lanes.h"

namespace {

// Error bound of the reciprocal: with u = 2^-53, the product acc * fl(1/d)
// and the quotient fl(acc/d) differ by at most 3u|acc/d|, and adding 0.5
// rounds each by at most u|result|; for results in -0.5 .. 256.5 that is
// below 2^-41.9. Whenever the margin 2^-40 around the product holds no step
// of the truncation, the quotient has the same truncation.
constexpr double kReciprocalMargin = 1.0 / 1099511627776.0;

// Source pixels decoded at a time: 16 KiB of integers, which stay in the
// first-level cache while their taps are summed.
constexpr int32_t kStretchPixels = 512;
constexpr int32_t kDecodedInts = 8;
constexpr int64_t kCacheLine = 64;
// Intermediate rows a result row fetches ahead for the next, at most.
constexpr int32_t kLargestFetch = 32;
// Room past the decoded pixels for a whole last vector of any set.
constexpr int64_t kDecodedSlack = 256;

}  // namespace

Normaliser NormaliserFor(float weightSum) {
    Normaliser normaliser;
    normaliser.weightSum = static_cast<double>(weightSum);
    // Every non-zero float lies between 2^-149 and 2^128, so the product
    // neither overflows nor leaves the normal doubles.
    normaliser.usable = weightSum != 0.0f && std::isfinite(weightSum);
    normaliser.reciprocal = normaliser.usable ? 1.0 / normaliser.weightSum : 0.0;
    int exponent = 0;
    normaliser.exact = normaliser.usable && std::fabs(std::frexp(normaliser.weightSum, &exponent)) == 0.5;
    return normaliser;
}

uint32_t NormalisedChannelByReciprocal(double accumulator, const Normaliser& normaliser) {
    const float weightSum = static_cast<float>(normaliser.weightSum);
    if (!normaliser.usable) return NormalisedChannel(accumulator, weightSum);
    const double value = accumulator * normaliser.reciprocal + 0.5;
    if (!normaliser.exact && std::floor(value + kReciprocalMargin) > value - kReciprocalMargin) {
        return NormalisedChannel(accumulator, weightSum);
    }
    // The lanes truncate min(255, value) and clamp below at 0, NaN included.
    return !(value > 0.0) ? 0 : static_cast<uint32_t>(std::min(255.0, value));
}

// ---- the tables of the horizontal row ----

bool ResampleLaneTables::Build(const ContributionList* source, int32_t width, int32_t sourceWidth) {
    const int32_t padded = (width + kGroup - 1) / kGroup * kGroup;
    columns_ = AllocateZeroed<Column>(padded);
    groups_ = AllocateZeroed<Group>(padded / kGroup);
    stretches_ = AllocateZeroed<Stretch>(padded / kGroup);
    if (!columns_ || !groups_ || !stretches_) return false;

    // Each column's dense span; a list whose taps all weigh 0 gives black, as an empty one does.
    int64_t total = 0;
    for (int32_t group = 0; group < padded; group += kGroup) {
        int32_t first = sourceWidth, end = 0;
        int32_t span[kGroup] = {};
        for (int32_t c = 0; c < kGroup; ++c) {
            const int32_t i = group + c;
            Column& column = columns_[i];
            column = Column{-1, NormaliserFor(i < width ? source[i].weightSum : 0.0f)};
            if (i >= width) continue;
            const ContributionList& list = source[i];
            bool anyWeight = false;
            for (int32_t t = 0; t < list.count; ++t) anyWeight = anyWeight || list.entries[t].weight != 0.0f;
            if (!anyWeight) continue;
            column.firstPixel = list.entries[0].pixel;
            span[c] = list.entries[list.count - 1].pixel - column.firstPixel + 1;
            first = std::min(first, column.firstPixel);
        }
        int32_t taps = 0;
        for (int32_t c = 0; c < kGroup; ++c) taps = std::max(taps, span[c]);
        if (taps == 0) first = 0;
        for (int32_t c = 0; c < kGroup; ++c) {
            if (columns_[group + c].firstPixel < 0) columns_[group + c].firstPixel = first;
            end = std::max(end, columns_[group + c].firstPixel + taps);
        }
        groups_[group / kGroup] = Group{total, taps};
        total += static_cast<int64_t>(taps) * kGroup;
        stretches_[group / kGroup] = Stretch{group, std::min(group + kGroup, width), first, taps == 0 ? first : end};
    }
    weights_ = AllocateZeroed<double>(std::max<int64_t>(total, 1));
    if (!weights_) return false;
    for (int32_t i = 0; i < width; ++i) {
        const ContributionList& list = source[i];
        const Group& group = groups_[i / kGroup];
        double* weights = weights_.get() + group.first + i % kGroup;
        for (int32_t t = 0; t < list.count; ++t) {
            const int64_t tap = list.entries[t].pixel - columns_[i].firstPixel;
            if (tap >= 0 && tap < group.taps) weights[tap * kGroup] = static_cast<double>(list.entries[t].weight);
        }
    }

    // Stretches: whole groups while the source pixels their taps read fit
    // kStretchPixels; a group alone may read more.
    stretchCount = 0;
    int32_t widest = 0;
    for (int32_t g = 0; g < padded / kGroup; ++g) {
        const Stretch next = stretches_[g];
        if (stretchCount > 0) {
            Stretch& last = stretches_[stretchCount - 1];
            const int32_t mergedFirst = std::min(last.firstPixel, next.firstPixel);
            const int32_t mergedEnd = std::max(last.endPixel, next.endPixel);
            if (mergedEnd - mergedFirst <= kStretchPixels) {
                last = Stretch{last.firstColumn, next.endColumn, mergedFirst, mergedEnd};
                widest = std::max(widest, mergedEnd - mergedFirst);
                continue;
            }
        }
        stretches_[stretchCount++] = next;
        widest = std::max(widest, next.endPixel - next.firstPixel);
    }
    // A group's zero-weight taps may reach past the last source pixel: they
    // read whatever finite values the buffer holds there, and nothing past
    // the row is decoded.
    for (int32_t i = 0; i < stretchCount; ++i) stretches_[i].endPixel = std::min(stretches_[i].endPixel, sourceWidth);
    decoded_ = AllocateZeroedBytes<uint8_t>(static_cast<int64_t>(widest) * kDecodedInts * 4 + kDecodedSlack + 64);
    if (!decoded_) return false;
    const uintptr_t address = reinterpret_cast<uintptr_t>(decoded_.get());
    decoded = reinterpret_cast<int32_t*>((address + 63) & ~static_cast<uintptr_t>(63));
    columns = columns_.get();
    groups = groups_.get();
    weights = weights_.get();
    stretches = stretches_.get();
    return true;
}

namespace {

// ---- dividing by weightSum, on lanes ----

// accumulator * reciprocal + 0.5 (or the quotient's value), at most 255 with
// NaN kept: truncated, and narrowed with saturation or clamped, every lane
// then gives the plain channel (NaN and values below 0 truncate to 0 or to
// the integer minimum, both 0 once clamped).
template <class Set>
ZPX_LANES_INLINE typename Set::Doubles ClampedValue(typename Set::Doubles value) {
    return Set::Min(Set::Splat(255.0), value);
}

template <class Set>
ZPX_LANES_INLINE typename Set::Doubles ByReciprocal(typename Set::Doubles accumulator, const Normaliser& normaliser) {
    return Set::Add(Set::Mul(accumulator, Set::Splat(normaliser.reciprocal)), Set::Splat(0.5));
}

template <class Set>
ZPX_LANES_INLINE typename Set::Doubles ByQuotient(typename Set::Doubles accumulator, const Normaliser& normaliser) {
    return Set::Add(Set::Div(accumulator, Set::Splat(normaliser.weightSum)), Set::Splat(0.5));
}

// Whether a step of the truncation lies within the margin of a lane's value.
// Beyond the 32-bit range the baseline set's Floor is not exact, but no step
// lies there: every such value clamps alike either way.
template <class Set>
ZPX_LANES_INLINE bool NearAStep(typename Set::Doubles value) {
    const typename Set::Doubles margin = Set::Splat(kReciprocalMargin);
    return Set::AnyGreater(Set::Floor(Set::Add(value, margin)), Set::Sub(value, margin));
}

// Values of accumulators that share one list each (lists[k] for accumulator
// k / perList): by the reciprocal where every list's is proven right, else
// by the quotients.
template <class Set, int N, int PerList>
ZPX_LANES_INLINE void Normalise(const typename Set::Doubles (&accumulators)[N],
                                const Normaliser* const (&lists)[N / PerList], typename Set::Doubles (&values)[N]) {
    bool quotients = false;
#pragma GCC unroll 16
    for (int k = 0; k < N / PerList; ++k) quotients = quotients || !lists[k]->usable;
    if (!quotients) {
        bool exact = true;
#pragma GCC unroll 16
        for (int k = 0; k < N / PerList; ++k) exact = exact && lists[k]->exact;
        bool near = false;
#pragma GCC unroll 16
        for (int k = 0; k < N; ++k) {
            values[k] = ByReciprocal<Set>(accumulators[k], *lists[k / PerList]);
            if (!exact) near = near | NearAStep<Set>(values[k]);
        }
        if (!near) {
#pragma GCC unroll 16
            for (int k = 0; k < N; ++k) values[k] = ClampedValue<Set>(values[k]);
            return;
        }
    }
#pragma GCC unroll 16
    for (int k = 0; k < N; ++k) values[k] = ClampedValue<Set>(ByQuotient<Set>(accumulators[k], *lists[k / PerList]));
}

// ---- horizontal ----

// Two source rows' pixels [from, to): each pixel's bytes in memory order, the
// fourth cleared, in row k and then in row k + 1.
template <class Set, class Source>
ZPX_LANES_INLINE void DecodePixels(const uint8_t* const (&rows)[2], int32_t from, int32_t to, int32_t* out) {
    using Ints = typename Set::Ints;
    constexpr int32_t kPixels = Set::kInts / 4;
    int32_t keepLanes[4] = {-1, -1, -1, -1};
    keepLanes[Source::fourthShift / 8] = 0;
    const Ints keep = Set::template BroadcastPixel<32>(keepLanes);
    auto decode = [&](const uint8_t* first, const uint8_t* second, int32_t* at) __attribute__((always_inline)) {
        Ints a, b;
        Set::WidenPixelPairs(first, second, a, b);
        Set::StoreInts(at, Set::And(a, keep));
        Set::StoreInts(at + Set::kInts, Set::And(b, keep));
    };
    int32_t j = from;
    for (; j + kPixels <= to; j += kPixels, out += kPixels * kDecodedInts) {
        decode(rows[0] + static_cast<ptrdiff_t>(j) * 4, rows[1] + static_cast<ptrdiff_t>(j) * 4, out);
    }
    if (j < to) {  // the last pixels of the stretch: nothing past the row is read
        uint8_t tail[2][Set::kInts] = {};
        for (int r = 0; r < 2; ++r)
            memcpy(tail[r], rows[r] + static_cast<ptrdiff_t>(j) * 4, static_cast<size_t>(to - j) * 4);
        decode(tail[0], tail[1], out);
    }
}

template <class Set>
ZPX_LANES_INLINE void AddTap(typename Set::Doubles (&sums)[8 / Set::kDoubles], const int32_t* pixel, double weight) {
    const typename Set::Doubles weights = Set::Splat(weight);
#pragma GCC unroll 16
    for (int part = 0; part < 8 / Set::kDoubles; ++part) {
        sums[part] = Set::Add(sums[part], Set::Mul(Set::LoadIntsAsDoubles(pixel + part * Set::kDoubles), weights));
    }
}

// Destination columns [column, column + kColumns) of both rows, from the
// decoded pixels of a stretch that starts at source pixel `decodedFrom`.
template <class Set, class Source>
ZPX_LANES_INLINE void SumColumns(const ResampleLaneTables& tables, int32_t column, int32_t decodedFrom,
                                 const ResampleRowHArgs& row) {
    using Doubles = typename Set::Doubles;
    constexpr int kParts = 8 / Set::kDoubles;  // vectors per destination pixel of both rows
    // Destination pixels summed side by side: eight vectors of sums in all.
    constexpr int kColumns = Set::kBytes / 8;
    constexpr int kInts = kColumns * 8 / Set::kInts;  // vectors of truncated channels
    const ResampleLaneTables::Column* columns = tables.columns + column;
    const ResampleLaneTables::Group& group = tables.groups[column / ResampleLaneTables::kGroup];
    const double* weights = tables.weights + group.first + column % ResampleLaneTables::kGroup;
    Doubles sums[kColumns][kParts];
    const int32_t* pixels[kColumns];
#pragma GCC unroll 16
    for (int c = 0; c < kColumns; ++c) {
#pragma GCC unroll 16
        for (int part = 0; part < kParts; ++part) sums[c][part] = Set::Splat(0.0);
        pixels[c] = tables.decoded + static_cast<ptrdiff_t>(columns[c].firstPixel - decodedFrom) * kDecodedInts;
    }
    for (int32_t t = 0; t < group.taps; ++t, weights += ResampleLaneTables::kGroup) {
#pragma GCC unroll 16
        for (int c = 0; c < kColumns; ++c) AddTap<Set>(sums[c], pixels[c] + t * kDecodedInts, weights[c]);
    }

    const Doubles(&flat)[kColumns * kParts] = reinterpret_cast<const Doubles(&)[kColumns * kParts]>(sums);
    const Normaliser* normalisers[kColumns];
#pragma GCC unroll 16
    for (int c = 0; c < kColumns; ++c) normalisers[c] = &columns[c].normaliser;
    Doubles values[kColumns * kParts];
    Normalise<Set, kColumns * kParts, kParts>(flat, normalisers, values);
    // Four vectors to narrow: the truncated channels, repeated where they fill fewer.
    typename Set::Ints ints[4];
#pragma GCC unroll 4
    for (int k = 0; k < kInts; ++k) ints[k] = Set::Truncate(values[2 * k], values[2 * k + 1]);
#pragma GCC unroll 4
    for (int k = kInts; k < 4; ++k) ints[k] = ints[k - kInts];
    // Words of both rows alternately, column by column, their channels moved
    // from the source's bytes to the intermediate word's.
    const typename Set::Ints words =
        Set::template ArrangeBytesInWords<Source::blueShift / 8, Source::greenShift / 8, Source::redShift / 8, -1>(
            Set::NarrowToBytes(ints[0], ints[1], ints[2], ints[3]));
    if (column + kColumns <= row.width) {
        Set::template StoreEvenOddWords<2 * kColumns>(words, row.out[0] + column, row.out[1] + column);
    } else {
        uint32_t even[kColumns], odd[kColumns];
        Set::template StoreEvenOddWords<2 * kColumns>(words, even, odd);
        const size_t bytes = static_cast<size_t>(row.width - column) * 4;
        memcpy(row.out[0] + column, even, bytes);
        memcpy(row.out[1] + column, odd, bytes);
    }
}

template <class Source>
struct ResampleRowH : RowSignature<ResampleRowHArgs> {
    template <class Set>
    static ZPX_LANES_INLINE void Lanes(const ResampleRowHArgs& row) {
        const ResampleLaneTables& tables = *static_cast<const ResampleLaneTables*>(row.laneTables);
        constexpr int32_t kColumns = Set::kBytes / 8;
        for (int32_t s = 0; s < tables.stretchCount; ++s) {
            const ResampleLaneTables::Stretch& stretch = tables.stretches[s];
            DecodePixels<Set, Source>(row.rows, stretch.firstPixel, stretch.endPixel, tables.decoded);
            // The next rows' pixels of this stretch are asked for a share at a
            // time while its taps are summed, so that decoding them does not
            // wait for memory.
            const int64_t from = static_cast<int64_t>(stretch.firstPixel) * 4,
                          end = static_cast<int64_t>(stretch.endPixel) * 4;
            const int32_t groups = (stretch.endColumn - stretch.firstColumn + kColumns - 1) / kColumns;
            const int64_t share = ((end - from) / groups + kCacheLine) / kCacheLine * kCacheLine;
            int64_t fetched = from;
            for (int32_t column = stretch.firstColumn; column < stretch.endColumn; column += kColumns) {
                SumColumns<Set, Source>(tables, column, stretch.firstPixel, row);
                for (const int64_t until = std::min(fetched + share, end);
                     row.nextRows[0] != nullptr && fetched < until; fetched += kCacheLine) {
                    __builtin_prefetch(row.nextRows[0] + fetched, 0, 3);
                    __builtin_prefetch(row.nextRows[1] + fetched, 0, 3);
                }
            }
        }
    }
};

// ---- vertical ----

template <class Destination>
struct ResampleRowV : RowSignature<ResampleRowVArgs> {
    template <class Set>
    static ZPX_LANES_INLINE void Lanes(const ResampleRowVArgs& row) {
        using Doubles = typename Set::Doubles;
        using Ints = typename Set::Ints;
        const ContributionList& list = *row.list;
        const Normaliser normaliser = NormaliserFor(list.weightSum);
        const Normaliser* const normalisers[1] = {&normaliser};
        constexpr int kShifts[3] = {IntermediateLayout::redShift, IntermediateLayout::greenShift,
                                    IntermediateLayout::blueShift};
        constexpr int kDestinationShifts[3] = {Destination::redShift, Destination::greenShift, Destination::blueShift};
        const int32_t grouped = row.width / Set::kInts * Set::kInts;
        // The intermediate rows the next result row takes in beyond this
        // one's, fetched a vector's columns at a time on the way.
        int32_t ahead[kLargestFetch];
        int32_t aheadCount = 0;
        const int32_t last = list.count > 0 ? list.entries[list.count - 1].pixel : -1;
        for (int32_t t = 0; row.nextList != nullptr && t < row.nextList->count && aheadCount < kLargestFetch; ++t) {
            if (row.nextList->entries[t].pixel > last) ahead[aheadCount++] = row.nextList->entries[t].pixel;
        }
        for (int32_t i = 0; i < grouped; i += Set::kInts) {
            for (int32_t a = 0; a < aheadCount; ++a) {
                __builtin_prefetch(row.buffer + static_cast<ptrdiff_t>(ahead[a]) * row.width + i, 0, 3);
            }
            Doubles sums[6];
#pragma GCC unroll 16
            for (Doubles& sum : sums) sum = Set::Splat(0.0);
            for (int32_t t = 0; t < list.count; ++t) {
                const Ints words =
                    Set::LoadInts(row.buffer + static_cast<ptrdiff_t>(list.entries[t].pixel) * row.width + i);
                const typename Set::Floats weight = Set::SplatFloats(list.entries[t].weight);
#pragma GCC unroll 16
                for (int c = 0; c < 3; ++c) {
                    const Ints channel = Set::And(Set::ShiftRight(words, kShifts[c]), Set::SplatInts(0xFF));
                    const typename Set::Floats product = Set::MulFloats(Set::IntsToFloats(channel), weight);
                    sums[2 * c] = Set::Add(sums[2 * c], Set::WidenLow(product));
                    sums[2 * c + 1] = Set::Add(sums[2 * c + 1], Set::WidenHigh(product));
                }
            }
            Doubles values[6];
            Normalise<Set, 6, 6>(sums, normalisers, values);
            Ints pixels = Set::SplatInts(static_cast<int32_t>(Destination::fourthWritten));
#pragma GCC unroll 16
            for (int c = 0; c < 3; ++c) {
                const Ints channel = Set::ClampToByte32(Set::Truncate(values[2 * c], values[2 * c + 1]));
                pixels = Set::Or(pixels, Set::ShiftLeft(channel, kDestinationShifts[c]));
            }
            Set::StoreInts(row.out + static_cast<ptrdiff_t>(i) * 4, pixels);
        }
        for (int32_t i = grouped; i < row.width; ++i) {
            StorePixel(row.out + static_cast<ptrdiff_t>(i) * 4,
                       VerticalPixel<Destination>(list, row.buffer, row.width, i));
        }
    }
};

}  // namespace

ResampleRowHFunction ResampleRowHLanes(PixelPath path, int32_t sourceFormat) {
    return WithLayout(sourceFormat, [&](auto layout) -> ResampleRowHFunction {
        using Source = decltype(layout);
        if constexpr (!Source::valid) {
            return nullptr;
        } else {
            return RowFor<ResampleRowH<Source>>(path);
        }
    });
}

ResampleRowVFunction ResampleRowVLanes(PixelPath path, int32_t destinationFormat) {
    return WithLayout(destinationFormat, [&](auto layout) -> ResampleRowVFunction {
        using Destination = decltype(layout);
        if constexpr (!Destination::valid) {
            return nullptr;
        } else {
            return RowFor<ResampleRowV<Destination>>(path);
        }
    });
}
