// Image files as zpx reads and writes them: PNG through libpng, JPEG through
// libjpeg-turbo, WebP through libwebp, TIFF through libtiff, and the binary
// Netpbm family (PPM, PGM, PAM). A file is read by what its first bytes say
// it is, and written in the format its name says. Every reader turns its
// picture into rows of 8-bit RGBA with straight alpha, a row at a time where
// the format allows, so that a picture can go from its file into a host
// picture without a whole copy in between. Readers trust nothing in a header:
// sizes are checked against the bytes actually present and against fixed
// limits before any pixel memory is taken. Writers take the picture a row at
// a time and write into the output file as they go (OutputFiles.h says how a
// file is written whole or not at all).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace zpxcli {

class ImageInput;

enum class ImageFormat { Png, Jpeg, WebP, Tiff, Ppm, Pgm, Pam };

// What a file says about its picture besides the pixels, carried from an
// input to the outputs made from it where their formats hold it.
struct ImageMetadata {
    std::vector<uint8_t> iccProfile;  // empty: none
    double xDotsPerInch = 0;          // 0: the file gives no resolution
    double yDotsPerInch = 0;

    bool HasResolution() const { return xDotsPerInch > 0 && yDotsPerInch > 0; }
};

// A picture's size and kind, known once its file's header is read.
struct ImageShape {
    int width = 0;
    int height = 0;
    bool hasAlpha = false;  // the pixels carry alpha
    bool isGrey = false;    // the pixels are grey levels only
    bool deep = false;      // the file had more than 8 bits a sample, read to 8
    ImageMetadata metadata;
};

struct ImageRows;

struct Image : ImageShape {
    std::vector<uint8_t> rgba;  // width * height * 4 bytes, straight alpha, 255 when opaque

    static Image Blank(int width, int height, bool hasAlpha);
    static Image FromRows(const ImageRows& rows);
    uint8_t* PixelAt(int x, int y) { return &rgba[(static_cast<size_t>(y) * width + x) * 4]; }
    const uint8_t* PixelAt(int x, int y) const { return &rgba[(static_cast<size_t>(y) * width + x) * 4]; }
    // A rectangle of this image; it must lie inside.
    Image Crop(int left, int top, int cropWidth, int cropHeight) const;
};

// A picture as a writer takes it: its shape, and its rows on request, from
// the top, so that no whole copy of it need be made for the writing.
struct ImageRows : ImageShape {
    std::function<void(int y, uint8_t* rgba)> fill;  // width * 4 bytes of row y, straight alpha

    static ImageRows Of(const Image& image);  // the image must outlive the rows
};

// A picture file being read: its shape from the header, then its rows from
// the top, one call each.
class ImageReader {
public:
    virtual ~ImageReader() = default;
    const ImageShape& shape() const { return shape_; }
    // The next row: width * 4 bytes of straight RGBA. Throws ImageError.
    virtual void ReadRow(uint8_t* rgba) = 0;

protected:
    ImageShape shape_;
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

// The format for a path's extension (.png .jpg .jpeg .webp .tif .tiff .ppm
// .pgm .pam, any case); throws ImageError for any other.
ImageFormat FormatForPath(const std::string& path);
const char* FormatName(ImageFormat format);
// Whether a file of the format can hold transparency.
bool HoldsAlpha(ImageFormat format);

// Reading, by content: the file's first bytes name its format.
std::unique_ptr<ImageReader> OpenImage(ImageInput& input);
Image ReadImage(ImageInput& input);
Image LoadImageFromMemory(const uint8_t* bytes, size_t size);
Image LoadImageFile(const std::string& path);

// Where a writer's bytes go. Write throws ImageError when they cannot go there.
class ByteSink {
public:
    virtual ~ByteSink() = default;
    virtual void Write(const uint8_t* bytes, size_t size) = 0;
};

// How lossy formats are written: a JPEG's quality (default 90) and, when
// given, a lossy WebP of that quality instead of a lossless one.
struct EncodeSettings {
    std::optional<int> quality;
};

// Writing. A grey image is written grey where the format has grey (a PGM
// holds the luma of a colour image); a format without alpha drops it.
void EncodeImage(const ImageRows& rows, ImageFormat format, const EncodeSettings& settings, ByteSink& sink);
std::vector<uint8_t> EncodeImage(const Image& image, ImageFormat format, const EncodeSettings& settings = {});

// Each image to its path, typed by the path's extension: every file whole,
// or (on ImageError naming the file) none of them changed.
struct OutputImage {
    std::string path;
    ImageRows rows;
};
void SaveImageFiles(const std::vector<OutputImage>& images, const EncodeSettings& settings = {});
void SaveImageFile(const std::string& path, const Image& image);

// The same all-or-nothing write for any bytes (the demo's gallery page).
void WriteFileAtomically(const std::string& path, const void* bytes, size_t size);

}  // namespace zpxcli
