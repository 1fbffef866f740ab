// Direct scaling: the ScaleZPX entry and the scalers behind it, which the
// image-and-mask scaling uses too.
#pragma once

#include "plugin/REALplugin.h"

// ScaleZPX(width, height, AntiAlias, YieldTicks) as picture: the receiver
// itself for its current size, otherwise a new picture or nil.
REALpicture ScalePicture(REALpicture picture, int32_t width, int32_t height, bool AntiAlias, int32_t YieldTicks);

// Box averaging: every destination pixel averages a fixed box of source
// pixels (one pixel when enlarging). Red, green and blue only; the result is
// opaque. Yields on the global record, which the caller has set.
REALpicture ScalePictureFast(REALpicture source, int32_t width, int32_t height);
