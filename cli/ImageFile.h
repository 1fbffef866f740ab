// Image files as zpx reads and writes them: PNG through libpng, and the
// binary Netpbm family (PPM, PGM, PAM). Every reader turns its input into
// 8-bit RGBA with straight alpha; writers choose RGB or RGBA by whether the
// image has an alpha channel. Readers trust nothing in a header: sizes are
// checked against the bytes actually present and against fixed limits before
// any pixel memory is taken. Writers take the picture a row at a time and
// write into the output file as they go (OutputFiles.h says how a file is
// written whole or not at all).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace zpxcli {

class ImageInput;
struct ImageRows;

enum class ImageFormat { Png, Ppm, Pgm, Pam };

struct Image {
    int width = 0;
    int height = 0;
    bool hasAlpha = false;     // the file carried an alpha channel
    bool isGrey = false;       // the file carried grey levels only
    std::vector<uint8_t> rgba;  // width * height * 4 bytes, straight alpha, 255 when opaque

    static Image Blank(int width, int height, bool hasAlpha);
    static Image FromRows(const ImageRows& rows);
    uint8_t* PixelAt(int x, int y) { return &rgba[(static_cast<size_t>(y) * width + x) * 4]; }
    const uint8_t* PixelAt(int x, int y) const { return &rgba[(static_cast<size_t>(y) * width + x) * 4]; }
    // Three bytes per pixel, alpha dropped.
    std::vector<uint8_t> RGBBytes() const;
    // A rectangle of this image; it must lie inside.
    Image Crop(int left, int top, int cropWidth, int cropHeight) const;
};

// A picture as a writer takes it: its shape, and its rows on request, from
// the top, so that no whole copy of it need be made for the writing.
struct ImageRows {
    int width = 0;
    int height = 0;
    bool hasAlpha = false;
    bool isGrey = false;
    std::function<void(int y, uint8_t* rgba)> fill;  // width * 4 bytes of row y, straight alpha

    static ImageRows Of(const Image& image);  // the image must outlive the rows
};

// Anything wrong with a file or its contents. A reader's message names the
// problem, not the file; a writer's names the file too, since a command may
// write several.
class ImageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// "what: " and the text of errno.
ImageError SystemFailure(const char* what);

// Pictures larger than this on either side, or in total, are refused: the
// host makes no picture wider or taller than 32767, and a header alone must
// not be able to make zpx take gigabytes. The total is the largest picture
// zpx makes, too, so that it reads back whatever it writes.
constexpr int kMaxImageSide = 32767;
constexpr int64_t kMaxImagePixels = int64_t(1) << 27;

// The format for a path's extension (.png .ppm .pgm .pam, any case); throws
// ImageError for any other.
ImageFormat FormatForPath(const std::string& path);
const char* FormatName(ImageFormat format);

// Reading. The Netpbm formats accept any of P5, P6 and P7 whichever of the
// three was named: the magic number says what the data is.
Image ReadImage(ImageInput& input, ImageFormat format);
Image LoadImageFromMemory(const uint8_t* bytes, size_t size, ImageFormat format);
Image LoadImageFile(const std::string& path);

// Where a writer's bytes go. Write throws ImageError when they cannot go there.
class ByteSink {
public:
    virtual ~ByteSink() = default;
    virtual void Write(const uint8_t* bytes, size_t size) = 0;
};

// Writing. A PGM keeps the grey level (luma for a colour image); PPM drops
// alpha; PNG and PAM keep it when the image has it.
void EncodeImage(const ImageRows& rows, ImageFormat format, ByteSink& sink);
std::vector<uint8_t> EncodeImage(const Image& image, ImageFormat format);

// Each image to its path, typed by the path's extension: every file whole,
// or (on ImageError naming the file) none of them changed.
struct OutputImage {
    std::string path;
    ImageRows rows;
};
void SaveImageFiles(const std::vector<OutputImage>& images);
void SaveImageFile(const std::string& path, const Image& image);

// The same all-or-nothing write for any bytes (the demo's gallery page).
void WriteFileAtomically(const std::string& path, const void* bytes, size_t size);

}  // namespace zpxcli
