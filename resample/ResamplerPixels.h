// The arithmetic of one resampled pixel, as ScalingZPX states it. The plain
// passes are these functions applied pixel by pixel; the lane rows compute
// the same values many pixels at a time and use these for their scalar ends.
//
// Precision is part of the result: weights are floats; the horizontal pass
// forms each product in double (channel * widened weight), the vertical pass
// in float (float channel * weight) widened to double; both accumulate in
// double in the stored tap order, skipping taps of weight 0, divide by the
// list's weightSum, add 0.5 and truncate, clamped to 0..255. An empty list
// gives black.
#pragma once

#include <cstddef>
#include <cstdint>

#include "picture/PixelFormat.h"
#include "resample/Contributions.h"

// The intermediate buffer's word, between the passes: red in bits 16-23,
// green 8-15, blue 0-7, the fourth byte 0. Decoded and encoded like the
// picture layouts.
struct IntermediateLayout {
    static constexpr bool valid = true;
    static constexpr int redShift = 16, greenShift = 8, blueShift = 0, fourthShift = 24;
    static constexpr uint32_t fourthWritten = 0;
};

// accumulator / weightSum + 0.5, truncated toward zero and clamped. Clamping
// before the conversion gives the same value for every finite input and keeps
// a vanishing weightSum from overflowing the conversion.
inline uint32_t NormalisedChannel(double accumulator, float weightSum) {
    const double value = accumulator / static_cast<double>(weightSum) + 0.5;
    if (!(value > 0.0)) return 0;
    if (value >= 255.0) return 255;
    return static_cast<uint32_t>(value);
}

template <class Layout>
inline uint32_t NormalisedPixel(const ContributionList& list, double red, double green, double blue) {
    if (list.count == 0) return Encode<Layout>(0, 0, 0);
    return Encode<Layout>(NormalisedChannel(red, list.weightSum), NormalisedChannel(green, list.weightSum),
                          NormalisedChannel(blue, list.weightSum));
}

// Destination column i of one source row, as an intermediate word.
template <class Source>
inline uint32_t HorizontalPixel(const uint8_t* row, int32_t bytesPerPixel, const ContributionList& list) {
    double red = 0.0, green = 0.0, blue = 0.0;
    for (int32_t t = 0; t < list.count; ++t) {
        const Contribution& tap = list.entries[t];
        if (tap.weight == 0.0f) continue;
        const uint32_t word = LoadPixel(row + static_cast<ptrdiff_t>(tap.pixel) * bytesPerPixel);
        const double weight = static_cast<double>(tap.weight);
        red += static_cast<double>(RedOf<Source>(word)) * weight;
        green += static_cast<double>(GreenOf<Source>(word)) * weight;
        blue += static_cast<double>(BlueOf<Source>(word)) * weight;
    }
    return NormalisedPixel<IntermediateLayout>(list, red, green, blue);
}

// Column i of a result row from the intermediate buffer, as a word of the
// destination's layout.
template <class Destination>
inline uint32_t VerticalPixel(const ContributionList& list, const uint32_t* buffer, int32_t width, int32_t i) {
    double red = 0.0, green = 0.0, blue = 0.0;
    for (int32_t t = 0; t < list.count; ++t) {
        const Contribution& tap = list.entries[t];
        if (tap.weight == 0.0f) continue;
        const uint32_t word = buffer[static_cast<ptrdiff_t>(tap.pixel) * width + i];
        red += static_cast<double>(static_cast<float>(RedOf<IntermediateLayout>(word)) * tap.weight);
        green += static_cast<double>(static_cast<float>(GreenOf<IntermediateLayout>(word)) * tap.weight);
        blue += static_cast<double>(static_cast<float>(BlueOf<IntermediateLayout>(word)) * tap.weight);
    }
    return NormalisedPixel<Destination>(list, red, green, blue);
}

// ---- the rows, plain and on lanes alike ----

// Horizontal: one or two source rows into their rows of the intermediate buffer.
struct ResampleRowHArgs {
    const uint8_t* rows[2];
    const uint8_t* nextRows[2];  // the rows of the next call, to fetch ahead; null for the last
    uint32_t* out[2];
    int32_t rowCount;  // 1 or 2
    int32_t width;     // destination columns
    int32_t bytesPerPixel;
    const ContributionList* lists;
    const void* laneTables;  // what the lane rows prepared for this call (ResamplerLanes.h)
};

// Vertical: one result row from the intermediate buffer.
struct ResampleRowVArgs {
    const ContributionList* list;
    const ContributionList* nextList;  // the next row's, to fetch ahead; null for the last
    const uint32_t* buffer;
    int32_t width;
    uint8_t* out;
};

template <class Source>
void ResampleRowH_Plain(const ResampleRowHArgs& row) {
    for (int32_t r = 0; r < row.rowCount; ++r) {
        for (int32_t i = 0; i < row.width; ++i) {
            row.out[r][i] = HorizontalPixel<Source>(row.rows[r], row.bytesPerPixel, row.lists[i]);
        }
    }
}

template <class Destination>
void ResampleRowV_Plain(const ResampleRowVArgs& row) {
    for (int32_t i = 0; i < row.width && Destination::valid; ++i) {
        StorePixel(row.out + static_cast<ptrdiff_t>(i) * 4,
                   VerticalPixel<Destination>(*row.list, row.buffer, row.width, i));
    }
}
