// DrawPictureFZPX. Destination pixel (X, Y) looks at the source around
// (X - x, Y - y): its four neighbours upper left, upper right, lower right and
// lower left, each weighted by its bilinear share times alpha, thinned by
// (255 - mask) / 255 when the source has a mask. Each channel product is
// truncated before it is summed; the weight that the neighbours inside the
// source leave over is taken from the destination's old pixel. Every
// destination pixel is rewritten, with the fourth byte of its layout.
//
// The position split and the four weights are computed once per call. The
// neighbours are always visited in the order above: the remaining weight is a
// double, and subtracting in another order can change it in the last bit.
//
// Outside the plain pixel path an unmasked draw splits each row by what its
// pixels reach: pixels that reach no source pixel keep their colour, pixels
// whose four neighbours are all inside go to the lane run of the path
// (DrawLanes.h), and the one or two columns in between, and every row that
// reaches only one source row, go through the plain loop.
//
// What this file does where the drawing rules leave the choice open:
// - Coordinates that are NaN or infinite, or whose floor does not fit a
//   32-bit integer: false, nothing drawn, no exception. Checked right after
//   the nil checks, before the host is asked for the mask.
// - An alpha so large (or NaN) that a channel product could leave the 32-bit
//   range: rejected the same way; every other strength is drawn. See
//   ProductsFit for the limit, |alpha| about 2^31 / 255 (8.42 million).
// - A mask smaller than its picture: the mask's own bounds are tested, and a
//   neighbour outside the mask's pixels counts as mask value 0 (full weight).
// - Drawing a picture into itself: the source is read from a snapshot of its
//   pixels taken once the views are open, so the result is what drawing a copy
//   would give. When the snapshot cannot be allocated: false, nothing drawn.
#include "effects/DrawPictureF.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "effects/DrawLanes.h"
#include "lanes/PixelPath.h"
#include "picture/CBuffer.h"
#include "picture/PictureEditor.h"
#include "picture/PixelFormat.h"
#include "plugin/HostCallbacks.h"
#include "plugin/HostRefs.h"
#include "plugin/HostStrings.h"
#include "plugin/Yield.h"

namespace {

constexpr int32_t kBytesPerPixel = 4;
constexpr double kMaskScale = 255.0;
constexpr double kLargestInt32 = 2147483647.0;

enum Neighbour { kUpperLeft, kUpperRight, kLowerRight, kLowerLeft, kNeighbours };

// Where the source's top-left corner falls and how strongly each neighbour counts.
struct Placement {
    int32_t ix = 0, iy = 0;
    double weight[kNeighbours] = {};
};

// floor(coordinate) as a 32-bit integer and the distance from it; false for
// NaN, infinities and floors beyond 32 bits.
bool SplitCoordinate(double coordinate, int32_t& whole, double& fraction) {
    const double down = std::floor(coordinate);
    if (!(down >= -2147483648.0 && down <= 2147483647.0)) return false;
    whole = static_cast<int32_t>(down);
    fraction = std::fabs(coordinate - static_cast<double>(whole));
    return true;
}

// Every channel product (a channel of at most 255 times a weight) must
// convert to a 32-bit integer, and so must every sum of them. The weights
// share alpha's sign; let T be the sum of their magnitudes. A positive alpha
// gives products and sums of at most 255 * T (the destination adds only where
// the neighbours leave weight, then at most 255). A negative one gives source
// products down to -255 * T and a destination product of up to
// 255 * (1 + T), every partial sum lying in between. Hence the limit:
// 255 * T <= 2^31 - 1 for a positive alpha (8421504 at a whole-number
// position), 255 * (1 + T) <= 2^31 - 1 for a negative one (-8421503). The
// mask's (255 - m) / 255 and the order of subtraction move a weight by a few
// units in the last place, far less than the unit from 2^31 - 1 to 2^31.
bool ProductsFit(const Placement& at, double alpha) {
    double total = 0.0;
    for (double weight : at.weight) total += std::fabs(weight);
    const double largest = alpha < 0.0 ? 1.0 + total : total;
    return 255.0 * largest <= kLargestInt32;  // false for NaN
}

bool PlaceSource(double x, double y, double alpha, Placement& at) {
    double fx = 0.0, fy = 0.0;
    if (!SplitCoordinate(x, at.ix, fx) || !SplitCoordinate(y, at.iy, fy)) return false;
    // Multiplied in exactly this order.
    at.weight[kUpperLeft] = (fx * fy) * alpha;
    at.weight[kUpperRight] = ((1.0 - fx) * fy) * alpha;
    at.weight[kLowerRight] = ((1.0 - fx) * (1.0 - fy)) * alpha;
    at.weight[kLowerLeft] = ((1.0 - fy) * fx) * alpha;
    return ProductsFit(at, alpha);
}

// Rows of a picture as the drawing reads them: the view's own, or a snapshot
// of them. Null for a row outside the picture.
struct ReadRows {
    const PictureEditor* view = nullptr;
    const uint32_t* snapshot = nullptr;
    int32_t width = 0;
    int32_t height = 0;

    const uint8_t* Row(int64_t y) const {
        if (view == nullptr || y < 0 || y >= height) return nullptr;
        if (snapshot != nullptr) return reinterpret_cast<const uint8_t*>(snapshot + y * width);
        return view->RowAddress(static_cast<int32_t>(y));
    }
};

ReadRows RowsOf(const PictureEditor& view, const uint32_t* snapshot = nullptr) {
    return ReadRows{&view, snapshot, view.width, view.height};
}

// A copy of every pixel of view, row after row; null when it cannot be had.
CBuffer<uint32_t> SnapshotOf(const PictureEditor& view) {
    CBuffer<uint32_t> copy = AllocateZeroed<uint32_t>(static_cast<int64_t>(view.width) * view.height);
    if (!copy) return copy;
    for (int32_t y = 0; y < view.height; ++y) {
        memcpy(copy.get() + static_cast<ptrdiff_t>(y) * view.width, view.RowAddress(y),
               static_cast<size_t>(view.width) * kBytesPerPixel);
    }
    return copy;
}

struct NoMask {
    static constexpr bool present = false;
    using Layout = UnknownLayout;
};

template <class MaskLayout>
struct MaskIn {
    static constexpr bool present = true;
    using Layout = MaskLayout;
};

inline const uint8_t* PixelAt(const uint8_t* row, int64_t x) { return row + x * kBytesPerPixel; }

// The neighbour's weight after the mask; outside the mask's pixels the mask value is 0.
template <class Mask>
inline double EffectiveWeight(double weight, const uint8_t* maskRow, int64_t x, int32_t maskWidth) {
    if (!Mask::present) return weight;
    const uint32_t value = maskRow != nullptr && x < maskWidth
                               ? RedOf<typename Mask::Layout>(LoadPixel(PixelAt(maskRow, x)))
                               : 0;
    return ((kMaskScale - static_cast<double>(value)) * weight) / kMaskScale;
}

// The truncated product: never rounded.
inline int32_t Share(uint32_t channel, double weight) {
    return static_cast<int32_t>(static_cast<double>(channel) * weight);
}

inline uint32_t ClampedChannel(int32_t value) {
    if (value < 0) return 0;
    if (value > 255) return 255;
    return static_cast<uint32_t>(value);
}

struct Accumulator {
    int32_t red = 0, green = 0, blue = 0;

    template <class Layout>
    void Add(uint32_t word, double weight) {
        red += Share(RedOf<Layout>(word), weight);
        green += Share(GreenOf<Layout>(word), weight);
        blue += Share(BlueOf<Layout>(word), weight);
    }
};

// One destination row's source and mask rows, per neighbour; null outside.
struct RowNeighbours {
    const uint8_t* source[kNeighbours];
    const uint8_t* mask[kNeighbours];
};

RowNeighbours NeighboursOfRow(const Placement& at, int32_t Y, const ReadRows& source, const ReadRows& mask) {
    const int64_t upper = static_cast<int64_t>(Y) - at.iy - 1;
    return RowNeighbours{{source.Row(upper), source.Row(upper), source.Row(upper + 1), source.Row(upper + 1)},
                         {mask.Row(upper), mask.Row(upper), mask.Row(upper + 1), mask.Row(upper + 1)}};
}

// Destination pixels from .. to - 1 of a row, one neighbour at a time.
template <class Source, class Destination, class Mask>
void DrawPixels(const Placement& at, const RowNeighbours& rows, const ReadRows& source, const ReadRows& mask,
                uint8_t* out, int32_t from, int32_t to) {
    for (int32_t X = from; X < to; ++X) {
        const int64_t left = static_cast<int64_t>(X) - at.ix - 1;
        const int64_t column[kNeighbours] = {left, left + 1, left + 1, left};
        Accumulator sum;
        double remaining = 1.0;
        for (int k = 0; k < kNeighbours; ++k) {
            if (rows.source[k] == nullptr || column[k] < 0 || column[k] >= source.width) continue;
            const double weight = EffectiveWeight<Mask>(at.weight[k], rows.mask[k], column[k], mask.width);
            sum.Add<Source>(LoadPixel(PixelAt(rows.source[k], column[k])), weight);
            remaining -= weight;
        }
        uint8_t* pixel = out + static_cast<ptrdiff_t>(X) * kBytesPerPixel;
        if (remaining > 0.0) sum.Add<Destination>(LoadPixel(pixel), remaining);
        StorePixel(pixel, Encode<Destination>(ClampedChannel(sum.red), ClampedChannel(sum.green),
                                              ClampedChannel(sum.blue)));
    }
}

// ---- the lane runs: unmasked sources, pixels grouped by what they reach ----

// Pixels that no neighbour reaches keep their colour, since trunc(c * 1.0)
// is c, and get the fourth byte.
template <class Destination>
void KeepColours(uint8_t* out, int32_t from, int32_t to) {
    constexpr uint32_t channels =
        (0xFFu << Destination::redShift) | (0xFFu << Destination::greenShift) | (0xFFu << Destination::blueShift);
    for (int32_t X = from; X < to; ++X) {
        uint8_t* pixel = out + static_cast<ptrdiff_t>(X) * kBytesPerPixel;
        StorePixel(pixel, (LoadPixel(pixel) & channels) | Destination::fourthWritten);
    }
}

// A row's columns in order: [0, keepLeftEnd) reach no source column;
// [keepLeftEnd, interiorStart) and [interiorEnd, keepRightStart) reach one
// of the two; [interiorStart, interiorEnd) reach both; the rest none.
struct ColumnSpans {
    int32_t keepLeftEnd, interiorStart, interiorEnd, keepRightStart;
};

ColumnSpans SpansOf(const Placement& at, int32_t sourceWidth, int32_t width) {
    auto within = [width](int64_t X) {
        return static_cast<int32_t>(std::min<int64_t>(std::max<int64_t>(X, 0), width));
    };
    ColumnSpans spans;
    spans.keepLeftEnd = within(at.ix);
    spans.interiorStart = within(static_cast<int64_t>(at.ix) + 1);
    spans.interiorEnd = std::max(spans.interiorStart, within(static_cast<int64_t>(at.ix) + sourceWidth));
    spans.keepRightStart = std::max(spans.interiorEnd, within(static_cast<int64_t>(at.ix) + sourceWidth + 1));
    return spans;
}

template <class Layout>
ChannelShifts ShiftsOf() {
    return ChannelShifts{Layout::redShift, Layout::greenShift, Layout::blueShift};
}

// The remaining weight of a pixel that all four neighbours reach, subtracted
// in their order as DrawPixels does. When 255 times it is below 1 the
// destination adds trunc(d * remaining) = 0 for every channel d <= 255
// (rounding is monotone, so d * remaining rounds to at most 255 * remaining),
// and its old pixel need not be read.
template <class Source, class Destination>
InteriorWeights InteriorWeightsOf(const Placement& at) {
    InteriorWeights weights{};
    double remaining = 1.0;
    for (int k = 0; k < kNeighbours; ++k) {
        weights.weight[k] = at.weight[k];
        remaining -= at.weight[k];
    }
    weights.remaining = remaining;
    weights.withDestination = remaining > 0.0 && 255.0 * remaining >= 1.0;
    weights.source = ShiftsOf<Source>();
    weights.destination = ShiftsOf<Destination>();
    weights.fourthWritten = Destination::fourthWritten;
    return weights;
}

template <class Source, class Destination>
void DrawRowWithLanes(const Placement& at, int32_t Y, const ReadRows& source, uint8_t* out, int32_t width,
                      InteriorRunFunction drawRun, const InteriorWeights& weights) {
    const ReadRows noMask{};
    const RowNeighbours rows = NeighboursOfRow(at, Y, source, noMask);
    if (rows.source[kUpperLeft] == nullptr && rows.source[kLowerLeft] == nullptr) {
        KeepColours<Destination>(out, 0, width);
        return;
    }
    const ColumnSpans spans = SpansOf(at, source.width, width);
    KeepColours<Destination>(out, 0, spans.keepLeftEnd);
    DrawPixels<Source, Destination, NoMask>(at, rows, source, noMask, out, spans.keepLeftEnd, spans.interiorStart);
    int32_t X = spans.interiorStart;
    const bool bothRows = rows.source[kUpperLeft] != nullptr && rows.source[kLowerLeft] != nullptr;
    if (bothRows && spans.interiorEnd > X) {
        const int64_t left = static_cast<int64_t>(X) - at.ix - 1;
        const InteriorRun run{PixelAt(rows.source[kUpperLeft], left), PixelAt(rows.source[kLowerLeft], left),
                              out + static_cast<ptrdiff_t>(X) * kBytesPerPixel, spans.interiorEnd - X};
        X += drawRun(InteriorRunArgs{&run, &weights});
    }
    DrawPixels<Source, Destination, NoMask>(at, rows, source, noMask, out, X, spans.keepRightStart);
    KeepColours<Destination>(out, spans.keepRightStart, width);
}

template <class Source, class Destination, class Mask>
void DrawRows(const Placement& at, PictureReader& destination, const ReadRows& source, const ReadRows& mask,
              YieldData& yieldRecord) {
    const bool lanesApply = !Mask::present && Source::valid && Destination::valid;
    const InteriorRunFunction drawRun = lanesApply ? DrawInteriorLanes(ActivePixelPath()) : nullptr;
    const InteriorWeights weights = InteriorWeightsOf<Source, Destination>(at);
    for (int32_t Y = 0; Y < destination.height; ++Y) {
        if (drawRun != nullptr) {
            DrawRowWithLanes<Source, Destination>(at, Y, source, destination.RowAddress(Y), destination.width, drawRun,
                                                  weights);
        } else if (Destination::valid) {  // a layout nothing can be written to keeps every pixel; the rows still yield
            DrawPixels<Source, Destination, Mask>(at, NeighboursOfRow(at, Y, source, mask), source, mask,
                                                  destination.RowAddress(Y), 0, destination.width);
        }
        yieldRecord.YieldPoint();
    }
}

void Draw(const Placement& at, PictureReader& destination, int32_t sourceFormat, const ReadRows& source,
          const PictureReader* maskView, YieldData& yieldRecord) {
    WithLayouts(sourceFormat, destination.pixelFormat, [&](auto from, auto to) {
        using Source = decltype(from);
        using Destination = decltype(to);
        if (maskView == nullptr) {
            DrawRows<Source, Destination, NoMask>(at, destination, source, ReadRows{}, yieldRecord);
            return;
        }
        WithLayout(maskView->pixelFormat, [&](auto maskLayout) {
            DrawRows<Source, Destination, MaskIn<decltype(maskLayout)>>(at, destination, source, RowsOf(*maskView),
                                                                        yieldRecord);
        });
    });
}

}  // namespace

bool DrawPictureF(REALpicture destination, REALpicture pic, double x, double y, double alpha, int32_t yield) {
    if (destination == nullptr) {
        RaiseException("NilObjectException", "source is nil", REALencodingASCII, 0);
        return false;
    }
    if (pic == nullptr) {
        RaiseException("NilObjectException", "picture is nil", REALencodingASCII, 0);
        return false;
    }
    Placement at;
    if (!PlaceSource(x, y, alpha, at)) return false;

    // Declared in this order so that they go in the order source view,
    // destination view, mask view, mask reference, on every path.
    HostPictureRef mask(REALGetPictureMask(pic, false));
    PictureReader maskView;
    PictureReader destinationView;
    PictureReader sourceView;
    if (mask && !maskView.GetPictureEditor(mask.get(), true, true)) return false;
    if (!destinationView.GetPictureEditor(destination, true, true)) return false;
    if (!sourceView.GetPictureEditor(pic, true, false)) return false;

    CBuffer<uint32_t> snapshot;
    if (pic == destination && sourceView.width > 0 && sourceView.height > 0) {
        snapshot = SnapshotOf(sourceView);
        if (!snapshot) return false;
    }

    YieldData yieldRecord;
    yieldRecord.Start(yield);
    yieldRecord.YieldPoint();
    Draw(at, destinationView, sourceView.pixelFormat, RowsOf(sourceView, snapshot.get()),
         mask ? &maskView : nullptr, yieldRecord);
    yieldRecord.YieldPoint();
    return true;
}
