// BlurZPX: a box-blurred copy of a picture.
#pragma once

#include "plugin/REALplugin.h"

// BlurZPX(Radius, yield) as picture: a new opaque picture of the same size in
// which every pixel averages the (2r + 1) x (2r + 1) square around it, r being
// the whole part of Radius. A radius below 1 gives the receiver itself with
// one more reference; nil when the blur cannot run.
REALpicture BlurZPX(REALpicture picture, double Radius, int32_t yield);
