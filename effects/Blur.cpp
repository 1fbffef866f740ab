// BlurZPX. The square average is two one-dimensional box filters: down the
// columns from the source into the result, then along each row of the result
// in place, reading from a copy of that row. Both passes slide their sums (one
// per column in the first, three in the second), so a pixel costs one addition
// and one subtraction per channel whatever the radius, and each average is a
// lookup in a table of quotients instead of a division. The arithmetic is in
// BlurPixels.h.
//
// Only red, green and blue are read; the result comes from the host's plain
// new-picture entry, so it has no alpha channel whatever the source has.
//
// Each pass is a row function chosen once per call: the plain row, or the
// lane row of the active pixel path (BlurLanes.h), whose working rows take
// the place of the row copy, so the call asks for the same five buffers
// either way. With yielding on, the passes run as stated, the first over
// every row and then the second, so host code that draws into the source
// during a hand-over sees the rows read in the stated order; with yielding
// off nothing can run between rows, and each result row is blurred down and
// along while it is in the cache.
//
// When a working buffer cannot be allocated the call gives nil. Handing out
// the new picture unwritten would give the caller an all-white picture that
// it could not tell from a real blur.
#include "effects/Blur.h"

#include <algorithm>
#include <cstring>

#include "effects/BlurLanes.h"
#include "effects/BlurPixels.h"
#include "lanes/PixelPath.h"
#include "picture/CBuffer.h"
#include "picture/PictureEditor.h"
#include "picture/PixelFormat.h"
#include "plugin/HostCallbacks.h"
#include "plugin/HostRefs.h"
#include "plugin/Yield.h"

namespace {

constexpr int32_t kLargestSide = 32767;
constexpr int32_t kResultDepth = 32;
// Bytes kept past the end of the column sums and of the row copy.
constexpr int64_t kBufferSlack = 20;
constexpr int32_t kChannelValues = 256;

// Radius truncated toward zero; 0 (no blur) for NaN, infinities and values
// that a 32-bit integer cannot hold.
int32_t WholeRadius(double Radius) {
    if (!(Radius > -2147483649.0 && Radius < 2147483648.0)) return 0;
    return static_cast<int32_t>(Radius);
}

bool SideAllowed(int32_t side) { return side >= 1 && side <= kLargestSide; }

struct BlurBuffers {
    // quotient[i] = i / (2r + 1) for every sum a window can reach, then 256 zeros.
    CBuffer<int32_t> quotient;
    // Sliding sums of the first pass, one per column.
    CBuffer<int32_t> red, green, blue;
    // The result row the second pass reads while it rewrites the row.
    CBuffer<uint8_t> row;

    // rowBufferBytes: the result's rowBytes + slack, or what the lane rows
    // keep there instead of the row copy (BlurLaneBytes).
    bool Allocate(int32_t r, int32_t width, int64_t rowBufferBytes) {
        const int64_t span = 2 * static_cast<int64_t>(r) + 1;
        quotient = AllocateZeroedBytes<int32_t>(span * 1024 + 1024);
        const int64_t sumBytes = 4 * static_cast<int64_t>(width) + kBufferSlack;
        red = AllocateZeroedBytes<int32_t>(sumBytes);
        green = AllocateZeroedBytes<int32_t>(sumBytes);
        blue = AllocateZeroedBytes<int32_t>(sumBytes);
        row = AllocateZeroedBytes<uint8_t>(rowBufferBytes);
        return quotient && red && green && blue && row;
    }
};

// Each quotient v fills span consecutive entries: the same table as
// dividing every index, without a division per entry.
void FillQuotients(int32_t* quotient, int32_t r) {
    const int32_t span = 2 * r + 1;
    for (int32_t value = 0; value < kChannelValues; ++value) {
        std::fill_n(quotient + static_cast<ptrdiff_t>(value) * span, span, value);
    }
}

inline int32_t Signed(uint32_t channel) { return static_cast<int32_t>(channel); }

struct ChannelSums {
    int32_t red = 0, green = 0, blue = 0;

    void Add(const RGB& c, int32_t times) {
        red += times * Signed(c.red);
        green += times * Signed(c.green);
        blue += times * Signed(c.blue);
    }
    void Slide(const RGB& entering, const RGB& leaving) {
        red += Signed(entering.red) - Signed(leaving.red);
        green += Signed(entering.green) - Signed(leaving.green);
        blue += Signed(entering.blue) - Signed(leaving.blue);
    }
};

template <class Layout>
inline RGB ChannelsAt(const uint8_t* row, int32_t x, int32_t bytesPerPixel) {
    return Decode<Layout>(LoadPixel(row + static_cast<ptrdiff_t>(x) * bytesPerPixel));
}

template <class Layout>
inline void StoreAverage(uint8_t* row, int32_t x, int32_t bytesPerPixel, const int32_t* quotient, int32_t span,
                         int32_t red, int32_t green, int32_t blue) {
    StorePixel(row + static_cast<ptrdiff_t>(x) * bytesPerPixel,
               Encode<Layout>(static_cast<uint32_t>(QuotientOf(quotient, span, red)),
                              static_cast<uint32_t>(QuotientOf(quotient, span, green)),
                              static_cast<uint32_t>(QuotientOf(quotient, span, blue))));
}

template <class Source>
void BlurRowFirst_Plain(const BlurRowArgs& row) {
    const PictureReader& source = *row.job->source;
    const uint8_t* pixels = source.RowAddress(row.line);
    for (int32_t x = 0; x < source.width; ++x) {
        const RGB c = ChannelsAt<Source>(pixels, x, source.bytesPerPixel);
        row.job->red[x] += row.times * Signed(c.red);
        row.job->green[x] += row.times * Signed(c.green);
        row.job->blue[x] += row.times * Signed(c.blue);
    }
}

// First pass: result row y averages source rows y - r .. y + r of its column;
// then the sums take in row y + r + 1 and let go of row y - r.
template <class Source, class Result>
void BlurRowV_Plain(const BlurRowArgs& row) {
    const BlurJob& job = *row.job;
    const PictureReader& source = *job.source;
    const int32_t y = row.line;
    if (Result::valid) {
        uint8_t* out = job.result->RowAddress(y);
        for (int32_t x = 0; x < source.width; ++x) {
            StoreAverage<Result>(out, x, job.result->bytesPerPixel, job.quotient, 2 * job.r + 1, job.red[x],
                                 job.green[x], job.blue[x]);
        }
    }
    const uint8_t* entering = source.RowAddress(Clamped(static_cast<int64_t>(y) + job.r + 1, source.height));
    const uint8_t* leaving = source.RowAddress(Clamped(static_cast<int64_t>(y) - job.r, source.height));
    for (int32_t x = 0; x < source.width; ++x) {
        const RGB added = ChannelsAt<Source>(entering, x, source.bytesPerPixel);
        const RGB removed = ChannelsAt<Source>(leaving, x, source.bytesPerPixel);
        job.red[x] += Signed(added.red) - Signed(removed.red);
        job.green[x] += Signed(added.green) - Signed(removed.green);
        job.blue[x] += Signed(added.blue) - Signed(removed.blue);
    }
}

// Second pass: every pixel of result row y averages pixels x - r .. x + r of
// the same row as the first pass left it, read from a copy.
template <class Result>
void BlurRowH_Plain(const BlurRowArgs& row) {
    const BlurJob& job = *row.job;
    const PictureWriter& result = *job.result;
    uint8_t* out = result.RowAddress(row.line);
    const uint8_t* copy = static_cast<const uint8_t*>(memcpy(job.rowCopy, out, static_cast<size_t>(result.rowBytes)));
    const int32_t width = result.width, r = job.r, step = result.bytesPerPixel;
    ChannelSums sums;
    ForFirstWindow(r, width, [&](int32_t x, int32_t times) { sums.Add(ChannelsAt<Result>(copy, x, step), times); });
    for (int32_t x = 0; x < width; ++x) {
        if (Result::valid) StoreAverage<Result>(out, x, step, job.quotient, 2 * r + 1, sums.red, sums.green, sums.blue);
        sums.Slide(ChannelsAt<Result>(copy, Clamped(static_cast<int64_t>(x) + r + 1, width), step),
                   ChannelsAt<Result>(copy, Clamped(static_cast<int64_t>(x) - r, width), step));
    }
}

// The lane rows read the bytes of a pixel in memory order, so they serve any
// source and result that keep red, green and blue in the same bytes.
template <class Source, class Result>
constexpr bool SameChannelBytes() {
    return Source::valid && Result::valid && Source::redShift == Result::redShift &&
           Source::greenShift == Result::greenShift && Source::blueShift == Result::blueShift;
}

// The rows for this call: the lane rows where they apply, else the plain ones.
template <class Source, class Result>
BlurRows RowsFor(PixelPath path, const PictureReader& source, const PictureWriter& result, int32_t r, bool yielding) {
    if (SameChannelBytes<Source, Result>() && source.bytesPerPixel == 4 && result.bytesPerPixel == 4) {
        const BlurRows lanes = BlurLaneRows(path, r, yielding);
        if (lanes.first != nullptr) return lanes;
    }
    return BlurRows{BlurRowFirst_Plain<Source>, BlurRowV_Plain<Source, Result>, BlurRowH_Plain<Result>};
}

void RunPasses(const BlurRows& rows, const BlurJob& job, YieldData& yieldRecord) {
    const int32_t height = job.source->height;
    ForFirstWindow(job.r, height, [&](int32_t line, int32_t times) { rows.first(BlurRowArgs{&job, line, times}); });
    if (yieldRecord.interval != 0) {
        for (int32_t y = 0; y < height; ++y) {
            rows.vertical(BlurRowArgs{&job, y, 1});
            yieldRecord.YieldPoint();
        }
        for (int32_t y = 0; y < height; ++y) {
            rows.horizontal(BlurRowArgs{&job, y, 1});
            yieldRecord.YieldPoint();
        }
        return;
    }
    for (int32_t y = 0; y < height; ++y) {
        rows.vertical(BlurRowArgs{&job, y, 1});
        rows.horizontal(BlurRowArgs{&job, y, 1});
    }
}

// Allocates the working buffers and runs the passes; false when a buffer is missing.
bool BlurWithBuffers(const PictureReader& source, PictureWriter& result, int32_t r, YieldData& yieldRecord) {
    const PixelPath path = ActivePixelPath();
    return WithLayouts(source.pixelFormat, result.pixelFormat, [&](auto from, auto to) {
        using Source = decltype(from);
        using Result = decltype(to);
        const BlurRows rows = RowsFor<Source, Result>(path, source, result, r, yieldRecord.interval != 0);
        const bool lanes = rows.first != BlurRowFirst_Plain<Source>;
        BlurBuffers buffers;
        const int64_t rowBufferBytes = lanes ? BlurLaneBytes(source.width, r, yieldRecord.interval != 0)
                                             : static_cast<int64_t>(result.rowBytes) + kBufferSlack;
        if (!buffers.Allocate(r, source.width, rowBufferBytes)) return false;
        const BlurJob job{&source,
                          &result,
                          r,
                          buffers.quotient.get(),
                          buffers.red.get(),
                          buffers.green.get(),
                          buffers.blue.get(),
                          buffers.row.get(),
                          buffers.row.get(),
                          Result::fourthShift / 8,
                          static_cast<uint8_t>(Result::fourthWritten >> Result::fourthShift)};
        // Only the plain rows divide through the table.
        if (!lanes) FillQuotients(buffers.quotient.get(), r);
        yieldRecord.YieldPoint();
        RunPasses(rows, job, yieldRecord);
        return true;
    });
}

// A plain picture the size of the source, opened for writing. The view holds
// a reference of its own, so the creation reference goes either way.
bool OpenPlainResult(PictureWriter& result, int32_t width, int32_t height) {
    HostPictureRef created(REALNewPicture(width, height, kResultDepth));
    if (!created) return false;
    if (!result.GetPictureEditor(created.get(), false, true)) return false;
    // Our own guard: a host that made another size would send the passes outside its rows.
    return result.width == width && result.height == height;
}

}  // namespace

REALpicture BlurZPX(REALpicture picture, double Radius, int32_t yield) {
    const int32_t r = WholeRadius(Radius);
    if (r < 1) {
        if (picture != nullptr) REALLockObject(picture);
        return picture;
    }
    PictureReader source;
    if (!source.GetPictureEditor(picture, true, false)) return nullptr;
    if (!SideAllowed(source.width) || !SideAllowed(source.height)) return nullptr;
    PictureWriter result;
    if (!OpenPlainResult(result, source.width, source.height)) return nullptr;

    YieldData yieldRecord;
    yieldRecord.Start(yield);
    const bool blurred = BlurWithBuffers(source, result, r, yieldRecord);
    yieldRecord.YieldPoint();
    // Owned from here so that nothing after the hand-over can leak it.
    HostPictureRef blurredPicture;
    if (blurred) blurredPicture.reset(result.RenderPictureWriter());
    source.ReleasePicture();
    return blurredPicture.release();
}
