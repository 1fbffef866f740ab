// The smooth enlargement's row on lanes (SmoothLanes.cpp). Each byte of the
// pixel is still interpolated on its own with the same float products and
// sums in the same order; what changes is that all four bytes of a result
// row are computed together, many lanes at a time, while the row is in the
// cache: a float product or sum is the same rounded value whichever lane
// forms it.
#pragma once

#include <cstdint>

#include "lanes/PixelPath.h"
#include "picture/PictureEditor.h"
#include "scale/SmoothPixels.h"

// The lane row for these views on this path, or null: it needs a lane set,
// 4 bytes per pixel on both sides and working memory of a size that may be
// asked for at all (or the call would give nil where the plain rows enlarge).
SmoothRowFunction SmoothLaneRow(PixelPath path, const PictureReader& reader, const PictureWriter& writer);

// Bytes of the column buffer the lane row takes for a source and a result width.
int64_t SmoothLaneBytes(int32_t sourceWidth, int32_t width);

// Lays out every destination column's taps in the column buffer, after the
// row of source floats; once per call, before the first row.
void PrepareSmoothLaneRow(const SmoothJob& job);
