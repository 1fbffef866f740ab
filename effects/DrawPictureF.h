// DrawPictureFZPX: draws a picture into the receiver at a fractional position.
#pragma once

#include "plugin/REALplugin.h"

// DrawPictureFZPX(pic, x, y, alpha, yield) as boolean: draws pic with its
// top-left corner at (x, y) of destination, each pixel a bilinear mix of the
// four source pixels around it scaled by alpha (and thinned by pic's mask),
// blended with the destination by the weight they leave. True when drawn;
// false, with the destination untouched, when it cannot be. Nil pictures
// raise NilObjectException.
bool DrawPictureF(REALpicture destination, REALpicture pic, double x, double y, double alpha, int32_t yield);
