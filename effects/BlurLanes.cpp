// BlurZPX's rows on lanes (see BlurLanes.h), written once over the lane sets
// with 16-bit lanes (radii up to kLargestLaneRadius) or 32-bit lanes.
//
// First pass, row y: averages = sums / (2r + 1) into the result row (with its
// fourth byte), then the sums slide by one row. Second pass, row y: the row's
// bytes widened to lanes, then box(x) = box(x - 1) + entering(x) -
// leaving(x), with entering(x) the average at x + r and leaving(x) the one at
// x - r - 1, both clamped to the row; the running sum is a prefix sum within
// each vector plus the last sum of the vector before (see LaneRows for where
// leaving and entering come from).
#include "effects/BlurLanes.h"

#include <cstring>

#include "lanes/Lanes.h"
#include "picture/PictureEditor.h"

namespace {

constexpr int32_t kLanesPerPixel = 4;
// The most pixels any set handles per vector.
constexpr int32_t kWidestVector = 16;

// The lane width's operations of a set: 16-bit lanes, divided by one multiply
// (Divide16), or 32-bit lanes, divided through single precision (WideDivide).
template <class Set>
struct Lanes16 {
    using SetType = Set;
    using Lane = uint16_t;
    using Vector = typename Set::Ints;
    static constexpr int kBits = 16;
    static constexpr int32_t kPixels = Set::kBytes / 8;
    struct Divisor {
        Vector multiplier;
        int shift;
    };
    static ZPX_LANES_INLINE Vector LoadBytes(const uint8_t* bytes) { return Set::WidenBytes16(bytes); }
    static ZPX_LANES_INLINE void StoreBytes(uint8_t* bytes, Vector v) {
        Set::template StoreFirstBytes<Set::kBytes / 2>(bytes, Set::NarrowWordsToBytes(v));
    }
    static ZPX_LANES_INLINE Vector Splat(Lane value) { return Set::Splat16(value); }
    static ZPX_LANES_INLINE Vector Add(Vector a, Vector b) { return Set::Add16(a, b); }
    static ZPX_LANES_INLINE Vector Subtract(Vector a, Vector b) { return Set::Sub16(a, b); }
    static ZPX_LANES_INLINE Vector Times(Vector a, Vector b) { return Set::MulLow16(a, b); }
    static ZPX_LANES_INLINE Divisor MakeDivisor(int32_t span) {
        const Divisor16 divisor = Divisor16For(span);
        return Divisor{Set::Splat16(divisor.multiplier), divisor.shift};
    }
    static ZPX_LANES_INLINE Vector Divide(Vector n, const Divisor& divisor) {
        return Divide16Lanes<Set>(n, divisor.multiplier, divisor.shift);
    }
};

template <class Set>
struct Lanes32 {
    using SetType = Set;
    using Lane = uint32_t;
    using Vector = typename Set::Ints;
    static constexpr int kBits = 32;
    static constexpr int32_t kPixels = Set::kBytes / 16;
    struct Divisor {
        typename Set::Floats reciprocal;
        Vector lastSum;  // 256 span - 1: the largest sum the table holds
    };
    static ZPX_LANES_INLINE Vector LoadBytes(const uint8_t* bytes) { return Set::WidenBytes(bytes); }
    static ZPX_LANES_INLINE void StoreBytes(uint8_t* bytes, Vector v) {
        Set::template StoreFirstBytes<Set::kBytes / 4>(bytes, Set::NarrowToBytes(v, v, v, v));
    }
    static ZPX_LANES_INLINE Vector Splat(Lane value) { return Set::SplatInts(static_cast<int32_t>(value)); }
    static ZPX_LANES_INLINE Vector Add(Vector a, Vector b) { return Set::Add32(a, b); }
    static ZPX_LANES_INLINE Vector Subtract(Vector a, Vector b) { return Set::Sub32(a, b); }
    static ZPX_LANES_INLINE Vector Times(Vector a, Vector b) { return Set::MulLow32(a, b); }
    static ZPX_LANES_INLINE Divisor MakeDivisor(int32_t span) {
        return Divisor{Set::SplatFloats(WideReciprocal(span)), Set::SplatInts(256 * span - 1)};
    }
    // QuotientOf: sums outside the table give 0.
    static ZPX_LANES_INLINE Vector Divide(Vector n, const Divisor& divisor) {
        const Vector quotient = Set::TruncateFloats(Set::MulFloats(Set::IntsToFloats(n), divisor.reciprocal));
        const Vector outside = Set::Or(Set::Greater32(n, divisor.lastSum), Set::Greater32(Set::SplatInts(0), n));
        return Set::AndNot(outside, quotient);
    }
};

// The working rows, `kLanesPerPixel` lanes a pixel, each with room for a
// whole last vector: the column sums, the row of averages the second pass
// reads, and the rows its window drops and takes in. While r is below the
// width, leaving and entering are windows into the row of averages widened at
// both ends (`widened`); otherwise they are rows of their own.
template <class Lane>
struct LaneRows {
    Lane* sums;
    Lane* averages;
    Lane* leaving;
    Lane* entering;
    bool widened;
};

bool Widened(int32_t width, int32_t r) { return r < width; }

int64_t RowLanes(int32_t width) { return (static_cast<int64_t>(width) + kWidestVector) * kLanesPerPixel; }

int64_t WorkingLanes(int32_t width, int32_t r) {
    if (!Widened(width, r)) return 4 * RowLanes(width);
    return RowLanes(width) + RowLanes(width + 2 * r + 1);
}

template <class Lane>
LaneRows<Lane> LayOutRows(void* memory, int32_t width, int32_t r) {
    Lane* lanes = static_cast<Lane*>(memory);
    const int64_t row = RowLanes(width);
    if (!Widened(width, r)) return LaneRows<Lane>{lanes, lanes + row, lanes + 2 * row, lanes + 3 * row, false};
    Lane* widened = lanes + row;
    return LaneRows<Lane>{lanes, widened + (r + 1) * kLanesPerPixel, widened, widened + (2 * r + 1) * kLanesPerPixel,
                          true};
}

// The bytes of pixels [from, from + count) of a row, zero-padded to a whole
// vector, so that the last vector of a row reads nothing past the row.
template <class L>
ZPX_LANES_INLINE typename L::Vector LoadBytesTail(const uint8_t* row, int32_t count) {
    alignas(64) uint8_t bytes[kWidestVector * kLanesPerPixel] = {};
    memcpy(bytes, row, static_cast<size_t>(count) * kLanesPerPixel);
    return L::LoadBytes(bytes);
}

template <class L>
ZPX_LANES_INLINE typename L::Vector LoadRowBytes(const uint8_t* row, int32_t x, int32_t width) {
    const uint8_t* at = row + static_cast<ptrdiff_t>(x) * kLanesPerPixel;
    return x + L::kPixels <= width ? L::LoadBytes(at) : LoadBytesTail<L>(at, width - x);
}

// The same for storing: the last vector of a row writes nothing past the row.
template <class L>
ZPX_LANES_INLINE void StoreRowBytes(uint8_t* row, int32_t x, int32_t width, typename L::Vector v) {
    uint8_t* at = row + static_cast<ptrdiff_t>(x) * kLanesPerPixel;
    if (x + L::kPixels <= width) return L::StoreBytes(at, v);
    alignas(64) uint8_t last[kWidestVector * kLanesPerPixel];
    L::StoreBytes(last, v);
    memcpy(at, last, static_cast<size_t>(width - x) * kLanesPerPixel);
}

// Which lanes of a pixel keep their average, and what the fourth becomes.
template <class L>
struct ResultMasks {
    typename L::Vector keep;
    typename L::Vector fourth;

    ZPX_LANES_INLINE explicit ResultMasks(const BlurJob& job) {
        using Lane = typename L::Lane;
        Lane keepLanes[kLanesPerPixel];
        std::fill_n(keepLanes, kLanesPerPixel, static_cast<Lane>(~Lane{0}));
        keepLanes[job.fourthByte] = 0;
        Lane fourthLanes[kLanesPerPixel] = {};
        fourthLanes[job.fourthByte] = job.fourthValue;
        using Set = typename L::SetType;
        keep = Set::template BroadcastPixel<L::kBits>(keepLanes);
        fourth = Set::template BroadcastPixel<L::kBits>(fourthLanes);
    }
};

// The leaving row of a window no taller than this was read so recently that
// it is still in the second-level cache.
constexpr int32_t kRecentRows = 16;

const uint8_t* SourceRow(const BlurJob& job, int64_t y) {
    return job.source->RowAddress(Clamped(y, job.source->height));
}

template <template <class> class Width>
struct BlurRowFirst : RowSignature<BlurRowArgs> {
    template <class Set>
    static ZPX_LANES_INLINE void Lanes(const BlurRowArgs& row) {
        using L = Width<Set>;
        using Lane = typename L::Lane;
        const int32_t width = row.job->source->width;
        const LaneRows<Lane> rows = LayOutRows<Lane>(row.job->laneMemory, width, row.job->r);
        const uint8_t* bytes = row.job->source->RowAddress(row.line);
        const typename L::Vector factor = L::Splat(static_cast<Lane>(row.times));
        for (int32_t x = 0; x < width; x += L::kPixels) {
            Lane* at = rows.sums + x * kLanesPerPixel;
            Set::StoreInts(at, L::Add(Set::LoadInts(at), L::Times(LoadRowBytes<L>(bytes, x, width), factor)));
        }
    }
};

// The first pass's averages of the row from the sums, then sums += entering
// row - leaving row. The next step's rows are fetched into the second-level
// cache on the way (the first-level one is full of sums): for a large r the
// leaving row was last read so long ago that it has left the caches.
template <template <class> class Width>
struct BlurRowV : RowSignature<BlurRowArgs> {
    template <class Set>
    static ZPX_LANES_INLINE void Lanes(const BlurRowArgs& row) {
        using L = Width<Set>;
        using Lane = typename L::Lane;
        using Vector = typename L::Vector;
        const BlurJob& job = *row.job;
        const int32_t width = job.source->width, y = row.line, r = job.r;
        const LaneRows<Lane> rows = LayOutRows<Lane>(job.laneMemory, width, r);
        const typename L::Divisor divisor = L::MakeDivisor(2 * r + 1);
        const ResultMasks<L> masks(job);
        const uint8_t* entering = SourceRow(job, static_cast<int64_t>(y) + r + 1);
        const uint8_t* leaving = SourceRow(job, static_cast<int64_t>(y) - r);
        const uint8_t* enteringNext = SourceRow(job, static_cast<int64_t>(y) + r + 2);
        const uint8_t* leavingNext = r > kRecentRows ? SourceRow(job, static_cast<int64_t>(y) - r + 1) : nullptr;
        uint8_t* out = job.result->RowAddress(y);
        for (int32_t x = 0; x < width; x += L::kPixels) {
            const int32_t at = x * kLanesPerPixel;
            __builtin_prefetch(enteringNext + at, 0, 2);
            if (leavingNext != nullptr) __builtin_prefetch(leavingNext + at, 0, 2);
            const Vector sum = Set::LoadInts(rows.sums + at);
            const Vector averages = Set::Or(Set::And(L::Divide(sum, divisor), masks.keep), masks.fourth);
            StoreRowBytes<L>(out, x, width, averages);
            const Vector change = L::Subtract(LoadRowBytes<L>(entering, x, width), LoadRowBytes<L>(leaving, x, width));
            Set::StoreInts(rows.sums + at, L::Add(sum, change));
        }
    }
};

template <class Lane>
void RepeatPixel(Lane* to, const Lane* pixel, int32_t times) {
    for (int32_t i = 0; i < times; ++i) memcpy(to + i * kLanesPerPixel, pixel, kLanesPerPixel * sizeof(Lane));
}

// leaving(x) = average(max(x - r - 1, 0)) and entering(x) =
// average(min(x + r, width - 1)). In the widened row that takes r + 1 copies
// of the first average before the row and r of the last after it; otherwise
// they are copied out in at most four runs, at a cost that does not grow with r.
template <class Lane>
void PrepareWindowRows(const LaneRows<Lane>& rows, int32_t width, int32_t r) {
    const Lane* first = rows.averages;
    const Lane* last = rows.averages + (width - 1) * kLanesPerPixel;
    if (rows.widened) {
        RepeatPixel(rows.leaving, first, r + 1);
        RepeatPixel(rows.averages + width * kLanesPerPixel, last, r);
        return;
    }
    const size_t pixelBytes = kLanesPerPixel * sizeof(Lane);
    const int32_t firstRepeats = std::min(r + 1, width);
    RepeatPixel(rows.leaving, first, firstRepeats);
    memcpy(rows.leaving + firstRepeats * kLanesPerPixel, first, static_cast<size_t>(width - firstRepeats) * pixelBytes);
    const int32_t shifted = std::max(width - r, 0);
    if (shifted > 0) {
        memcpy(rows.entering, rows.averages + static_cast<ptrdiff_t>(r) * kLanesPerPixel,
               static_cast<size_t>(shifted) * pixelBytes);
    }
    RepeatPixel(rows.entering + shifted * kLanesPerPixel, last, width - shifted);
}

// The lanes of box(-1), the window before the first pixel, so that box(0) =
// box(-1) + entering(0) - leaving(0): box(0) sums the clamped window around
// pixel 0 (at most `width` reads however large r is), then entering(0) comes
// off and leaving(0) goes on. Lane arithmetic wraps as the vector lanes do.
template <class Lane>
void WindowBeforeFirst(const Lane* averages, int32_t width, int32_t r, Lane* window) {
    std::fill_n(window, kLanesPerPixel, Lane{0});
    ForFirstWindow(r, width, [&](int32_t x, int32_t times) {
        for (int32_t c = 0; c < kLanesPerPixel; ++c) {
            window[c] = static_cast<Lane>(window[c] + static_cast<Lane>(times) * averages[x * kLanesPerPixel + c]);
        }
    });
    const Lane* entering = averages + std::min(r, width - 1) * kLanesPerPixel;
    for (int32_t c = 0; c < kLanesPerPixel; ++c) window[c] = static_cast<Lane>(window[c] - entering[c] + averages[c]);
}

// The second pass over one result row, in place: its bytes widened into the
// row of averages, then the running window; the next result row is fetched
// for writing, into the second-level cache, on the way.
template <template <class> class Width>
struct BlurRowH : RowSignature<BlurRowArgs> {
    template <class Set>
    static ZPX_LANES_INLINE void Lanes(const BlurRowArgs& row) {
        using L = Width<Set>;
        using Lane = typename L::Lane;
        using Vector = typename L::Vector;
        const BlurJob& job = *row.job;
        const int32_t width = job.source->width, r = job.r;
        const LaneRows<Lane> rows = LayOutRows<Lane>(job.laneMemory, width, r);
        uint8_t* out = job.result->RowAddress(row.line);
        uint8_t* outNext = job.result->RowAddress(std::min(row.line + 1, job.source->height - 1));
        for (int32_t x = 0; x < width; x += L::kPixels) {
            Set::StoreInts(rows.averages + x * kLanesPerPixel, LoadRowBytes<L>(out, x, width));
        }
        PrepareWindowRows(rows, width, r);
        const typename L::Divisor divisor = L::MakeDivisor(2 * r + 1);
        const ResultMasks<L> masks(job);
        Lane before[kLanesPerPixel];
        WindowBeforeFirst(rows.averages, width, r, before);
        Vector window = Set::template BroadcastPixel<L::kBits>(before);
        for (int32_t x = 0; x < width; x += L::kPixels) {
            const int32_t at = x * kLanesPerPixel;
            const Vector change = L::Subtract(Set::LoadInts(rows.entering + at), Set::LoadInts(rows.leaving + at));
            const Vector changes = Set::template PrefixSumPixels<L::kBits>(change);
            const Vector sums = L::Add(window, changes);
            // Kept apart from sums: the next vector waits for one addition only.
            window = L::Add(window, Set::template LastPixelEverywhere<L::kBits>(changes));
            const Vector pixels = Set::Or(Set::And(L::Divide(sums, divisor), masks.keep), masks.fourth);
            __builtin_prefetch(outNext + at, 1, 2);
            StoreRowBytes<L>(out, x, width, pixels);
        }
    }
};

bool WideLanes(int32_t r) { return r > kLargestLaneRadius; }

}  // namespace

int64_t BlurLaneBytes(int32_t width, int32_t r, bool yielding) {
    const int64_t laneBytes = yielding || WideLanes(r) ? sizeof(uint32_t) : sizeof(uint16_t);
    return laneBytes * WorkingLanes(width, r);
}

BlurRows BlurLaneRows(PixelPath path, int32_t r, bool yielding) {
    if (r > kLargestWideLaneRadius) return BlurRows{nullptr, nullptr, nullptr};
    if (yielding || WideLanes(r)) {
        return BlurRows{RowFor<BlurRowFirst<Lanes32>>(path), RowFor<BlurRowV<Lanes32>>(path),
                        RowFor<BlurRowH<Lanes32>>(path)};
    }
    return BlurRows{RowFor<BlurRowFirst<Lanes16>>(path), RowFor<BlurRowV<Lanes16>>(path),
                    RowFor<BlurRowH<Lanes16>>(path)};
}
