// The smooth enlarger behind ScaleZPX and ScaleImageAndMaskZPX with
// AntiAlias: a vertical pass fills a one-row float buffer for all source
// columns, then a horizontal pass reads it for every destination column, one
// byte of the pixel at a time. The arithmetic is in SmoothPixels.h.
//
// Each destination row is one row function, chosen once per call: the plain
// row (one byte), or the lane row of the active pixel path (SmoothLanes.h),
// which computes all four bytes of a row while it is in the cache. With
// yielding on, the lane row runs once per byte as the plain passes do and
// stores only that byte, so host code that draws into the source during a
// hand-over sees the source read in the stated order. The lane row keeps its
// rows in the column buffer, sized for them, so the call asks for the same
// five tables either way.
#include <algorithm>

#include "lanes/PixelPath.h"
#include "picture/CBuffer.h"
#include "picture/PictureEditor.h"
#include "plugin/HostRefs.h"
#include "plugin/Yield.h"
#include "scale/Scalers.h"
#include "scale/SmoothLanes.h"
#include "scale/SmoothPixels.h"

namespace {

// Extra bytes at the end of every table, beyond its entries.
constexpr int64_t kTableSlack = 20;

// The five working tables of one call. Each has room for max(width, height)
// entries; the column buffer holds source columns, which is why the source
// must be narrower than the destination.
struct SmoothTables {
    CBuffer<int32_t> xIndex;
    CBuffer<int32_t> yIndex;
    CBuffer<float> xWeights;
    CBuffer<float> yWeights;
    CBuffer<float> columns;

    bool Complete() const { return xIndex && yIndex && xWeights && yWeights && columns; }
};

// All five are asked for, in this order, before any is checked.
// columnBytes: the column buffer's size, 0 for one float per entry (the
// lane row keeps all four bytes of a row and its taps there instead).
SmoothTables AllocateTables(int32_t width, int32_t height, int64_t columnBytes) {
    const int64_t entries = std::max(width, height);
    const int64_t indexBytes = static_cast<int64_t>(sizeof(int32_t)) * entries + kTableSlack;
    const int64_t weightBytes = static_cast<int64_t>(sizeof(float)) * kTapsPerEntry * entries + kTableSlack;
    if (columnBytes == 0) columnBytes = static_cast<int64_t>(sizeof(float)) * entries + kTableSlack;
    SmoothTables tables;
    tables.xIndex = AllocateZeroedBytes<int32_t>(indexBytes);
    tables.yIndex = AllocateZeroedBytes<int32_t>(indexBytes);
    tables.xWeights = AllocateZeroedBytes<float>(weightBytes);
    tables.yWeights = AllocateZeroedBytes<float>(weightBytes);
    tables.columns = AllocateZeroedBytes<float>(columnBytes);
    return tables;
}

// index[i] = i * sourceLength / length, truncating. The product is carried in
// 64 bits so that pictures whose sides multiply past 2^31 still index inside.
void FillIndices(int32_t* index, int32_t sourceLength, int32_t length) {
    int64_t position = 0;
    for (int32_t i = 0; i < length; ++i, position += sourceLength) {
        index[i] = static_cast<int32_t>(position / length);
    }
}

// Per entry w0..w3, applied to samples k + 2, k + 1, k, k - 1 with k the
// entry's index; t is the fraction that the index truncated away.
void FillWeights(float* weights, int32_t sourceLength, int32_t length) {
    const float divisor = static_cast<float>(length);
    int64_t position = 0;
    for (int32_t i = 0; i < length; ++i, position += sourceLength) {
        const float t = static_cast<float>(position % length) / divisor;
        const float cube = (t + t) * t * t;
        const float square = t * 3.0f * t;
        float* entry = weights + static_cast<ptrdiff_t>(i) * kTapsPerEntry;
        entry[0] = 0.0f;
        entry[1] = square - cube;
        entry[2] = cube - square + 1.0f;
        entry[3] = 0.0f;
    }
}

// Destination row y, byte `byte`: the two source rows around it blended into
// the column buffer, then the buffer blended into the row.
void SmoothRow_Plain(const SmoothRowArgs& row) {
    const SmoothJob& job = *row.job;
    const PictureReader& reader = *job.reader;
    const int32_t k = job.yIndex[row.y];
    const float* w = job.yWeights + static_cast<ptrdiff_t>(row.y) * kTapsPerEntry;
    const uint8_t* upper = reader.RowAddress(ClampIndex(k, reader.height)) + row.byte;
    const uint8_t* lower = reader.RowAddress(ClampIndex(k + 1, reader.height)) + row.byte;
    for (int32_t x = 0; x < reader.width; ++x) {
        const ptrdiff_t at = static_cast<ptrdiff_t>(x) * reader.bytesPerPixel;
        job.columns[x] = BlendColumn(upper[at], lower[at], w[2], w[1]);
    }
    PictureWriter& writer = *job.writer;
    uint8_t* out = writer.RowAddress(row.y) + row.byte;
    for (int32_t x = 0; x < writer.width; ++x) {
        const int32_t i = job.xIndex[x];
        const float* v = job.xWeights + static_cast<ptrdiff_t>(x) * kTapsPerEntry;
        out[static_cast<ptrdiff_t>(x) * writer.bytesPerPixel] = BlendRow(
            job.columns[ClampIndex(i, reader.width)], job.columns[ClampIndex(i + 1, reader.width)], v[2], v[1]);
    }
}

void FillTables(const SmoothTables& tables, int32_t sourceWidth, int32_t sourceHeight, int32_t width, int32_t height) {
    FillIndices(tables.xIndex.get(), sourceWidth, width);
    FillIndices(tables.yIndex.get(), sourceHeight, height);
    FillWeights(tables.xWeights.get(), sourceWidth, width);
    yield.YieldPoint();
    FillWeights(tables.yWeights.get(), sourceHeight, height);
    yield.YieldPoint();
}

// One pass over the result per byte of the pixel, in memory order, with a
// yield point after each row of each; a lane row that takes every byte at
// once passes a row's four yield points after it.
void InterpolateBytes(const SmoothJob& job, SmoothRowFunction row, bool everyByte) {
    const int32_t bytes = job.reader->bytesPerPixel;
    for (int32_t byte = 0; byte < (everyByte ? 1 : bytes); ++byte) {
        for (int32_t y = 0; y < job.writer->height; ++y) {
            row(SmoothRowArgs{&job, y, everyByte ? kEveryByte : byte});
            for (int32_t point = 0; point < (everyByte ? bytes : 1); ++point) yield.YieldPoint();
        }
    }
}

// The column buffer holds a source row in a table sized for the result, so
// only a source strictly smaller in both directions may be enlarged here.
bool EnlargesBothWays(const PictureReader& reader, int32_t width, int32_t height) {
    return reader.width >= 1 && reader.height >= 1 && reader.width < width && reader.height < height;
}

}  // namespace

REALpicture ScalePictureNiceBigger(REALpicture source, int32_t width, int32_t height) {
    PictureReader reader;
    if (!reader.GetPictureEditor(source, true, false)) return nullptr;
    if (!EnlargesBothWays(reader, width, height)) return nullptr;
    PictureWriter writer;
    if (!writer.NewPictureWriter(reader, width, height)) return nullptr;
    HostPictureRef result;
    {
        const SmoothRowFunction lanes = SmoothLaneRow(ActivePixelPath(), reader, writer);
        SmoothTables tables = AllocateTables(width, height, lanes ? SmoothLaneBytes(reader.width, width) : 0);
        // Without its tables the new picture is dropped unrendered, by the
        // writer's destructor, and the caller falls back to box scaling.
        if (!tables.Complete()) return nullptr;
        FillTables(tables, reader.width, reader.height, width, height);
        yield.YieldPoint();
        SmoothJob job{&reader,
                      &writer,
                      tables.xIndex.get(),
                      tables.yIndex.get(),
                      tables.xWeights.get(),
                      tables.yWeights.get(),
                      tables.columns.get()};
        if (lanes != nullptr) PrepareSmoothLaneRow(job);
        InterpolateBytes(job, lanes != nullptr ? lanes : SmoothRow_Plain, lanes != nullptr && yield.interval == 0);
    }
    result.reset(writer.RenderPictureWriter());
    reader.ReleasePicture();
    return result.release();
}
