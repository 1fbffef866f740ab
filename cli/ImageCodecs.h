// The codecs behind ImageFile, one per family. Decoders throw ImageError;
// encoders pass on what their sink throws.
#pragma once

#include "cli/ImageFile.h"
#include "cli/ImageInput.h"

namespace zpxcli {

Image DecodePng(ImageInput& input);
void EncodePng(const ImageRows& rows, ByteSink& sink);

Image DecodeNetpbm(ImageInput& input);
void EncodeNetpbm(const ImageRows& rows, ImageFormat format, ByteSink& sink);

// Refuses a size that is empty or beyond the limits, before anything is allocated for it.
void CheckImageSize(int64_t width, int64_t height);

}  // namespace zpxcli
