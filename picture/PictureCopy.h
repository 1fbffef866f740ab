// Copying one host picture into another without scaling: through the host's
// own drawing when it offers it, otherwise row by row between console buffers.
#pragma once

#include "plugin/REALplugin.h"

// Asks the destination's Graphics object to draw source; falls back to
// OwnCopy when the host has no Graphics object or DrawPicture method. The
// destination must not be nil.
void GraphicsDrawPicture(REALpicture destination, REALpicture source, int32_t x, int32_t y, int32_t w, int32_t h,
                         int32_t sx, int32_t sy, int32_t sw, int32_t sh);

// Copies every row of source's console buffer into destination's, raw words,
// when both lock as console buffers of the same size. The rectangles serve
// only to refuse a scaled copy; the whole buffer is always copied.
bool OwnCopy(REALpicture destination, REALpicture source, int32_t x, int32_t y, int32_t w, int32_t h, int32_t sx,
             int32_t sy, int32_t sw, int32_t sh);
