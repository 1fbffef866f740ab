// Direct scaling: the ScaleZPX and ScaleImageAndMaskZPX entries and the
// scalers behind them.
#pragma once

#include "plugin/REALplugin.h"

// ScaleZPX(width, height, AntiAlias, YieldTicks) as picture: the receiver
// itself for its current size, otherwise a new picture or nil. AntiAlias is
// the host's boolean byte: any non-zero value asks for smoothing.
REALpicture ScalePicture(REALpicture picture, int32_t width, int32_t height, REALboolean AntiAlias,
                         int32_t YieldTicks);

// ScaleImageAndMaskZPX(width, height, AntiAlias, YieldTicks) as picture: as
// ScaleZPX, and the picture's mask (or its alpha channel, as a mask) scaled
// the same way into the result's mask.
REALpicture ScalePictureImageAndMask(REALpicture picture, int32_t width, int32_t height, REALboolean AntiAlias,
                                     int32_t YieldTicks);

// The scaling of ScaleImageAndMaskZPX for a picture without an alpha channel,
// whose current size the caller has read. Leaves the yield record alone.
REALpicture ScaleImageAndMaskInternal(REALpicture picture, int32_t width, int32_t height, bool AntiAlias,
                                      int32_t currentWidth, int32_t currentHeight);

// Box averaging: every destination pixel averages a fixed box of source
// pixels (one pixel when enlarging). Red, green and blue only; the result is
// opaque. Yields on the global record, which the caller has set.
REALpicture ScalePictureFast(REALpicture source, int32_t width, int32_t height);

// Smooth enlargement, every byte of the pixel interpolated alike (alpha
// included). Nil unless the source is strictly smaller than width x height in
// both directions, and nil when its tables cannot be allocated: callers then
// use ScalePictureFast. Yields on the global record, which the caller has set.
REALpicture ScalePictureNiceBigger(REALpicture source, int32_t width, int32_t height);

// A picture's Width and Height as the host reports them: 0 for a query that
// fails, 0 x 0 for nil.
struct PictureSize {
    int32_t width;
    int32_t height;
};
PictureSize CurrentSize(REALpicture picture);

// Anti-aliasing is used only when the picture grows in both directions.
inline bool WantsSmoothScaling(bool AntiAlias, PictureSize current, int32_t width, int32_t height) {
    return AntiAlias && current.width < width && current.height < height;
}
