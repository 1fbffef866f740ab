// PNG through libpng. libpng reports errors by longjmp, so every function that
// calls into it with a jump buffer set keeps only trivially destructible locals
// and leaves all C++ objects to its caller; errors come back as text, or as
// the exception a callback caught, and are thrown once libpng's frames are gone.
#include <png.h>
#include <zlib.h>

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <exception>
#include <new>
#include <string>

#include "cli/ImageCodecs.h"

namespace zpxcli {

namespace {

// What a libpng callback may need, and where a failure lands: libpng's own
// message, or the exception a callback caught, thrown again once libpng's
// frames are gone.
struct PngSession {
    ImageInput* input = nullptr;
    ByteSink* output = nullptr;
    std::exception_ptr failure;
    char error[256] = {0};
};

void OnPngError(png_structp png, png_const_charp message) {
    auto* session = static_cast<PngSession*>(png_get_error_ptr(png));
    if (session->error[0] == 0) std::snprintf(session->error, sizeof session->error, "%s", message);
    png_longjmp(png, 1);
}

void OnPngWarning(png_structp, png_const_charp) {}

void ReadFromInput(png_structp png, png_bytep into, size_t count) {
    auto* session = static_cast<PngSession*>(png_get_io_ptr(png));
    size_t got = 0;
    try {
        got = session->input->Read(into, count);
    } catch (...) {
        session->failure = std::current_exception();
    }
    if (session->failure) png_error(png, "cannot read");
    if (got < count) png_error(png, "file is truncated");
}

void WriteToSink(png_structp png, png_bytep bytes, size_t count) {
    auto* session = static_cast<PngSession*>(png_get_io_ptr(png));
    try {
        session->output->Write(bytes, count);
    } catch (...) {
        session->failure = std::current_exception();
    }
    if (session->failure) png_error(png, "cannot write");
}

void FlushNothing(png_structp) {}

// The libpng structures of one decode or encode, destroyed on every path.
class PngHandle {
public:
    explicit PngHandle(bool reading, PngSession& session) : reading_(reading) {
        png_ = reading ? png_create_read_struct(PNG_LIBPNG_VER_STRING, &session, OnPngError, OnPngWarning)
                       : png_create_write_struct(PNG_LIBPNG_VER_STRING, &session, OnPngError, OnPngWarning);
        if (png_) info_ = png_create_info_struct(png_);
        if (!png_ || !info_) throw std::bad_alloc();
    }
    ~PngHandle() {
        if (reading_) png_destroy_read_struct(&png_, info_ ? &info_ : nullptr, nullptr);
        else png_destroy_write_struct(&png_, info_ ? &info_ : nullptr);
    }
    PngHandle(const PngHandle&) = delete;
    PngHandle& operator=(const PngHandle&) = delete;

    png_structp png() const { return png_; }
    png_infop info() const { return info_; }

private:
    bool reading_;
    png_structp png_ = nullptr;
    png_infop info_ = nullptr;
};

// Everything a PNG reader needs to know before pixels are read.
struct PngShape {
    png_uint_32 width = 0;
    png_uint_32 height = 0;
    bool hasAlpha = false;
    bool isGrey = false;
    bool interlaced = false;
    int bitDepth = 0;
    int bitsPerPixel = 0;  // as stored in the file
};

// Reads the header and sets up conversion to 8-bit RGBA. False on a libpng error.
bool ReadPngShape(png_structp png, png_infop info, PngShape* shape) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_read_info(png, info);
    shape->width = png_get_image_width(png, info);
    shape->height = png_get_image_height(png, info);
    int colourType = png_get_color_type(png, info);
    shape->isGrey = (colourType & PNG_COLOR_MASK_COLOR) == 0;
    shape->hasAlpha = (colourType & PNG_COLOR_MASK_ALPHA) != 0 || png_get_valid(png, info, PNG_INFO_tRNS) != 0;
    shape->interlaced = png_get_interlace_type(png, info) != PNG_INTERLACE_NONE;
    shape->bitDepth = png_get_bit_depth(png, info);
    shape->bitsPerPixel = shape->bitDepth * png_get_channels(png, info);

    png_set_expand(png);  // palette to RGB, low bit depths to 8, transparency chunk to alpha
    png_set_scale_16(png);
    png_set_gray_to_rgb(png);
    if (!shape->hasAlpha) png_set_filler(png, 0xFF, PNG_FILLER_AFTER);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    return png_get_rowbytes(png, info) == static_cast<size_t>(shape->width) * 4;
}

// The embedded colour profile and the resolution, where the file has them.
ImageMetadata PngMetadata(png_structp png, png_infop info) {
    ImageMetadata metadata;
    png_charp name = nullptr;
    int compression = 0;
    png_bytep profile = nullptr;
    png_uint_32 length = 0;
    if (png_get_iCCP(png, info, &name, &compression, &profile, &length) != 0 && profile != nullptr)
        metadata.iccProfile.assign(profile, profile + length);
    png_uint_32 x = 0, y = 0;
    int unit = 0;
    if (png_get_pHYs(png, info, &x, &y, &unit) != 0 && unit == PNG_RESOLUTION_METER) {
        metadata.xDotsPerInch = x * 0.0254;
        metadata.yDotsPerInch = y * 0.0254;
    }
    return metadata;
}

bool ReadPngRow(png_structp png, png_bytep row) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_read_row(png, row, nullptr);
    return true;
}

bool ReadPngImage(png_structp png, png_bytepp rows) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_read_image(png, rows);
    return true;
}

bool ReadPngEnd(png_structp png) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_read_end(png, nullptr);
    return true;
}

uint32_t BigEndian(const uint8_t* bytes) {
    return uint32_t(bytes[0]) << 24 | uint32_t(bytes[1]) << 16 | uint32_t(bytes[2]) << 8 | bytes[3];
}

// Walks the chunks' headers, not their data. A chunk that claims more bytes
// than the file has left belongs to a truncated file, refused before libpng
// sees it: libpng takes memory for some chunks (text among them) by their
// claimed length before reading them. Returns the length of the image data,
// all IDAT chunks together.
uint64_t SurveyChunks(ImageInput& input) {
    uint64_t imageDataBytes = 0;
    uint8_t header[8];
    for (uint64_t offset = 8; input.ReadAt(offset, header, sizeof header) == sizeof header;) {
        const uint32_t length = BigEndian(header);
        if (input.Size() - offset - 8 < uint64_t(length) + 4) throw ImageError("PNG error: file is truncated");
        if (std::memcmp(header + 4, "IDAT", 4) == 0) imageDataBytes += length;
        if (std::memcmp(header + 4, "IEND", 4) == 0) break;
        offset += 12 + uint64_t(length);
    }
    return imageDataBytes;
}

// Deflate expands at most 1032-fold. Image data that could not hold the
// picture's rows (a filter byte and the packed samples each, fewer than an
// interlaced picture needs) even at that ratio cannot make a picture, so the
// picture is refused before it is allocated: otherwise a few bytes of image
// data could claim half a gigabyte, whatever else the file holds.
constexpr uint64_t kLargestInflation = 1032;

void CheckPngDataCanFill(const PngShape& shape, uint64_t imageDataBytes) {
    const uint64_t rowBytes = 1 + (uint64_t(shape.width) * uint64_t(shape.bitsPerPixel) + 7) / 8;
    if (imageDataBytes * kLargestInflation < rowBytes * shape.height)
        throw ImageError("PNG error: too little image data for " + std::to_string(shape.width) + " x " +
                         std::to_string(shape.height) + " pixels");
}

std::string PngProblem(const PngSession& session) {
    return std::string("PNG error: ") + (session.error[0] ? session.error : "unknown");
}

// libpng's message, or what a callback caught.
[[noreturn]] void ThrowPngFailure(const PngSession& session) {
    if (session.failure) std::rethrow_exception(session.failure);
    throw ImageError(PngProblem(session));
}

// A PNG read a row at a time; an interlaced one, whose rows are complete only
// after the last pass, is decoded whole first.
class PngReader : public ImageReader {
public:
    explicit PngReader(ImageInput& input) : handle_(true, session_) {
        png_byte signature[8];
        if (input.Read(signature, sizeof signature) != sizeof signature ||
            png_sig_cmp(signature, 0, sizeof signature) != 0)
            throw ImageError("not a PNG file");
        const uint64_t imageDataBytes = SurveyChunks(input);
        session_.input = &input;
        png_set_read_fn(handle_.png(), &session_, ReadFromInput);
        png_set_sig_bytes(handle_.png(), sizeof signature);

        PngShape shape;
        if (!ReadPngShape(handle_.png(), handle_.info(), &shape)) {
            if (session_.error[0] == 0) throw ImageError("unsupported PNG layout");
            ThrowPngFailure(session_);
        }
        CheckImageSize(shape.width, shape.height);
        CheckPngDataCanFill(shape, imageDataBytes);
        shape_.width = static_cast<int>(shape.width);
        shape_.height = static_cast<int>(shape.height);
        shape_.hasAlpha = shape.hasAlpha;
        shape_.isGrey = shape.isGrey;
        shape_.deep = shape.bitDepth > 8;
        shape_.metadata = PngMetadata(handle_.png(), handle_.info());
        if (shape.interlaced) DecodeWhole();
    }

    void ReadRow(uint8_t* rgba) override {
        if (whole_) {
            whole_->ReadRow(rgba);
        } else if (!ReadPngRow(handle_.png(), rgba)) {
            ThrowPngFailure(session_);
        }
        // The checksums and chunks after the image data are the file's too.
        if (++rowsRead_ == shape_.height && !whole_ && !ReadPngEnd(handle_.png())) ThrowPngFailure(session_);
    }

private:
    void DecodeWhole() {
        Image image = Image::Blank(shape_.width, shape_.height, shape_.hasAlpha);
        static_cast<ImageShape&>(image) = shape_;
        std::vector<png_bytep> rows(static_cast<size_t>(shape_.height));
        for (int y = 0; y < shape_.height; ++y) rows[static_cast<size_t>(y)] = image.PixelAt(0, y);
        if (!ReadPngImage(handle_.png(), rows.data()) || !ReadPngEnd(handle_.png())) ThrowPngFailure(session_);
        whole_ = std::make_unique<DecodedImageReader>(std::move(image));
    }

    PngSession session_;
    PngHandle handle_;
    std::unique_ptr<DecodedImageReader> whole_;
    int rowsRead_ = 0;
};

// Row filter and compression chosen for speed at a size below what libpng's
// defaults give for photographs: the Sub filter with run-length deflate
// writes a 4000 x 3000 photograph four times faster than deflate level 6
// without filters, and smaller.
void ChoosePngCompression(png_structp png) {
    png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_SUB);
    png_set_compression_strategy(png, Z_RLE);
}

void SetPngMetadata(png_structp png, png_infop info, const ImageMetadata& metadata) {
    if (!metadata.iccProfile.empty())
        png_set_iCCP(png, info, "ICC profile", PNG_COMPRESSION_TYPE_BASE, metadata.iccProfile.data(),
                     static_cast<png_uint_32>(metadata.iccProfile.size()));
    if (metadata.HasResolution())
        png_set_pHYs(png, info, static_cast<png_uint_32>(metadata.xDotsPerInch / 0.0254 + 0.5),
                     static_cast<png_uint_32>(metadata.yDotsPerInch / 0.0254 + 0.5), PNG_RESOLUTION_METER);
}

bool WritePngRows(png_structp png, png_infop info, const ImageRows* rows, uint8_t* rgba, png_bytep samples) {
    if (setjmp(png_jmpbuf(png))) return false;
    static const int kColourTypes[] = {0, PNG_COLOR_TYPE_GRAY, PNG_COLOR_TYPE_GRAY_ALPHA, PNG_COLOR_TYPE_RGB,
                                       PNG_COLOR_TYPE_RGB_ALPHA};
    const int channels = ChannelsOf(*rows);
    png_set_IHDR(png, info, static_cast<png_uint_32>(rows->width), static_cast<png_uint_32>(rows->height), 8,
                 kColourTypes[channels], PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    // A profile libpng finds wrong is left out with a warning, not an error.
    png_set_benign_errors(png, 1);
    SetPngMetadata(png, info, rows->metadata);
    ChoosePngCompression(png);
    png_write_info(png, info);
    for (int y = 0; y < rows->height; ++y) {
        rows->fill(y, rgba);
        PackRow(rgba, rows->width, channels, samples);
        png_write_row(png, samples);
    }
    png_write_end(png, nullptr);
    return true;
}

}  // namespace

std::unique_ptr<ImageReader> OpenPng(ImageInput& input) { return std::make_unique<PngReader>(input); }

void EncodePng(const ImageRows& rows, ByteSink& sink) {
    PngSession session;
    session.output = &sink;
    PngHandle handle(false, session);
    png_set_write_fn(handle.png(), &session, WriteToSink, FlushNothing);
    std::vector<uint8_t> rgba(static_cast<size_t>(rows.width) * 4);
    std::vector<png_byte> samples(static_cast<size_t>(rows.width) * 4);
    if (!WritePngRows(handle.png(), handle.info(), &rows, rgba.data(), samples.data())) ThrowPngFailure(session);
}

}  // namespace zpxcli
