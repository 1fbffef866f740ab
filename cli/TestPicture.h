// The demo's built-in test picture, drawn in code so that the demo needs no
// files: a zone plate (every spatial frequency up to the sampling limit, so
// aliasing shows at once), colour and grey gradients (banding and colour
// shifts), gratings of one-pixel lines (how thin detail survives), sharp-edged
// shapes and rows of text-like blocks (ringing and blur at hard edges).
#pragma once

#include "cli/ImageFile.h"

namespace zpxcli {

constexpr int kTestPictureWidth = 640;
constexpr int kTestPictureHeight = 480;

// With alpha, the shapes quarter stands on a transparent ground and the disc
// is half transparent; otherwise every pixel is opaque.
Image MakeTestPicture(bool withAlpha);

}  // namespace zpxcli
