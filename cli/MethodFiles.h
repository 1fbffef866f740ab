// What the method commands share with the demo, apart from the command
// line: image files read and written with errors that name the file, and
// ScalingZPX's kernels as people name them.
#pragma once

#include <string>
#include <vector>

#include "cli/ImageFile.h"

namespace zpxcli {

// The image at a path, or UsageError naming the file and what is wrong with it.
Image LoadInputImage(const std::string& path);
// Refuses an output path whose image type zpx does not write, or that names
// something no output may replace, before any work is done.
void CheckOutputPath(const std::string& path);
// The image to its file, without an alpha channel when it is opaque everywhere.
void SaveOutputImage(const std::string& path, const Image& image);

// A mask file for the picture read from picturePath: UsageError unless it is the picture's size.
Image LoadMaskImage(const std::string& path, const std::string& picturePath, int width, int height);

// ScalingZPX's kernels in mode order: kResampleKernels[mode - 1].
struct ResampleKernel {
    int mode;
    const char* name;         // what --mode accepts besides the number
    const char* description;  // for people
};
extern const ResampleKernel kResampleKernels[7];

}  // namespace zpxcli
