// The vector twins of the two resampling passes. They compute exactly the sums
// of the plain passes in Resampler.cpp: every accumulator still adds its taps
// one by one in stored order; what runs side by side is channels of one pixel
// and pixels of one row, never the taps of one sum.
//
// Horizontal pass: a channel (8 bits) times a float weight (24 bits) is exact
// in double, so decoding the row to doubles once and multiplying there gives
// the plain pass's products bit for bit. Red and green share one two-lane
// vector, blue the other, and two destination pixels are summed together to
// keep the adders busy.
//
// Vertical pass: each product is formed in float and widened, as in the plain
// pass; the accumulators are kept per column across a stretch of the row, so
// the taps walk the intermediate buffer row by row instead of down columns.
#pragma once

#include <cstdint>
#include <cstring>

#include "picture/PictureEditor.h"
#include "picture/PixelFormat.h"
#include "plugin/CBuffer.h"
#include "plugin/Yield.h"
#include "resample/Contributions.h"

// accumulator / weightSum + 0.5, truncated toward zero and clamped. Clamping
// before the conversion gives the same value for every finite input and keeps
// a vanishing weightSum from overflowing the conversion.
inline uint32_t NormalisedChannel(double accumulator, float weightSum) {
    const double value = accumulator / static_cast<double>(weightSum) + 0.5;
    if (!(value > 0.0)) return 0;
    if (value >= 255.0) return 255;
    return static_cast<uint32_t>(value);
}

inline uint32_t PackIntermediate(uint32_t red, uint32_t green, uint32_t blue) {
    return (red << 16) | (green << 8) | blue;
}

// One result pixel of column i by the vertical pass's arithmetic, for the
// columns left over after the vector groups.
template <class Destination>
inline uint32_t ResampledColumnPixel(const ContributionList& list, const uint32_t* buffer, int32_t width, int32_t i) {
    if (list.count == 0) return Encode<Destination>(0, 0, 0);
    double red = 0.0, green = 0.0, blue = 0.0;
    for (int32_t t = 0; t < list.count; ++t) {
        const float weight = list.entries[t].weight;
        const uint32_t word = buffer[static_cast<ptrdiff_t>(list.entries[t].pixel) * width + i];
        red += static_cast<double>(static_cast<float>((word >> 16) & 0xFFu) * weight);
        green += static_cast<double>(static_cast<float>((word >> 8) & 0xFFu) * weight);
        blue += static_cast<double>(static_cast<float>(word & 0xFFu) * weight);
    }
    return Encode<Destination>(NormalisedChannel(red, list.weightSum), NormalisedChannel(green, list.weightSum),
                               NormalisedChannel(blue, list.weightSum));
}

namespace resample_vector {

typedef double Double2 __attribute__((vector_size(16)));

struct DecodedPixel {
    Double2 redGreen;
    Double2 blueZero;
};

template <class Source>
void DecodeRow(const uint8_t* row, int32_t count, int32_t bytesPerPixel, DecodedPixel* out) {
    for (int32_t x = 0; x < count; ++x, row += bytesPerPixel) {
        const uint32_t word = LoadPixel(row);
        out[x].redGreen = Double2{static_cast<double>(RedOf<Source>(word)), static_cast<double>(GreenOf<Source>(word))};
        out[x].blueZero = Double2{static_cast<double>(BlueOf<Source>(word)), 0.0};
    }
}

struct Sum {
    Double2 redGreen = {0.0, 0.0};
    Double2 blueZero = {0.0, 0.0};

    void Add(const DecodedPixel& pixel, float weight) {
        const double w = static_cast<double>(weight);
        const Double2 weights = {w, w};
        redGreen += pixel.redGreen * weights;
        blueZero += pixel.blueZero * weights;
    }
    uint32_t Packed(const ContributionList& list) const {
        if (list.count == 0) return 0;
        return PackIntermediate(NormalisedChannel(redGreen[0], list.weightSum),
                                NormalisedChannel(redGreen[1], list.weightSum),
                                NormalisedChannel(blueZero[0], list.weightSum));
    }
};

// Zero-weight taps are skipped by the plain pass; adding their +0.0 products
// leaves every accumulator unchanged, so they are simply added here.
inline void SumTwo(const DecodedPixel* row, const ContributionList& first, const ContributionList& second,
                   uint32_t* out) {
    Sum a, b;
    const int32_t both = first.count < second.count ? first.count : second.count;
    int32_t t = 0;
    for (; t < both; ++t) {
        a.Add(row[first.entries[t].pixel], first.entries[t].weight);
        b.Add(row[second.entries[t].pixel], second.entries[t].weight);
    }
    for (int32_t u = t; u < first.count; ++u) a.Add(row[first.entries[u].pixel], first.entries[u].weight);
    for (int32_t u = t; u < second.count; ++u) b.Add(row[second.entries[u].pixel], second.entries[u].weight);
    out[0] = a.Packed(first);
    out[1] = b.Packed(second);
}

inline void SumFour(const DecodedPixel* row, const ContributionList* lists, uint32_t* out) {
    Sum a, b, c, d;
    int32_t both = lists[0].count;
    for (int32_t k = 1; k < 4; ++k) both = lists[k].count < both ? lists[k].count : both;
    const Contribution* ea = lists[0].entries;
    const Contribution* eb = lists[1].entries;
    const Contribution* ec = lists[2].entries;
    const Contribution* ed = lists[3].entries;
    int32_t t = 0;
    for (; t < both; ++t) {
        a.Add(row[ea[t].pixel], ea[t].weight);
        b.Add(row[eb[t].pixel], eb[t].weight);
        c.Add(row[ec[t].pixel], ec[t].weight);
        d.Add(row[ed[t].pixel], ed[t].weight);
    }
    for (int32_t u = t; u < lists[0].count; ++u) a.Add(row[ea[u].pixel], ea[u].weight);
    for (int32_t u = t; u < lists[1].count; ++u) b.Add(row[eb[u].pixel], eb[u].weight);
    for (int32_t u = t; u < lists[2].count; ++u) c.Add(row[ec[u].pixel], ec[u].weight);
    for (int32_t u = t; u < lists[3].count; ++u) d.Add(row[ed[u].pixel], ed[u].weight);
    out[0] = a.Packed(lists[0]);
    out[1] = b.Packed(lists[1]);
    out[2] = c.Packed(lists[2]);
    out[3] = d.Packed(lists[3]);
}

inline void SumOne(const DecodedPixel* row, const ContributionList& list, uint32_t* out) {
    Sum a;
    for (int32_t t = 0; t < list.count; ++t) a.Add(row[list.entries[t].pixel], list.entries[t].weight);
    out[0] = a.Packed(list);
}

}  // namespace resample_vector

// False when the decoded row cannot be had; the caller then runs the plain pass.
template <class Source>
bool ResampleRowsVector(PictureReader& reader, const ContributionList* lists, uint32_t* buffer, int32_t width) {
    using namespace resample_vector;
    CBuffer<DecodedPixel> decoded = AllocateZeroed<DecodedPixel>(reader.width);
    if (!decoded && reader.width > 0) return false;
    for (int32_t k = 0; k < reader.height; ++k) {
        DecodeRow<Source>(reader.currentRow, reader.width, reader.bytesPerPixel, decoded.get());
        uint32_t* out = buffer + static_cast<ptrdiff_t>(k) * width;
        int32_t i = 0;
        for (; i + 3 < width; i += 4) SumFour(decoded.get(), lists + i, out + i);
        for (; i + 1 < width; i += 2) SumTwo(decoded.get(), lists[i], lists[i + 1], out + i);
        if (i < width) SumOne(decoded.get(), lists[i], out + i);
        reader.NextRow();
    }
    return true;
}

namespace resample_vector {

typedef uint32_t Word4 __attribute__((vector_size(16)));
typedef int32_t Int4 __attribute__((vector_size(16)));
typedef float Float4 __attribute__((vector_size(16)));
typedef double Double4 __attribute__((vector_size(32)));

// Four columns of one channel: each product in float, widened, then added.
inline void AddColumns(Double4& sum, Word4 channel, Float4 weights) {
    const Float4 product = __builtin_convertvector(__builtin_convertvector(channel, Int4), Float4) * weights;
    sum += __builtin_convertvector(product, Double4);
}

constexpr int32_t kStretch = 256;

struct ColumnSums {
    Double4 red[kStretch / 4], green[kStretch / 4], blue[kStretch / 4];

    void Clear(int32_t groups) {
        for (int32_t g = 0; g < groups; ++g) red[g] = green[g] = blue[g] = Double4{0.0, 0.0, 0.0, 0.0};
    }
    void AddRow(const uint32_t* source, int32_t groups, float weight) {
        const Float4 weights = {weight, weight, weight, weight};
        const Word4 mask = {0xFFu, 0xFFu, 0xFFu, 0xFFu};
        for (int32_t g = 0; g < groups; ++g) {
            Word4 words;
            memcpy(&words, source + 4 * g, sizeof words);
            AddColumns(red[g], (words >> 16) & mask, weights);
            AddColumns(green[g], (words >> 8) & mask, weights);
            AddColumns(blue[g], words & mask, weights);
        }
    }
};

}  // namespace resample_vector

template <class Destination>
void ResampleColumnsVector(PictureWriter& writer, const ContributionList* lists, const uint32_t* buffer,
                           int32_t width, YieldData& yieldRecord) {
    using namespace resample_vector;
    ColumnSums sums;
    // Whole groups of four columns run side by side; the last few columns of
    // a row, if any, go through the plain arithmetic.
    const int32_t grouped = width & ~3;
    for (int32_t r = 0; r < writer.height; ++r) {
        const ContributionList& list = lists[r];
        writer.cursorX = 0;
        writer.cursorY = r;
        uint8_t* out = writer.RowAddress(r);
        if (!Destination::valid) {
            yieldRecord.YieldPoint();
            continue;
        }
        for (int32_t start = 0; start < grouped; start += kStretch) {
            const int32_t count = grouped - start < kStretch ? grouped - start : kStretch;
            const int32_t groups = count / 4;
            sums.Clear(groups);
            for (int32_t t = 0; t < list.count; ++t) {
                sums.AddRow(buffer + static_cast<ptrdiff_t>(list.entries[t].pixel) * width + start, groups,
                            list.entries[t].weight);
            }
            for (int32_t j = 0; j < count; ++j) {
                const uint32_t pixel =
                    list.count == 0 ? Encode<Destination>(0, 0, 0)
                                    : Encode<Destination>(NormalisedChannel(sums.red[j / 4][j % 4], list.weightSum),
                                                          NormalisedChannel(sums.green[j / 4][j % 4], list.weightSum),
                                                          NormalisedChannel(sums.blue[j / 4][j % 4], list.weightSum));
                StorePixel(out + static_cast<ptrdiff_t>(start + j) * writer.bytesPerPixel, pixel);
            }
        }
        for (int32_t i = grouped; i < width; ++i) {
            StorePixel(out + static_cast<ptrdiff_t>(i) * writer.bytesPerPixel,
                       ResampledColumnPixel<Destination>(list, buffer, width, i));
        }
        yieldRecord.YieldPoint();
    }
}
