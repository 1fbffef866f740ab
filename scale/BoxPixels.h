// The arithmetic of the box scaler (ScaleBox.cpp): each destination pixel is
// the mean of a ceil(xRatio) x ceil(yRatio) box whose corner is the truncated
// source position; when enlarging the box is one pixel and this is
// nearest-neighbour.
//
// The mean is (0.5 + sum) / area in double, truncated. Channel values are
// small integers, so summing them as integers and adding the 0.5 afterwards
// gives exactly the double running sum that starts at 0.5.
#pragma once

#include <cmath>
#include <cstdint>

class PictureReader;
class PictureWriter;

struct Box {
    double xRatio;
    double yRatio;
    int32_t width;
    int32_t height;
    double area;
};

inline Box BoxFor(int32_t sourceWidth, int32_t sourceHeight, int32_t width, int32_t height) {
    Box box;
    box.xRatio = static_cast<double>(sourceWidth) / static_cast<double>(width);
    box.yRatio = static_cast<double>(sourceHeight) / static_cast<double>(height);
    box.width = static_cast<int32_t>(std::ceil(box.xRatio));
    box.height = static_cast<int32_t>(std::ceil(box.yRatio));
    box.area = static_cast<double>(static_cast<int64_t>(box.width) * box.height);
    return box;
}

inline uint32_t MeanChannel(uint64_t sum, double area) {
    return static_cast<uint32_t>((0.5 + static_cast<double>(sum)) / area);
}

inline int32_t SourceRowOf(int32_t y, const Box& box) {
    return static_cast<int32_t>(static_cast<double>(y) * box.yRatio);
}

inline int32_t SourceColumnOf(int32_t x, const Box& box) {
    return static_cast<int32_t>(box.xRatio * static_cast<double>(x));
}

// Destination row y, written at the writer's current row.
struct BoxRowArgs {
    const PictureReader* reader;
    PictureWriter* writer;
    const Box* box;
    int32_t y;
    // No yield point since the last row could have run host code that draws into the source.
    bool sourceUnchanged;
    void* laneTables;  // the lane row's (BoxLanes.h)
};
using BoxRowFunction = void (*)(const BoxRowArgs&);
