// A plot of ScalingZPX's seven kernels, each kernel's weight against the
// distance from its centre, drawn from the library's own kernel functions
// for the demo's gallery. The legend is the gallery's text, in the colours
// of KernelColour.
#pragma once

#include "cli/ImageFile.h"

namespace zpxcli {

// Distances from -kPlotReach to kPlotReach source pixels are shown, in a
// picture of the demo's size.
constexpr int kPlotReach = 4;
constexpr int kKernelPlotWidth = 640;
constexpr int kKernelPlotHeight = 260;

// The curve colour of mode 1..7 as "#rrggbb".
const char* KernelColour(int mode);

// Grid lines one source pixel apart, darker at weight 0 and 1.
Image PlotKernels(int width, int height);

}  // namespace zpxcli
