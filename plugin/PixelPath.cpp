#include "plugin/PixelPath.h"

namespace {
PixelPath gPath = PixelPath::Vector;
}

PixelPath ActivePixelPath() { return gPath; }
void ForcePixelPath(PixelPath path) { gPath = path; }
