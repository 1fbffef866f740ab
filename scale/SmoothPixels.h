// The arithmetic of the smooth enlargement (ScaleSmooth.cpp): every byte of
// the 32-bit pixel, alpha included, interpolated on its own with a separable
// four-tap filter whose two outer taps weigh 0 and whose middle taps blend
// the two nearest source samples by the cubic Hermite step s = 3t^2 - 2t^3.
//
// Precision is part of the result: weights, sums and products are floats, and
// the sums run in the stated tap order (outer, middle, middle, outer). The
// outer taps are kept in the weight tables but not read: a float byte times
// +0.0f is +0.0f, and adding +0.0f leaves a non-negative float sum unchanged,
// so the two-tap sums below are bit for bit the four-tap ones.
#pragma once

#include <algorithm>
#include <cstdint>

class PictureReader;
class PictureWriter;

constexpr int32_t kTapsPerEntry = 4;

inline int32_t ClampIndex(int32_t index, int32_t length) { return std::min(std::max(index, 0), length - 1); }

inline uint8_t ClampToByte(float value) {
    if (value <= 0.0f) return 0;
    if (value >= 255.0f) return 255;
    return static_cast<uint8_t>(value);
}

// Vertical: 0 + p(k-1) w3 + p(k) w2 + p(k+1) w1 + p(k+2) w0 of one byte.
inline float BlendColumn(uint8_t upper, uint8_t lower, float w2, float w1) {
    return static_cast<float>(upper) * w2 + static_cast<float>(lower) * w1;
}

// Horizontal: p(k-1) w3 + 0.5 + p(k) w2 + p(k+1) w1 + p(k+2) w0 from the
// column buffer, rounded half up by the 0.5 and clamped.
inline uint8_t BlendRow(float nearer, float further, float w2, float w1) {
    return ClampToByte((0.5f + nearer * w2) + further * w1);
}

// One call's views and tables: index[i] and the four weights of entry i per
// axis, and the column buffer.
struct SmoothJob {
    const PictureReader* reader;
    PictureWriter* writer;
    const int32_t* xIndex;
    const int32_t* yIndex;
    const float* xWeights;
    const float* yWeights;
    float* columns;
};

// Destination row y of byte `byte` (0..3 in memory order), or of every byte
// (kEveryByte) where the row function can.
constexpr int32_t kEveryByte = -1;
struct SmoothRowArgs {
    const SmoothJob* job;
    int32_t y;
    int32_t byte;
};
using SmoothRowFunction = void (*)(const SmoothRowArgs&);
