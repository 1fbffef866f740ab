// The codecs behind ImageFile, one per family. Decoders throw ImageError.
#pragma once

#include "cli/ImageFile.h"

namespace zpxcli {

Image DecodePng(const uint8_t* bytes, size_t size);
std::vector<uint8_t> EncodePng(const Image& image);

Image DecodeNetpbm(const uint8_t* bytes, size_t size);
std::vector<uint8_t> EncodeNetpbm(const Image& image, ImageFormat format);

// Refuses a size that is empty or beyond the limits, before anything is allocated for it.
void CheckImageSize(int64_t width, int64_t height);

}  // namespace zpxcli
