#include "cli/ImageFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>

#include "cli/ImageCodecs.h"

namespace zpxcli {

namespace {

// No image within the size limits comes near this as a file.
constexpr off_t kMaxFileBytes = off_t(1) << 31;

std::string LowerExtension(const std::string& path) {
    size_t slash = path.find_last_of('/');
    size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
    std::string extension = path.substr(dot + 1);
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return extension;
}

std::string SystemError(const char* what) { return std::string(what) + ": " + std::strerror(errno); }

// Closes a descriptor when it goes out of scope.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

std::vector<uint8_t> ReadWholeFile(const std::string& path) {
    FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (file.get() < 0) throw ImageError(SystemError("cannot open"));
    struct stat status;
    if (::fstat(file.get(), &status) != 0) throw ImageError(SystemError("cannot read"));
    if (!S_ISREG(status.st_mode)) throw ImageError("not a regular file");
    if (status.st_size > kMaxFileBytes) throw ImageError("file too large");
    std::vector<uint8_t> bytes(static_cast<size_t>(status.st_size));
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t got = ::read(file.get(), bytes.data() + done, bytes.size() - done);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) throw ImageError(SystemError("cannot read"));
        if (got == 0) break;
        done += static_cast<size_t>(got);
    }
    bytes.resize(done);
    return bytes;
}

bool WriteAll(int fd, const uint8_t* bytes, size_t size) {
    while (size > 0) {
        ssize_t written = ::write(fd, bytes, size);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        bytes += written;
        size -= static_cast<size_t>(written);
    }
    return true;
}

// A temporary file beside the target: removed unless it was renamed into place.
class TemporaryFile {
public:
    explicit TemporaryFile(const std::string& target) : name_(TemplateFor(target)) {
        fd_ = ::mkstemp(&name_[0]);
        if (fd_ < 0) throw ImageError(SystemError("cannot write"));
    }
    ~TemporaryFile() {
        if (fd_ >= 0) ::close(fd_);
        if (!renamed_) ::unlink(name_.c_str());
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    void Write(const uint8_t* bytes, size_t size) {
        if (!WriteAll(fd_, bytes, size)) throw ImageError(SystemError("cannot write"));
    }
    void RenameTo(const std::string& target) {
        // Same permissions as a file made by an ordinary open(): mkstemp makes it private.
        mode_t mask = ::umask(0);
        ::umask(mask);
        ::fchmod(fd_, 0666 & ~mask);
        int fd = fd_;
        fd_ = -1;
        if (::close(fd) != 0) throw ImageError(SystemError("cannot write"));
        if (::rename(name_.c_str(), target.c_str()) != 0) throw ImageError(SystemError("cannot write"));
        renamed_ = true;
    }

private:
    static std::string TemplateFor(const std::string& target) {
        size_t slash = target.find_last_of('/');
        std::string directory = slash == std::string::npos ? "" : target.substr(0, slash + 1);
        std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
        return directory + "." + base + ".XXXXXX";
    }

    std::string name_;
    int fd_ = -1;
    bool renamed_ = false;
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

Image LoadImageFromMemory(const uint8_t* bytes, size_t size, ImageFormat format) {
    if (format == ImageFormat::Png) return DecodePng(bytes, size);
    return DecodeNetpbm(bytes, size);
}

Image LoadImageFile(const std::string& path) {
    ImageFormat format = FormatForPath(path);
    std::vector<uint8_t> bytes = ReadWholeFile(path);
    return LoadImageFromMemory(bytes.data(), bytes.size(), format);
}

std::vector<uint8_t> EncodeImage(const Image& image, ImageFormat format) {
    if (format == ImageFormat::Png) return EncodePng(image);
    return EncodeNetpbm(image, format);
}

void WriteFileAtomically(const std::string& path, const void* bytes, size_t size) {
    TemporaryFile file(path);
    file.Write(static_cast<const uint8_t*>(bytes), size);
    file.RenameTo(path);
}

void SaveImageFile(const std::string& path, const Image& image) {
    std::vector<uint8_t> bytes = EncodeImage(image, FormatForPath(path));
    WriteFileAtomically(path, bytes.data(), bytes.size());
}

}  // namespace zpxcli
