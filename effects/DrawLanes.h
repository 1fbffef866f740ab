// DrawPictureFZPX's pixel loop on lanes (DrawLanes.cpp), for the pixels whose four
// neighbours all lie inside an unmasked source. There every neighbour weighs
// its table weight and the remaining weight is the same for every pixel, so
// a run of such pixels is the same arithmetic repeated: per channel,
// trunc(c * w) of each neighbour in double, summed in 32-bit integers, plus
// trunc(d * remaining) of the destination when weight remains. The lanes do
// exactly that for several pixels at once: each channel is converted to
// double, multiplied by the same double weight and truncated by the
// processor's truncating conversion, which is C's for every value in the
// 32-bit range (the placement guard keeps each product and sum within it).
// Integer sums are exact in any order.
#pragma once

#include <cstdint>

#include "lanes/PixelPath.h"

// Where red, green and blue sit in a pixel word.
struct ChannelShifts {
    int32_t red, green, blue;
};

// One call's constants for its runs.
struct InteriorWeights {
    // Upper left, upper right, lower right, lower left.
    double weight[4];
    // The weight the four neighbours leave to the destination's old pixel;
    // used only when withDestination.
    double remaining;
    bool withDestination;
    ChannelShifts source, destination;
    uint32_t fourthWritten;
};

// Destination pixels X .. X + count - 1 of one row; upper and lower point at
// the upper-left and lower-left neighbours of pixel X in their source rows.
struct InteriorRun {
    const uint8_t* upper;
    const uint8_t* lower;
    uint8_t* out;
    int32_t count;
};

struct InteriorRunArgs {
    const InteriorRun* run;
    const InteriorWeights* weights;
};

// Draws the first pixels of the run, as many as whole vectors hold, and
// returns how many; the caller draws the rest. Null where the path has no
// lane set.
using InteriorRunFunction = int32_t (*)(const InteriorRunArgs& args);
InteriorRunFunction DrawInteriorLanes(PixelPath path);
