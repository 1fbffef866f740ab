// The box scaler's row on lanes (BoxLanes.cpp), for boxes of at most 257
// pixels. It gives the plain row's bytes because every step is exact:
//
// - Sums: a channel sum of such a box is at most 255 * 257 = 65535, so 16-bit
//   lanes hold it. For each destination row the box's source rows are summed
//   per column, and a running (prefix) sum along the row turns the sum over
//   boxW columns into one subtraction; lanes wrap at 16 bits, and the
//   difference of two wrapped running sums is the true box sum because that
//   sum fits 16 bits.
// - Means: trunc((0.5 + S) / A) in double equals floor(S / A). The exact
//   quotient (2S + 1) / (2A) is never an integer and lies at least 1 / (2A)
//   from one, while rounding the double quotient moves it by at most
//   256 * 2^-53; so truncation gives floor(S / A), which Divide16 computes
//   (lanes/Divisors.h). The unit tests prove the chain against the double
//   formula for every sum of every such area.
#pragma once

#include <cstdint>

#include "lanes/PixelPath.h"
#include "picture/CBuffer.h"
#include "picture/PictureEditor.h"
#include "scale/BoxPixels.h"

// What the lane row keeps for one call: the box's first source column for
// every destination column (padded past a whole vector), one row of running
// sums, and which source row they were summed for.
struct BoxLaneTables {
    CBuffer<int32_t> columnStart;
    CBuffer<uint64_t> prefix;
    int32_t summedRow = -1;
};

// The lane row for this call, its tables prepared; null (nothing allocated
// that stays) when the plain row has to do the work: no lane set, a box of
// more than 257 pixels or one that would leave the source, a layout nothing
// is written in, or a table that cannot be allocated.
BoxRowFunction BoxLaneRow(PixelPath path, const PictureReader& reader, const PictureWriter& writer, const Box& box,
                          BoxLaneTables& tables);

// The mean of a box sum as the lane row computes it, for the tests.
uint32_t BoxMeanOnLanes(uint32_t sum, int64_t area);
constexpr int64_t kLargestLaneBox = 257;
