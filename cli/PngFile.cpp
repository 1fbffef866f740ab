// PNG through libpng. libpng reports errors by longjmp, so every function that
// calls into it with a jump buffer set keeps only trivially destructible locals
// and leaves all C++ objects to its caller; errors come back as text and turn
// into ImageError once libpng's frames are gone.
#include <png.h>

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <new>

#include "cli/ImageCodecs.h"

namespace zpxcli {

namespace {

// What a libpng callback may need, and where an error message lands.
struct PngSession {
    const uint8_t* input = nullptr;
    size_t inputSize = 0;
    size_t inputOffset = 0;
    std::vector<uint8_t>* output = nullptr;
    bool outOfMemory = false;
    char error[256] = {0};
};

void OnPngError(png_structp png, png_const_charp message) {
    auto* session = static_cast<PngSession*>(png_get_error_ptr(png));
    if (session->error[0] == 0) std::snprintf(session->error, sizeof session->error, "%s", message);
    png_longjmp(png, 1);
}

void OnPngWarning(png_structp, png_const_charp) {}

void ReadFromMemory(png_structp png, png_bytep into, size_t count) {
    auto* session = static_cast<PngSession*>(png_get_io_ptr(png));
    if (session->inputSize - session->inputOffset < count) png_error(png, "file is truncated");
    std::memcpy(into, session->input + session->inputOffset, count);
    session->inputOffset += count;
}

void WriteToMemory(png_structp png, png_bytep bytes, size_t count) {
    auto* session = static_cast<PngSession*>(png_get_io_ptr(png));
    try {
        session->output->insert(session->output->end(), bytes, bytes + count);
    } catch (const std::bad_alloc&) {
        session->outOfMemory = true;
    }
    if (session->outOfMemory) png_error(png, "out of memory");
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

bool WritePng(png_structp png, png_infop info, const Image* image, png_bytepp rows) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_set_IHDR(png, info, static_cast<png_uint_32>(image->width), static_cast<png_uint_32>(image->height), 8,
                 image->hasAlpha ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    // Rows stay four bytes a pixel; an opaque image drops the fourth on the way out.
    if (!image->hasAlpha) png_set_filler(png, 0, PNG_FILLER_AFTER);
    png_write_image(png, rows);
    png_write_end(png, nullptr);
    return true;
}

template <typename Bytes>
std::vector<png_bytep> RowPointers(Bytes* pixels, int width, int height) {
    std::vector<png_bytep> rows(static_cast<size_t>(height));
    for (int y = 0; y < height; ++y)
        rows[static_cast<size_t>(y)] = const_cast<png_bytep>(pixels + static_cast<size_t>(y) * width * 4);
    return rows;
}

// Deflate expands at most 1032-fold. A header whose pixels the rest of the
// file could not hold even at that ratio belongs to a truncated file, refused
// before the image is allocated: otherwise a few dozen bytes could claim
// half a gigabyte.
constexpr uint64_t kLargestInflation = 1032;

void CheckDataCanFill(const PngShape& shape, size_t bytesLeft) {
    const uint64_t pixelBytes = uint64_t(shape.width) * shape.height * uint64_t(shape.bitsPerPixel) / 8;
    if (uint64_t(bytesLeft) * kLargestInflation < pixelBytes) throw ImageError("PNG error: file is truncated");
}

// libpng takes memory for some chunks (text among them) by their claimed
// length before reading them. A chunk that claims more bytes than the file
// has left belongs to a truncated file, refused before libpng sees it.
void CheckChunkLengths(const uint8_t* bytes, size_t size) {
    size_t offset = 8;
    while (size - offset >= 8) {
        const uint32_t length = uint32_t(bytes[offset]) << 24 | uint32_t(bytes[offset + 1]) << 16 |
                                uint32_t(bytes[offset + 2]) << 8 | bytes[offset + 3];
        if (size - offset - 8 < uint64_t(length) + 4) throw ImageError("PNG error: file is truncated");
        if (std::memcmp(bytes + offset + 4, "IEND", 4) == 0) return;
        offset += 12 + size_t(length);
    }
}

std::string PngProblem(const PngSession& session) {
    return std::string("PNG error: ") + (session.error[0] ? session.error : "unknown");
}

}  // namespace

Image DecodePng(const uint8_t* bytes, size_t size) {
    if (size < 8 || png_sig_cmp(bytes, 0, 8) != 0) throw ImageError("not a PNG file");
    CheckChunkLengths(bytes, size);
    PngSession session;
    session.input = bytes;
    session.inputSize = size;
    PngHandle handle(true, session);
    png_set_read_fn(handle.png(), &session, ReadFromMemory);

    PngShape shape;
    if (!ReadPngShape(handle.png(), handle.info(), &shape)) {
        if (session.error[0] == 0) throw ImageError("unsupported PNG layout");
        throw ImageError(PngProblem(session));
    }
    CheckImageSize(shape.width, shape.height);
    CheckDataCanFill(shape, session.inputSize - session.inputOffset);

    Image image = Image::Blank(static_cast<int>(shape.width), static_cast<int>(shape.height), shape.hasAlpha);
    image.isGrey = shape.isGrey;
    std::vector<png_bytep> rows = RowPointers(image.rgba.data(), image.width, image.height);
    if (!ReadPngRows(handle.png(), handle.info(), rows.data())) throw ImageError(PngProblem(session));
    return image;
}

std::vector<uint8_t> EncodePng(const Image& image) {
    std::vector<uint8_t> output;
    PngSession session;
    session.output = &output;
    PngHandle handle(false, session);
    png_set_write_fn(handle.png(), &session, WriteToMemory, FlushNothing);
    std::vector<png_bytep> rows = RowPointers(image.rgba.data(), image.width, image.height);
    if (!WritePng(handle.png(), handle.info(), &image, rows.data())) {
        if (session.outOfMemory) throw std::bad_alloc();
        throw ImageError(PngProblem(session));
    }
    return output;
}

}  // namespace zpxcli
