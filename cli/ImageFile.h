// Image files as zpx reads and writes them: PNG through libpng, and the
// binary Netpbm family (PPM, PGM, PAM). Every reader turns its input into
// 8-bit RGBA with straight alpha; writers choose RGB or RGBA by whether the
// image has an alpha channel. Readers trust nothing in a header: sizes are
// checked against the bytes actually present and against fixed limits before
// any pixel memory is taken.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace zpxcli {

enum class ImageFormat { Png, Ppm, Pgm, Pam };

struct Image {
    int width = 0;
    int height = 0;
    bool hasAlpha = false;     // the file carried an alpha channel
    bool isGrey = false;       // the file carried grey levels only
    std::vector<uint8_t> rgba;  // width * height * 4 bytes, straight alpha, 255 when opaque

    static Image Blank(int width, int height, bool hasAlpha);
    uint8_t* PixelAt(int x, int y) { return &rgba[(static_cast<size_t>(y) * width + x) * 4]; }
    const uint8_t* PixelAt(int x, int y) const { return &rgba[(static_cast<size_t>(y) * width + x) * 4]; }
    // Three bytes per pixel, alpha dropped.
    std::vector<uint8_t> RGBBytes() const;
    // A rectangle of this image; it must lie inside.
    Image Crop(int left, int top, int cropWidth, int cropHeight) const;
};

// Anything wrong with a file or its contents; the message is one line that
// names the problem, not the file.
class ImageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Pictures larger than this on either side, or in total, are refused: the
// host makes no picture wider or taller than 32767, and a header alone must
// not be able to make zpx take gigabytes.
constexpr int kMaxImageSide = 32767;
constexpr int64_t kMaxImagePixels = int64_t(1) << 27;

// The format for a path's extension (.png .ppm .pgm .pam, any case); throws
// ImageError for any other.
ImageFormat FormatForPath(const std::string& path);
const char* FormatName(ImageFormat format);

// Reading. The Netpbm formats accept any of P5, P6 and P7 whichever of the
// three was named: the magic number says what the data is.
Image LoadImageFromMemory(const uint8_t* bytes, size_t size, ImageFormat format);
Image LoadImageFile(const std::string& path);

// Writing. A PGM keeps the grey level (luma for a colour image); PPM drops
// alpha; PNG and PAM keep it when the image has it.
std::vector<uint8_t> EncodeImage(const Image& image, ImageFormat format);
// Writes to a temporary file beside the target and renames it into place, so
// that a failure never leaves a partial file behind.
void SaveImageFile(const std::string& path, const Image& image);

// The same all-or-nothing write for any bytes (the demo's gallery page).
void WriteFileAtomically(const std::string& path, const void* bytes, size_t size);

}  // namespace zpxcli
