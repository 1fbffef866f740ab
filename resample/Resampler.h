// ScalingZPX and its two passes.
#pragma once

#include "plugin/REALplugin.h"

class PictureReader;
class PictureWriter;
struct ContributionList;
struct YieldData;

// ScalingZPX(mode, width, height, yield) as picture: a new picture resampled
// with the kernel of mode (1..7), or nil.
REALpicture PictureScalingZPX(REALpicture picture, int32_t mode, int32_t width, int32_t height, int32_t yield);

// Horizontal pass: every source row into
// `width` packed pixels of buffer, row k at word k * width.
void ResampleRows(PictureReader& reader, const ContributionList* lists, uint32_t* buffer, int32_t width);

// Vertical pass: every column of buffer into the writer's rows, with a yield
// point after each row.
void ResampleColumns(PictureWriter& writer, const ContributionList* lists, const uint32_t* buffer, int32_t width,
                     YieldData& yieldRecord);
