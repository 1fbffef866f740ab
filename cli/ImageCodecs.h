// The codecs behind ImageFile, one per family. Openers read the header and
// check it, and throw ImageError; encoders pass on what their sink throws.
#pragma once

#include "cli/ImageFile.h"
#include "cli/ImageInput.h"

namespace zpxcli {

std::unique_ptr<ImageReader> OpenPng(ImageInput& input);
void EncodePng(const ImageRows& rows, ByteSink& sink);

std::unique_ptr<ImageReader> OpenJpeg(ImageInput& input);
void EncodeJpeg(const ImageRows& rows, int quality, ByteSink& sink);

std::unique_ptr<ImageReader> OpenWebP(ImageInput& input);
void EncodeWebP(const ImageRows& rows, const std::optional<int>& quality, ByteSink& sink);

std::unique_ptr<ImageReader> OpenTiff(ImageInput& input);
void EncodeTiff(const ImageRows& rows, ByteSink& sink);

std::unique_ptr<ImageReader> OpenNetpbm(ImageInput& input);
void EncodeNetpbm(const ImageRows& rows, ImageFormat format, ByteSink& sink);

// Refuses a size that is empty or beyond the limits, before anything is allocated for it.
void CheckImageSize(int64_t width, int64_t height);

// Refuses a picture of more pixels than `bytes` of coded data could fill at
// `mostPixelsPerByte`, before anything is allocated for it.
void CheckDataCanFill(const char* format, int64_t width, int64_t height, uint64_t bytes, uint64_t mostPixelsPerByte);

// A reader for a format whose library decodes the whole picture at once: its
// rows are handed out from the decoded picture.
class DecodedImageReader : public ImageReader {
public:
    explicit DecodedImageReader(Image image);
    void ReadRow(uint8_t* rgba) override;

private:
    Image image_;
    int nextRow_ = 0;
};

// Rounded luma; a grey pixel keeps its level exactly.
inline uint8_t GreyLevel(const uint8_t* rgba) {
    return static_cast<uint8_t>((299 * rgba[0] + 587 * rgba[1] + 114 * rgba[2] + 500) / 1000);
}

// One row of rows as packed samples: grey or RGB, with alpha when the rows have it.
int ChannelsOf(const ImageRows& rows);
void PackRow(const uint8_t* rgba, int width, int channels, uint8_t* samples);

}  // namespace zpxcli
