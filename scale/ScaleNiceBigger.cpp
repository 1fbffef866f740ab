// The anti-aliased enlarger: every byte of the 32-bit pixel (alpha included)
// is interpolated on its own with a separable four-tap filter whose two outer
// taps weigh 0 and whose middle taps blend the two nearest source samples by
// the cubic Hermite step s = 3t^2 - 2t^3. A vertical pass fills a one-row
// float buffer for all source columns; a horizontal pass reads it for every
// destination column.
//
// Precision is part of the result: weights, sums and products are floats, and
// the sums run in the stated tap order (outer, middle, middle, outer). The
// outer taps are kept in the weight tables but not read: a float byte times
// +0.0f is +0.0f, and adding +0.0f leaves a non-negative float sum unchanged,
// so the two-tap sums below are bit for bit the four-tap ones.
//
// The passes work on byte offsets inside the pixel word, not on channels, so
// they need no layout: each byte of a result pixel comes from the same byte of
// the source pixels.
//
// Outside the plain pixel path a vector twin (ScaleNiceBiggerLanes) computes
// the same bytes row by row, all four bytes of a row at once. It keeps its
// rows in the column buffer, sized for them, so the call asks for the same
// five tables either way.
#include <algorithm>

#include "picture/PictureEditor.h"
#include "plugin/CBuffer.h"
#include "plugin/HostRefs.h"
#include "plugin/PixelPath.h"
#include "plugin/Yield.h"
#include "scale/ScaleNiceBiggerLanes.h"
#include "scale/Scalers.h"

namespace {

// Extra bytes at the end of every table, beyond its entries.
constexpr int64_t kTableSlack = 20;
constexpr int32_t kTapsPerEntry = 4;

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
// vector twin keeps all four bytes of a row and its taps there instead).
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

inline int32_t ClampIndex(int32_t index, int32_t length) { return std::min(std::max(index, 0), length - 1); }

inline uint8_t ClampToByte(float value) {
    if (value <= 0.0f) return 0;
    if (value >= 255.0f) return 255;
    return static_cast<uint8_t>(value);
}

// Byte `offset` of every source pixel, interpolated between the two source
// rows around destination row y: 0 + p(k-1) w3 + p(k) w2 + p(k+1) w1 + p(k+2) w0.
void InterpolateColumns(const PictureReader& reader, const SmoothTables& tables, int32_t y, int32_t offset) {
    const int32_t k = tables.yIndex[y];
    const float* w = tables.yWeights.get() + static_cast<ptrdiff_t>(y) * kTapsPerEntry;
    const uint8_t* upper = reader.RowAddress(ClampIndex(k, reader.height)) + offset;
    const uint8_t* lower = reader.RowAddress(ClampIndex(k + 1, reader.height)) + offset;
    float* columns = tables.columns.get();
    const ptrdiff_t step = reader.bytesPerPixel;
    for (int32_t x = 0; x < reader.width; ++x) {
        const ptrdiff_t at = x * step;
        columns[x] = static_cast<float>(upper[at]) * w[2] + static_cast<float>(lower[at]) * w[1];
    }
}

// Destination row y, byte `offset`: p(k-1) w3 + 0.5 + p(k) w2 + p(k+1) w1 +
// p(k+2) w0 from the column buffer, rounded half up by the 0.5 and clamped.
void InterpolateRow(PictureWriter& writer, const SmoothTables& tables, int32_t sourceWidth, int32_t y, int32_t offset) {
    const float* columns = tables.columns.get();
    uint8_t* out = writer.RowAddress(y) + offset;
    const ptrdiff_t step = writer.bytesPerPixel;
    for (int32_t x = 0; x < writer.width; ++x) {
        const int32_t k = tables.xIndex[x];
        const float* w = tables.xWeights.get() + static_cast<ptrdiff_t>(x) * kTapsPerEntry;
        const float value =
            (0.5f + columns[ClampIndex(k, sourceWidth)] * w[2]) + columns[ClampIndex(k + 1, sourceWidth)] * w[1];
        out[x * step] = ClampToByte(value);
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

// One full pass over the result per byte of the pixel, in memory order.
void InterpolateBytes(const PictureReader& reader, PictureWriter& writer, const SmoothTables& tables) {
    for (int32_t offset = 0; offset < reader.bytesPerPixel; ++offset) {
        for (int32_t y = 0; y < writer.height; ++y) {
            InterpolateColumns(reader, tables, y, offset);
            InterpolateRow(writer, tables, reader.width, y, offset);
            yield.YieldPoint();
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
        const PixelPath path = ActivePixelPath();
        const bool lanes = EnlargeLanesRun(path, reader, writer);
        SmoothTables tables = AllocateTables(width, height, lanes ? EnlargeLaneBytes(reader.width, width) : 0);
        // Without its tables the new picture is dropped unrendered, by the
        // writer's destructor, and the caller falls back to box scaling.
        if (!tables.Complete()) return nullptr;
        FillTables(tables, reader.width, reader.height, width, height);
        yield.YieldPoint();
        if (lanes) {
            const SmoothAxis x{tables.xIndex.get(), tables.xWeights.get()};
            const SmoothAxis y{tables.yIndex.get(), tables.yWeights.get()};
            EnlargeWithLanes(path, reader, writer, x, y, tables.columns.get());
        } else {
            InterpolateBytes(reader, writer, tables);
        }
    }
    result.reset(writer.RenderPictureWriter());
    reader.ReleasePicture();
    return result.release();
}
