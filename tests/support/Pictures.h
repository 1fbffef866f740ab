// Pictures for the pixel tests, and the host configurations every pixel test
// runs in: each bitmap layout with padded rows, console and web buffers.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "host/Host.h"

namespace zpxtest {

struct HostSetup {
    std::string name;
    zpxhost::HostConfig config;
};

// Desktop plain layouts 1..6 (alpha pictures in layout 1 or 2 alternately),
// then console and web.
std::vector<HostSetup> EveryLayout();
inline void PrintTo(const HostSetup& setup, std::ostream* out) { *out << setup.name; }
std::string SetupName(const ::testing::TestParamInfo<HostSetup>& info);

using zpxhost::RGBA;
using PixelFunction = std::function<RGBA(int x, int y)>;

// A picture the test owns (one reference), filled by colour(x, y).
REALpicture MakePicture(zpxhost::Host& host, int width, int height, bool alpha, const PixelFunction& colour);
// A plain picture with the same grey level in red, green and blue: rows of values.
REALpicture MakeGrey(zpxhost::Host& host, const std::vector<std::vector<int>>& rows, bool alpha = false);

// Red channel of every pixel, row by row (colour as stored).
std::vector<std::vector<int>> RedRows(const zpxhost::Host& host, REALpicture picture);
// Every pixel as stored, row by row, compared in tests across layouts.
std::vector<RGBA> StoredPixels(const zpxhost::Host& host, REALpicture picture);

// A deterministic colourful pattern with edges and gradients.
RGBA TestPattern(int x, int y);

}  // namespace zpxtest

std::ostream& operator<<(std::ostream& out, const zpxhost::RGBA& pixel);
