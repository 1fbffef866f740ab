// ScalingZPX's rows on lanes (see ResamplerLanes.h).
//
// Horizontal: two source rows at a time. A stretch of each is decoded once to
// 32-bit integers, eight per source pixel: the pixel's blue, green, red and 0
// in row k, then in row k + 1 (the fourth byte is never read). A vector of
// doubles then holds destination pixels of both rows, so every weight load
// serves two rows: per tap it converts the pixel's integers (exactly) and adds
// their product with the widened weight. An 8-bit channel times a float
// weight is exact in double, so each product equals the plain one, and each
// accumulator adds them in the stored order. Several destination columns are
// summed at once to keep the adders busy; their channels, rounded, come out
// as intermediate words directly, since the lanes already hold blue, green,
// red and 0.
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
    double value = accumulator * normaliser.reciprocal + 0.5;
    value = std::isnan(value) ? -0.5 : std::min(std::max(value, -0.5), 256.5);
    if (!normaliser.exact && std::floor(value + kReciprocalMargin) > value - kReciprocalMargin) {
        return NormalisedChannel(accumulator, weightSum);
    }
    return static_cast<uint32_t>(std::min(std::max(value, 0.0), 255.0));
}

// ---- the tables of the horizontal row ----

bool ResampleLaneTables::Build(const ContributionList* source, int32_t width, int32_t sourceWidth) {
    const int32_t padded = (width + kGroup - 1) / kGroup * kGroup;
    int64_t total = 0;
    for (int32_t i = 0; i < width; ++i) {
        const ContributionList& list = source[i];
        if (list.count > 0) total += static_cast<int64_t>(list.entries[list.count - 1].pixel) - list.entries[0].pixel + 1;
    }
    lists_ = AllocateZeroed<List>(padded);
    weights_ = AllocateZeroed<double>(std::max<int64_t>(total, 1));
    stretches_ = AllocateZeroed<Stretch>(padded / kGroup);
    if (!lists_ || !weights_ || !stretches_) return false;

    int64_t next = 0;
    for (int32_t i = 0; i < padded; ++i) {
        List& flat = lists_[i];
        flat = List{0, static_cast<int32_t>(next), 0, NormaliserFor(0.0f)};
        if (i >= width) continue;
        const ContributionList& list = source[i];
        flat.normaliser = NormaliserFor(list.weightSum);
        bool anyWeight = false;
        for (int32_t t = 0; t < list.count; ++t) anyWeight = anyWeight || list.entries[t].weight != 0.0f;
        // A list whose taps all weigh 0 gives black, as an empty one does.
        if (!anyWeight) continue;
        flat.firstPixel = list.entries[0].pixel;
        flat.count = list.entries[list.count - 1].pixel - flat.firstPixel + 1;
        for (int32_t t = 0; t < list.count; ++t) {
            weights_[next + (list.entries[t].pixel - flat.firstPixel)] = static_cast<double>(list.entries[t].weight);
        }
        next += flat.count;
    }

    // Stretches: whole groups while the source pixels their taps read fit
    // kStretchPixels; a group alone may read more.
    stretchCount = 0;
    int32_t widest = 0;
    for (int32_t group = 0; group < padded; group += kGroup) {
        int32_t first = sourceWidth, end = 0;
        for (int32_t i = group; i < group + kGroup; ++i) {
            if (lists_[i].count == 0) continue;
            first = std::min(first, lists_[i].firstPixel);
            end = std::max(end, lists_[i].firstPixel + lists_[i].count);
        }
        if (first >= end) first = end = 0;
        if (stretchCount > 0) {
            Stretch& last = stretches_[stretchCount - 1];
            const bool lastEmpty = last.firstPixel == last.endPixel, empty = first == end;
            const int32_t mergedFirst = empty ? last.firstPixel : lastEmpty ? first : std::min(last.firstPixel, first);
            const int32_t mergedEnd = empty ? last.endPixel : lastEmpty ? end : std::max(last.endPixel, end);
            if (mergedEnd - mergedFirst <= kStretchPixels) {
                last = Stretch{last.firstColumn, std::min(group + kGroup, width), mergedFirst, mergedEnd};
                widest = std::max(widest, mergedEnd - mergedFirst);
                continue;
            }
        }
        stretches_[stretchCount++] = Stretch{group, std::min(group + kGroup, width), first, end};
        widest = std::max(widest, end - first);
    }
    decoded_ = AllocateZeroedBytes<uint8_t>(static_cast<int64_t>(widest) * kDecodedInts * 4 + kDecodedSlack + 64);
    if (!decoded_) return false;
    const uintptr_t address = reinterpret_cast<uintptr_t>(decoded_.get());
    decoded = reinterpret_cast<int32_t*>((address + 63) & ~static_cast<uintptr_t>(63));
    lists = lists_.get();
    weights = weights_.get();
    stretches = stretches_.get();
    return true;
}

namespace {

// ---- dividing by weightSum, on lanes ----

// accumulator * reciprocal + 0.5 (or the quotient's value), clamped to
// -0.5 .. 256.5 with NaN at -0.5: truncated, the lanes then give the plain
// channel clamped to 0 .. 256, which narrowing or a minimum ends at 255.
template <class Set>
ZPX_LANES_INLINE typename Set::Doubles ClampedValue(typename Set::Doubles value) {
    return Set::Min(Set::Max(value, Set::Splat(-0.5)), Set::Splat(256.5));
}

template <class Set>
ZPX_LANES_INLINE typename Set::Doubles ByReciprocal(typename Set::Doubles accumulator, const Normaliser& normaliser) {
    return ClampedValue<Set>(Set::Add(Set::Mul(accumulator, Set::Splat(normaliser.reciprocal)), Set::Splat(0.5)));
}

template <class Set>
ZPX_LANES_INLINE typename Set::Doubles ByQuotient(typename Set::Doubles accumulator, const Normaliser& normaliser) {
    return ClampedValue<Set>(Set::Add(Set::Div(accumulator, Set::Splat(normaliser.weightSum)), Set::Splat(0.5)));
}

// Whether a step of the truncation lies within the margin of a lane's value.
template <class Set>
ZPX_LANES_INLINE bool NearAStep(typename Set::Doubles value) {
    const typename Set::Doubles margin = Set::Splat(kReciprocalMargin);
    return Set::AnyGreater(Set::Floor(Set::Add(value, margin)), Set::Sub(value, margin));
}

// Values of accumulators that share one list each (lists[k] for accumulator
// k / perList): by the reciprocal where every list's is proven right, else
// by the quotients.
template <class Set, int N, int PerList>
ZPX_LANES_INLINE void Normalise(const typename Set::Doubles (&accumulators)[N], const Normaliser* const (&lists)[N / PerList],
                                typename Set::Doubles (&values)[N]) {
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
        if (!near) return;
    }
    #pragma GCC unroll 16
    for (int k = 0; k < N; ++k) values[k] = ByQuotient<Set>(accumulators[k], *lists[k / PerList]);
}

// ---- horizontal ----

// Two source rows' pixels [from, to) as blue, green, red, 0 of row k, then of row k + 1.
template <class Set, class Source>
ZPX_LANES_INLINE void DecodePixels(const uint8_t* const (&rows)[2], int32_t from, int32_t to, int32_t* out) {
    using Ints = typename Set::Ints;
    constexpr int32_t kPixels = Set::kInts / 4;
    const Ints keep = Set::LoadInts(kFirstThreeOfFour);
    auto arranged = [&](const uint8_t* bytes) __attribute__((always_inline)) {
        return Set::And(Set::template ShuffleInPixels<Source::blueShift / 8, Source::greenShift / 8,
                                                      Source::redShift / 8, Source::fourthShift / 8>(
                            Set::WidenBytes(bytes)),
                        keep);
    };
    for (int32_t j = from; j < to; j += kPixels, out += kPixels * kDecodedInts) {
        const uint8_t* pixels[2] = {rows[0] + static_cast<ptrdiff_t>(j) * 4, rows[1] + static_cast<ptrdiff_t>(j) * 4};
        uint8_t tail[2][Set::kInts] = {};
        if (j + kPixels > to) {  // the last pixels of the stretch: nothing past the row is read
            #pragma GCC unroll 16
            for (int r = 0; r < 2; ++r) pixels[r] = static_cast<const uint8_t*>(memcpy(tail[r], pixels[r], static_cast<size_t>(to - j) * 4));
        }
        Ints first, second;
        Set::InterleaveBlocks(arranged(pixels[0]), arranged(pixels[1]), first, second);
        Set::StoreInts(out, first);
        Set::StoreInts(out + Set::kInts, second);
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
template <class Set>
ZPX_LANES_INLINE void SumColumns(const ResampleLaneTables& tables, int32_t column, int32_t decodedFrom,
                                 const ResampleRowHArgs& row) {
    using Doubles = typename Set::Doubles;
    constexpr int kParts = 8 / Set::kDoubles;  // vectors per destination pixel of both rows
    constexpr int kColumns = Set::kBytes / 8;  // destination pixels per group: 8 vectors in all
    const ResampleLaneTables::List* lists = tables.lists + column;
    Doubles sums[kColumns][kParts];
    const int32_t* pixels[kColumns];
    const double* weights[kColumns];
    int32_t both = lists[0].count;
    #pragma GCC unroll 16
    for (int c = 0; c < kColumns; ++c) {
        #pragma GCC unroll 16
        for (int part = 0; part < kParts; ++part) sums[c][part] = Set::Splat(0.0);
        pixels[c] = tables.decoded + static_cast<ptrdiff_t>(lists[c].count > 0 ? lists[c].firstPixel - decodedFrom : 0) * kDecodedInts;
        weights[c] = tables.weights + lists[c].first;
        both = std::min(both, lists[c].count);
    }
    for (int32_t t = 0; t < both; ++t) {
        #pragma GCC unroll 16
        for (int c = 0; c < kColumns; ++c) AddTap<Set>(sums[c], pixels[c] + t * kDecodedInts, weights[c][t]);
    }
    #pragma GCC unroll 16
    for (int c = 0; c < kColumns; ++c) {
        for (int32_t t = both; t < lists[c].count; ++t) AddTap<Set>(sums[c], pixels[c] + t * kDecodedInts, weights[c][t]);
    }

    const Doubles(&flat)[kColumns * kParts] = reinterpret_cast<const Doubles(&)[kColumns * kParts]>(sums);
    const Normaliser* normalisers[kColumns];
    #pragma GCC unroll 16
    for (int c = 0; c < kColumns; ++c) normalisers[c] = &lists[c].normaliser;
    Doubles values[kColumns * kParts];
    Normalise<Set, kColumns * kParts, kParts>(flat, normalisers, values);
    const typename Set::Ints words =
        Set::NarrowToBytes(Set::Truncate(values[0], values[1]), Set::Truncate(values[2], values[3]),
                           Set::Truncate(values[4], values[5]), Set::Truncate(values[6], values[7]));
    if (column + kColumns <= row.width) {
        Set::StoreEvenOddWords(words, row.out[0] + column, row.out[1] + column);
    } else {
        uint32_t even[kColumns], odd[kColumns];
        Set::StoreEvenOddWords(words, even, odd);
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
        for (int32_t s = 0; s < tables.stretchCount; ++s) {
            const ResampleLaneTables::Stretch& stretch = tables.stretches[s];
            DecodePixels<Set, Source>(row.rows, stretch.firstPixel, stretch.endPixel, tables.decoded);
            for (int32_t column = stretch.firstColumn; column < stretch.endColumn; column += Set::kBytes / 8) {
                SumColumns<Set>(tables, column, stretch.firstPixel, row);
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
        for (int32_t i = 0; i < grouped; i += Set::kInts) {
            Doubles sums[6];
            #pragma GCC unroll 16
            for (Doubles& sum : sums) sum = Set::Splat(0.0);
            for (int32_t t = 0; t < list.count; ++t) {
                const Ints words = Set::LoadInts(row.buffer + static_cast<ptrdiff_t>(list.entries[t].pixel) * row.width + i);
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
                const Doubles top = Set::Splat(255.0);
                const Ints channel = Set::Truncate(Set::Min(values[2 * c], top), Set::Min(values[2 * c + 1], top));
                pixels = Set::Or(pixels, Set::ShiftLeft(channel, kDestinationShifts[c]));
            }
            Set::StoreInts(row.out + static_cast<ptrdiff_t>(i) * 4, pixels);
        }
        for (int32_t i = grouped; i < row.width; ++i) {
            StorePixel(row.out + static_cast<ptrdiff_t>(i) * 4, VerticalPixel<Destination>(list, row.buffer, row.width, i));
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
