#include "cli/ImageFile.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>

#include "cli/ImageCodecs.h"
#include "cli/ImageInput.h"
#include "cli/OutputFiles.h"

namespace zpxcli {

namespace {

std::string LowerExtension(const std::string& path) {
    size_t slash = path.find_last_of('/');
    size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
    std::string extension = path.substr(dot + 1);
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return extension;
}

class MemorySink : public ByteSink {
public:
    void Write(const uint8_t* bytes, size_t size) override { bytes_.insert(bytes_.end(), bytes, bytes + size); }
    std::vector<uint8_t>& bytes() { return bytes_; }

private:
    std::vector<uint8_t> bytes_;
};

}  // namespace

Image Image::Blank(int width, int height, bool hasAlpha) {
    Image image;
    image.width = width;
    image.height = height;
    image.hasAlpha = hasAlpha;
    image.rgba.assign(static_cast<size_t>(width) * height * 4, 0);
    for (size_t i = 3; i < image.rgba.size(); i += 4) image.rgba[i] = 255;
    return image;
}

Image Image::FromRows(const ImageRows& rows) {
    Image image = Blank(rows.width, rows.height, rows.hasAlpha);
    image.isGrey = rows.isGrey;
    for (int y = 0; y < rows.height; ++y) rows.fill(y, image.PixelAt(0, y));
    return image;
}

std::vector<uint8_t> Image::RGBBytes() const {
    std::vector<uint8_t> rgb(static_cast<size_t>(width) * height * 3);
    for (size_t pixel = 0, count = rgb.size() / 3; pixel < count; ++pixel)
        std::memcpy(&rgb[pixel * 3], &rgba[pixel * 4], 3);
    return rgb;
}

Image Image::Crop(int left, int top, int cropWidth, int cropHeight) const {
    Image part = Blank(cropWidth, cropHeight, hasAlpha);
    part.isGrey = isGrey;
    for (int y = 0; y < cropHeight; ++y)
        std::memcpy(part.PixelAt(0, y), PixelAt(left, top + y), static_cast<size_t>(cropWidth) * 4);
    return part;
}

ImageFormat FormatForPath(const std::string& path) {
    std::string extension = LowerExtension(path);
    if (extension == "png") return ImageFormat::Png;
    if (extension == "ppm") return ImageFormat::Ppm;
    if (extension == "pgm") return ImageFormat::Pgm;
    if (extension == "pam") return ImageFormat::Pam;
    throw ImageError("unknown image type (use .png, .ppm, .pgm or .pam)");
}

const char* FormatName(ImageFormat format) {
    switch (format) {
        case ImageFormat::Png: return "PNG";
        case ImageFormat::Ppm: return "PPM";
        case ImageFormat::Pgm: return "PGM";
        case ImageFormat::Pam: return "PAM";
    }
    return "?";
}

void CheckImageSize(int64_t width, int64_t height) {
    if (width < 1 || height < 1) throw ImageError("picture has no pixels");
    if (width > kMaxImageSide || height > kMaxImageSide || width * height > kMaxImagePixels)
        throw ImageError("picture too large (" + std::to_string(width) + " x " + std::to_string(height) + ")");
}

ImageError SystemFailure(const char* what) { return ImageError(std::string(what) + ": " + std::strerror(errno)); }

ImageRows ImageRows::Of(const Image& image) {
    return {image.width, image.height, image.hasAlpha, image.isGrey, [&image](int y, uint8_t* rgba) {
                std::memcpy(rgba, image.PixelAt(0, y), static_cast<size_t>(image.width) * 4);
            }};
}

Image ReadImage(ImageInput& input, ImageFormat format) {
    if (format == ImageFormat::Png) return DecodePng(input);
    return DecodeNetpbm(input);
}

Image LoadImageFromMemory(const uint8_t* bytes, size_t size, ImageFormat format) {
    ImageInput input(bytes, size);
    return ReadImage(input, format);
}

Image LoadImageFile(const std::string& path) {
    ImageFormat format = FormatForPath(path);
    InputFile file(path);
    return ReadImage(file.input(), format);
}

void EncodeImage(const ImageRows& rows, ImageFormat format, ByteSink& sink) {
    if (format == ImageFormat::Png) EncodePng(rows, sink);
    else EncodeNetpbm(rows, format, sink);
}

std::vector<uint8_t> EncodeImage(const Image& image, ImageFormat format) {
    MemorySink sink;
    EncodeImage(ImageRows::Of(image), format, sink);
    return std::move(sink.bytes());
}

void SaveImageFiles(const std::vector<OutputImage>& images) {
    OutputFiles files;
    for (const OutputImage& image : images) {
        ImageFormat format;
        try {
            format = FormatForPath(image.path);
        } catch (const ImageError& error) {
            throw ImageError(image.path + ": " + error.what());
        }
        EncodeImage(image.rows, format, files.Add(image.path));
    }
    files.Commit();
}

void SaveImageFile(const std::string& path, const Image& image) { SaveImageFiles({{path, ImageRows::Of(image)}}); }

void WriteFileAtomically(const std::string& path, const void* bytes, size_t size) {
    OutputFiles files;
    files.Add(path).Write(static_cast<const uint8_t*>(bytes), size);
    files.Commit();
}

}  // namespace zpxcli
