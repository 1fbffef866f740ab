// The arithmetic of BlurZPX's two box filters, and the rows both the plain
// passes and the lane rows are made of.
//
// Each pass truncates its own average: a result channel is
// floor(sum of 2r + 1 first-pass averages / (2r + 1)), which is not one
// division of the whole square by (2r + 1)^2. Do not merge the passes.
// Pixels beyond an edge repeat the edge pixel.
#pragma once

#include <algorithm>
#include <cstdint>

class PictureReader;
class PictureWriter;

// A line beyond an edge is the edge line.
inline int32_t Clamped(int64_t line, int32_t length) {
    return static_cast<int32_t>(std::min<int64_t>(std::max<int64_t>(line, 0), length - 1));
}

// The first pass's quotient table holds i / (2r + 1) for every sum a window
// can reach, 0 <= i < 256 (2r + 1). A sum outside it can only come from host
// code that drew into the source between a row's entering the window and its
// leaving it (both read the row as it is then): such a sum gives 0.
inline int32_t QuotientOf(const int32_t* quotient, int32_t span, int32_t sum) {
    return sum >= 0 && sum < 256 * span ? quotient[sum] : 0;
}

// Calls add(line, times) for each distinct line of the window -r..r around
// line 0 once its positions are clamped to 0..length - 1, with the number of
// positions that land on it. The first window then costs at most `length`
// lines, however large r is, and sums exactly what 2r + 1 clamped reads sum.
template <class Add>
inline __attribute__((always_inline)) void ForFirstWindow(int32_t r, int32_t length, Add&& add) {
    if (length == 1) {
        add(0, 2 * r + 1);
        return;
    }
    add(0, r + 1);
    const int32_t inner = std::min(r, length - 2);
    for (int32_t line = 1; line <= inner; ++line) add(line, 1);
    if (r >= length - 1) add(length - 1, r - length + 2);
}

// One call's views, radius and working memory. The plain rows use the
// quotient table, the three column sums and the row copy; the lane rows keep
// their own rows in `laneMemory` (which takes the row copy's place).
struct BlurJob {
    const PictureReader* source;
    PictureWriter* result;
    int32_t r;
    const int32_t* quotient;
    int32_t* red;
    int32_t* green;
    int32_t* blue;
    uint8_t* rowCopy;
    void* laneMemory;
    // The result's byte besides the averages: which of the four in memory
    // order it is, and its value.
    int32_t fourthByte;
    uint8_t fourthValue;
};

// A row of either pass: `line` is the source line added `times` times (the
// first window), or the result row (the passes).
struct BlurRowArgs {
    const BlurJob* job;
    int32_t line;
    int32_t times;
};
using BlurRowFunction = void (*)(const BlurRowArgs&);

// first: adds a source line to the column sums, `times` times; vertical:
// result row `line` from the column sums, which then slide one row down;
// horizontal: result row `line` averaged along itself, in place.
struct BlurRows {
    BlurRowFunction first, vertical, horizontal;
};
