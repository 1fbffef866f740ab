// The vector twin of the smooth enlargement's two passes. Each byte of the
// pixel is still interpolated on its own with the same float products and
// sums in the same order; what changes is that all four bytes of a result row
// are computed together, many lanes at a time, while the row is in the cache,
// instead of in four sweeps over the whole result.
#pragma once

#include <cstdint>

#include "picture/PictureEditor.h"
#include "plugin/PixelPath.h"

// The axis tables of the plain passes: index[i] and the four weights of entry i.
struct SmoothAxis {
    const int32_t* index;
    const float* weights;
};

// Whether the vector twin runs for these views on this pixel path: it needs
// x86, 4 bytes per pixel on both sides and a working buffer of a size that
// may be asked for.
bool EnlargeLanesRun(PixelPath path, const PictureReader& reader, const PictureWriter& writer);

// Bytes of working memory the twin takes for a source and a result width.
int64_t EnlargeLaneBytes(int32_t sourceWidth, int32_t width);

// Enlarges reader into writer (the reader strictly smaller both ways) with
// the instruction set of `path`, yielding on the global record where the
// plain passes yield, in `memory` of EnlargeLaneBytes.
void EnlargeWithLanes(PixelPath path, const PictureReader& reader, PictureWriter& writer, SmoothAxis x, SmoothAxis y,
                      void* memory);
