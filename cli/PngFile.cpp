// PNG through libpng. libpng reports errors by longjmp, so every function that
// calls into it with a jump buffer set keeps only trivially destructible locals
// and leaves all C++ objects to its caller; errors come back as text, or as
// the exception a callback caught, and are thrown once libpng's frames are gone.
#include <png.h>

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
    shape->bitsPerPixel = png_get_bit_depth(png, info) * png_get_channels(png, info);

    png_set_expand(png);  // palette to RGB, low bit depths to 8, transparency chunk to alpha
    png_set_scale_16(png);
    png_set_gray_to_rgb(png);
    if (!shape->hasAlpha) png_set_filler(png, 0xFF, PNG_FILLER_AFTER);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    return png_get_rowbytes(png, info) == static_cast<size_t>(shape->width) * 4;
}

bool ReadPngRows(png_structp png, png_infop info, png_bytepp rows) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_read_image(png, rows);
    png_read_end(png, nullptr);
    return true;
}

bool WritePngRows(png_structp png, png_infop info, const ImageRows* rows, png_bytep row) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_set_IHDR(png, info, static_cast<png_uint_32>(rows->width), static_cast<png_uint_32>(rows->height), 8,
                 rows->hasAlpha ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    // Rows stay four bytes a pixel; an opaque image drops the fourth on the way out.
    if (!rows->hasAlpha) png_set_filler(png, 0, PNG_FILLER_AFTER);
    for (int y = 0; y < rows->height; ++y) {
        rows->fill(y, row);
        png_write_row(png, row);
    }
    png_write_end(png, nullptr);
    return true;
}

std::vector<png_bytep> RowPointers(uint8_t* pixels, int width, int height) {
    std::vector<png_bytep> rows(static_cast<size_t>(height));
    for (int y = 0; y < height; ++y) rows[static_cast<size_t>(y)] = pixels + static_cast<size_t>(y) * width * 4;
    return rows;
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

void CheckDataCanFill(const PngShape& shape, uint64_t imageDataBytes) {
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

}  // namespace

Image DecodePng(ImageInput& input) {
    png_byte signature[8];
    if (input.Read(signature, sizeof signature) != sizeof signature || png_sig_cmp(signature, 0, sizeof signature) != 0)
        throw ImageError("not a PNG file");
    const uint64_t imageDataBytes = SurveyChunks(input);
    PngSession session;
    session.input = &input;
    PngHandle handle(true, session);
    png_set_read_fn(handle.png(), &session, ReadFromInput);
    png_set_sig_bytes(handle.png(), sizeof signature);

    PngShape shape;
    if (!ReadPngShape(handle.png(), handle.info(), &shape)) {
        if (session.error[0] == 0) throw ImageError("unsupported PNG layout");
        ThrowPngFailure(session);
    }
    CheckImageSize(shape.width, shape.height);
    CheckDataCanFill(shape, imageDataBytes);

    Image image = Image::Blank(static_cast<int>(shape.width), static_cast<int>(shape.height), shape.hasAlpha);
    image.isGrey = shape.isGrey;
    std::vector<png_bytep> rows = RowPointers(image.rgba.data(), image.width, image.height);
    if (!ReadPngRows(handle.png(), handle.info(), rows.data())) ThrowPngFailure(session);
    return image;
}

void EncodePng(const ImageRows& rows, ByteSink& sink) {
    PngSession session;
    session.output = &sink;
    PngHandle handle(false, session);
    png_set_write_fn(handle.png(), &session, WriteToSink, FlushNothing);
    std::vector<png_byte> row(static_cast<size_t>(rows.width) * 4);
    if (!WritePngRows(handle.png(), handle.info(), &rows, row.data())) ThrowPngFailure(session);
}

}  // namespace zpxcli
