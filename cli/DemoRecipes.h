// Demo panels that take more than one call or pictures the test picture does
// not hold: sprites drawn at sub-pixel steps, a draw through a round mask,
// icons scaled together with their transparency. Each is a DemoRecipe named
// in a row of DemoPanels().
#pragma once

#include "cli/Demo.h"

namespace zpxcli {

// DrawPictureFZPX: the source drawn on a plain grey ground once per x
// position in panel.arguments, each in a band of its own below the one
// before, the bands' x positions differing only in their fractions.
DemoResult DrawAtSubPixelSteps(Session& session, const DemoPanel& panel, const Image& source);

// DrawPictureFZPX: the source with a round, soft-edged mask drawn onto
// stripes, with panel.arguments x, y and alpha; the mask and the stripes are
// the result's inputs.
DemoResult DrawThroughRoundMask(Session& session, const DemoPanel& panel, const Image& source);

// ScaleImageAndMaskZPX with panel.arguments: the source with a round mask,
// the result with its mask as alpha; the mask is the result's input.
DemoResult ScaleWithRoundMask(Session& session, const DemoPanel& panel, const Image& source);

// As ScaleWithRoundMask, the round shape being the source's own alpha channel.
DemoResult ScaleWithRoundAlpha(Session& session, const DemoPanel& panel, const Image& source);

}  // namespace zpxcli
