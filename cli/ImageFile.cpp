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

constexpr int kDefaultJpegQuality = 90;

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
    static_cast<ImageShape&>(image) = rows;
    for (int y = 0; y < rows.height; ++y) rows.fill(y, image.PixelAt(0, y));
    return image;
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
    if (extension == "jpg" || extension == "jpeg") return ImageFormat::Jpeg;
    if (extension == "webp") return ImageFormat::WebP;
    if (extension == "tif" || extension == "tiff") return ImageFormat::Tiff;
    if (extension == "ppm") return ImageFormat::Ppm;
    if (extension == "pgm") return ImageFormat::Pgm;
    if (extension == "pam") return ImageFormat::Pam;
    throw ImageError("unknown image type (use .png, .jpg, .webp, .tif, .ppm, .pgm or .pam)");
}

const char* FormatName(ImageFormat format) {
    switch (format) {
        case ImageFormat::Png: return "PNG";
        case ImageFormat::Jpeg: return "JPEG";
        case ImageFormat::WebP: return "WebP";
        case ImageFormat::Tiff: return "TIFF";
        case ImageFormat::Ppm: return "PPM";
        case ImageFormat::Pgm: return "PGM";
        case ImageFormat::Pam: return "PAM";
    }
    return "?";
}

bool HoldsAlpha(ImageFormat format) {
    return format == ImageFormat::Png || format == ImageFormat::WebP || format == ImageFormat::Tiff ||
           format == ImageFormat::Pam;
}

void CheckImageSize(int64_t width, int64_t height) {
    if (width < 1 || height < 1) throw ImageError("picture has no pixels");
    if (width > kMaxImageSide || height > kMaxImageSide || width * height > kMaxImagePixels)
        throw ImageError("picture too large (" + std::to_string(width) + " x " + std::to_string(height) + ")");
}

void CheckDataCanFill(const char* format, int64_t width, int64_t height, uint64_t bytes, uint64_t mostPixelsPerByte) {
    if (uint64_t(width) * uint64_t(height) > bytes * mostPixelsPerByte)
        throw ImageError(std::string(format) + " error: too little image data for " + std::to_string(width) + " x " +
                         std::to_string(height) + " pixels");
}

ImageError SystemFailure(const char* what) { return ImageError(std::string(what) + ": " + std::strerror(errno)); }

ImageRows ImageRows::Of(const Image& image) {
    ImageRows rows;
    static_cast<ImageShape&>(rows) = image;
    rows.fill = [&image](int y, uint8_t* rgba) {
        std::memcpy(rgba, image.PixelAt(0, y), static_cast<size_t>(image.width) * 4);
    };
    return rows;
}

DecodedImageReader::DecodedImageReader(Image image) : image_(std::move(image)) {
    shape_ = image_;
}

void DecodedImageReader::ReadRow(uint8_t* rgba) {
    std::memcpy(rgba, image_.PixelAt(0, nextRow_++), static_cast<size_t>(image_.width) * 4);
    // The decoded picture is dropped with its last row, before the reader is.
    if (nextRow_ == image_.height) image_.rgba = std::vector<uint8_t>();
}

int ChannelsOf(const ImageRows& rows) { return (rows.isGrey ? 1 : 3) + (rows.hasAlpha ? 1 : 0); }

void PackRow(const uint8_t* rgba, int width, int channels, uint8_t* samples) {
    const bool grey = channels <= 2, alpha = channels == 2 || channels == 4;
    for (int x = 0; x < width; ++x, rgba += 4) {
        if (grey) {
            *samples++ = GreyLevel(rgba);
        } else {
            std::memcpy(samples, rgba, 3);
            samples += 3;
        }
        if (alpha) *samples++ = rgba[3];
    }
}

std::unique_ptr<ImageReader> OpenImage(ImageInput& input) {
    uint8_t magic[12] = {0};
    const size_t got = input.ReadAt(0, magic, sizeof magic);
    auto starts = [&](const char* bytes, size_t count, size_t at = 0) {
        return got >= at + count && std::memcmp(magic + at, bytes, count) == 0;
    };
    if (starts("\x89PNG\r\n\x1A\n", 8)) return OpenPng(input);
    if (starts("\xFF\xD8\xFF", 3)) return OpenJpeg(input);
    if (starts("RIFF", 4) && starts("WEBP", 4, 8)) return OpenWebP(input);
    if (starts("II*\0", 4) || starts("MM\0*", 4)) return OpenTiff(input);
    if (got >= 2 && magic[0] == 'P' && magic[1] >= '1' && magic[1] <= '7') return OpenNetpbm(input);
    throw ImageError("unknown image type (zpx reads PNG, JPEG, WebP, TIFF and binary PPM, PGM and PAM)");
}

Image ReadImage(ImageInput& input) {
    std::unique_ptr<ImageReader> reader = OpenImage(input);
    Image image = Image::Blank(reader->shape().width, reader->shape().height, reader->shape().hasAlpha);
    static_cast<ImageShape&>(image) = reader->shape();
    for (int y = 0; y < image.height; ++y) reader->ReadRow(image.PixelAt(0, y));
    return image;
}

Image LoadImageFromMemory(const uint8_t* bytes, size_t size) {
    ImageInput input(bytes, size);
    return ReadImage(input);
}

Image LoadImageFile(const std::string& path) {
    InputFile file(path);
    return ReadImage(file.input());
}

void EncodeImage(const ImageRows& rows, ImageFormat format, const EncodeSettings& settings, ByteSink& sink) {
    switch (format) {
        case ImageFormat::Png: return EncodePng(rows, sink);
        case ImageFormat::Jpeg: return EncodeJpeg(rows, settings.quality.value_or(kDefaultJpegQuality), sink);
        case ImageFormat::WebP: return EncodeWebP(rows, settings.quality, sink);
        case ImageFormat::Tiff: return EncodeTiff(rows, sink);
        case ImageFormat::Ppm:
        case ImageFormat::Pgm:
        case ImageFormat::Pam: return EncodeNetpbm(rows, format, sink);
    }
}

std::vector<uint8_t> EncodeImage(const Image& image, ImageFormat format, const EncodeSettings& settings) {
    MemorySink sink;
    EncodeImage(ImageRows::Of(image), format, settings, sink);
    return std::move(sink.bytes());
}

void SaveImageFiles(const std::vector<OutputImage>& images, const EncodeSettings& settings) {
    OutputFiles files;
    for (const OutputImage& image : images) {
        ImageFormat format;
        try {
            format = FormatForPath(image.path);
        } catch (const ImageError& error) {
            throw ImageError(image.path + ": " + error.what());
        }
        EncodeImage(image.rows, format, settings, files.Add(image.path));
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
