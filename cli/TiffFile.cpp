// TIFF through libtiff. The common layouts (8- or 16-bit grey, grey with
// alpha, RGB and RGBA, in strips) are read a row at a time; anything else
// libtiff understands (tiles, palettes, YCbCr, CMYK, separate planes, fewer
// bits) goes through its RGBA interface, which decodes the whole picture.
// libtiff reads a file at any offset, so it reads through ImageInput's
// look-ahead; it writes a file out of order (the directory last, then the
// header that points to it), so a TIFF is made in memory and then written.
#include <tiffio.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "cli/ImageCodecs.h"

namespace zpxcli {

namespace {

// The first error libtiff reported about one file; warnings are dropped.
struct TiffMessages {
    char error[256] = {0};
};

int OnTiffError(TIFF*, void* user, const char* module, const char* format, va_list arguments) {
    auto* messages = static_cast<TiffMessages*>(user);
    if (messages->error[0] == 0) std::vsnprintf(messages->error, sizeof messages->error, format, arguments);
    return 1;
}

int OnTiffWarning(TIFF*, void*, const char*, const char*, va_list) { return 1; }

[[noreturn]] void ThrowTiffFailure(const TiffMessages& messages, const char* otherwise) {
    throw ImageError(std::string("TIFF error: ") + (messages.error[0] ? messages.error : otherwise));
}

// libtiff's allocations for one file are bounded, whatever its tags claim.
constexpr tmsize_t kMostLibtiffTakesAtOnce = tmsize_t(1) << 30;

struct TiffCloser {
    void operator()(TIFF* tiff) const { TIFFClose(tiff); }
};
using TiffHandle = std::unique_ptr<TIFF, TiffCloser>;

TiffHandle OpenClient(const char* mode, thandle_t client, TiffMessages& messages, TIFFReadWriteProc read,
                      TIFFReadWriteProc write, TIFFSeekProc seek, TIFFSizeProc size) {
    std::unique_ptr<TIFFOpenOptions, void (*)(TIFFOpenOptions*)> options(TIFFOpenOptionsAlloc(), TIFFOpenOptionsFree);
    if (!options) throw std::bad_alloc();
    TIFFOpenOptionsSetErrorHandlerExtR(options.get(), OnTiffError, &messages);
    TIFFOpenOptionsSetWarningHandlerExtR(options.get(), OnTiffWarning, nullptr);
    TIFFOpenOptionsSetMaxSingleMemAlloc(options.get(), kMostLibtiffTakesAtOnce);
    auto close = [](thandle_t) { return 0; };
    auto noMap = [](thandle_t, void**, toff_t*) { return 0; };
    auto noUnmap = [](thandle_t, void*, toff_t) {};
    return TiffHandle(
        TIFFClientOpenExt("zpx", mode, client, read, write, seek, close, size, noMap, noUnmap, options.get()));
}

// ---- reading ----

struct InputCursor {
    ImageInput* input;
    uint64_t position = 0;
};

tmsize_t ReadInput(thandle_t handle, void* into, tmsize_t count) {
    auto* cursor = static_cast<InputCursor*>(handle);
    try {
        size_t got = cursor->input->ReadAt(cursor->position, static_cast<uint8_t*>(into), size_t(count));
        cursor->position += got;
        return tmsize_t(got);
    } catch (...) {  // nothing may pass through libtiff's frames
        return -1;
    }
}

tmsize_t NoWriting(thandle_t, void*, tmsize_t) { return -1; }

toff_t SeekInput(thandle_t handle, toff_t offset, int whence) {
    auto* cursor = static_cast<InputCursor*>(handle);
    const uint64_t base = whence == SEEK_CUR ? cursor->position : whence == SEEK_END ? cursor->input->Size() : 0;
    cursor->position = base + offset;
    return cursor->position;
}

toff_t InputSize(thandle_t handle) { return static_cast<InputCursor*>(handle)->input->Size(); }

struct TiffLayout {
    uint32_t width = 0, height = 0;
    uint16_t samples = 1, bits = 1, photometric = PHOTOMETRIC_MINISBLACK, planar = PLANARCONFIG_CONTIG;
    uint16_t compression = COMPRESSION_NONE;
    uint16_t extraCount = 0;
    bool associatedAlpha = false;

    bool HasAlpha() const { return extraCount > 0; }
    bool IsGrey() const { return photometric == PHOTOMETRIC_MINISBLACK || photometric == PHOTOMETRIC_MINISWHITE; }
};

TiffLayout LayoutOf(TIFF* tiff) {
    TiffLayout layout;
    TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &layout.width);
    TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &layout.height);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLESPERPIXEL, &layout.samples);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_BITSPERSAMPLE, &layout.bits);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_PLANARCONFIG, &layout.planar);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_COMPRESSION, &layout.compression);
    if (!TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &layout.photometric))
        layout.photometric = layout.samples >= 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK;
    uint16_t* extra = nullptr;
    if (TIFFGetField(tiff, TIFFTAG_EXTRASAMPLES, &layout.extraCount, &extra) && layout.extraCount > 0)
        layout.associatedAlpha = extra[0] == EXTRASAMPLE_ASSOCALPHA;
    return layout;
}

// Whether the rows can be read one at a time as they are stored.
bool ReadsByRow(TIFF* tiff, const TiffLayout& layout) {
    const uint16_t colours = layout.IsGrey() ? 1 : layout.photometric == PHOTOMETRIC_RGB ? 3 : 0;
    // An alpha the extra-samples tag claims must be a sample the pixels have.
    const uint16_t alpha = layout.HasAlpha() ? 1 : 0;
    return !TIFFIsTiled(tiff) && layout.planar == PLANARCONFIG_CONTIG && (layout.bits == 8 || layout.bits == 16) &&
           colours != 0 && layout.samples >= colours + alpha && layout.samples <= colours + 1;
}

// Every strip or tile must lie in the file, and all of them together must be
// able to fill the picture: stored as they are, or compressed at most
// 4096-fold (no codec of TIFF's gets near that on real data).
constexpr uint64_t kLargestExpansion = 4096;

void CheckTiffData(TIFF* tiff, const TiffLayout& layout, uint64_t fileSize) {
    const bool tiled = TIFFIsTiled(tiff);
    const uint32_t pieces = tiled ? TIFFNumberOfTiles(tiff) : TIFFNumberOfStrips(tiff);
    uint64_t* offsets = nullptr;
    uint64_t* counts = nullptr;
    if (pieces == 0 || !TIFFGetField(tiff, tiled ? TIFFTAG_TILEOFFSETS : TIFFTAG_STRIPOFFSETS, &offsets) ||
        !TIFFGetField(tiff, tiled ? TIFFTAG_TILEBYTECOUNTS : TIFFTAG_STRIPBYTECOUNTS, &counts) || !offsets || !counts)
        throw ImageError("TIFF error: no image data");
    uint64_t dataBytes = 0;
    for (uint32_t i = 0; i < pieces; ++i) {
        if (offsets[i] > fileSize || counts[i] > fileSize - offsets[i]) throw ImageError("TIFF error: file is truncated");
        dataBytes += counts[i];
    }
    const uint64_t pictureBytes =
        (uint64_t(layout.width) * layout.samples * layout.bits + 7) / 8 * uint64_t(layout.height);
    const uint64_t expansion = layout.compression == COMPRESSION_NONE ? 1 : kLargestExpansion;
    if (dataBytes * expansion < pictureBytes)
        throw ImageError("TIFF error: too little image data for " + std::to_string(layout.width) + " x " +
                         std::to_string(layout.height) + " pixels");
}

ImageMetadata TiffMetadata(TIFF* tiff) {
    ImageMetadata metadata;
    uint32_t length = 0;
    void* profile = nullptr;
    if (TIFFGetField(tiff, TIFFTAG_ICCPROFILE, &length, &profile) && profile != nullptr)
        metadata.iccProfile.assign(static_cast<uint8_t*>(profile), static_cast<uint8_t*>(profile) + length);
    float x = 0, y = 0;
    uint16_t unit = RESUNIT_INCH;
    TIFFGetFieldDefaulted(tiff, TIFFTAG_RESOLUTIONUNIT, &unit);
    if (TIFFGetField(tiff, TIFFTAG_XRESOLUTION, &x) && TIFFGetField(tiff, TIFFTAG_YRESOLUTION, &y) && x > 0 && y > 0 &&
        (unit == RESUNIT_INCH || unit == RESUNIT_CENTIMETER)) {
        const double perInch = unit == RESUNIT_INCH ? 1.0 : 2.54;
        metadata.xDotsPerInch = x * perInch;
        metadata.yDotsPerInch = y * perInch;
    }
    return metadata;
}

uint8_t Unpremultiplied(unsigned colour, unsigned alpha) {
    return alpha == 0 ? 0 : static_cast<uint8_t>(std::min(255u, (colour * 255 + alpha / 2) / alpha));
}

class TiffReader : public ImageReader {
public:
    explicit TiffReader(ImageInput& input) : cursor_{&input} {
        tiff_ = OpenClient("rm", &cursor_, messages_, ReadInput, NoWriting, SeekInput, InputSize);
        if (!tiff_) ThrowTiffFailure(messages_, "cannot read its header");
        layout_ = LayoutOf(tiff_.get());
        CheckImageSize(layout_.width, layout_.height);
        CheckTiffData(tiff_.get(), layout_, input.Size());
        shape_.width = static_cast<int>(layout_.width);
        shape_.height = static_cast<int>(layout_.height);
        shape_.hasAlpha = layout_.HasAlpha();
        shape_.isGrey = layout_.IsGrey() && layout_.bits >= 8;
        shape_.deep = layout_.bits > 8;
        shape_.metadata = TiffMetadata(tiff_.get());
        if (ReadsByRow(tiff_.get(), layout_)) {
            stored_.resize(size_t(TIFFScanlineSize64(tiff_.get())));
            if (stored_.size() < size_t(layout_.width) * layout_.samples * (layout_.bits / 8))
                ThrowTiffFailure(messages_, "rows shorter than their pixels");
        } else {
            DecodeWhole();
        }
    }

    void ReadRow(uint8_t* rgba) override {
        if (whole_) return whole_->ReadRow(rgba);
        if (TIFFReadScanline(tiff_.get(), stored_.data(), row_++, 0) != 1)
            ThrowTiffFailure(messages_, "the picture data is corrupt or truncated");
        ExpandRow(rgba);
    }

private:
    uint8_t Sample(const uint8_t* row, size_t index) const {
        if (layout_.bits == 8) return row[index];
        uint16_t value;
        std::memcpy(&value, row + index * 2, 2);  // libtiff gives samples in the machine's order
        return static_cast<uint8_t>((uint32_t(value) * 255 + 32767) / 65535);
    }

    void ExpandRow(uint8_t* rgba) const {
        const bool grey = layout_.IsGrey(), invert = layout_.photometric == PHOTOMETRIC_MINISWHITE;
        const size_t colours = grey ? 1 : 3;
        for (uint32_t x = 0; x < layout_.width; ++x, rgba += 4) {
            const size_t first = size_t(x) * layout_.samples;
            for (size_t c = 0; c < 3; ++c) {
                uint8_t value = Sample(stored_.data(), first + (grey ? 0 : c));
                rgba[c] = invert ? uint8_t(255 - value) : value;
            }
            rgba[3] = layout_.HasAlpha() ? Sample(stored_.data(), first + colours) : 255;
            if (layout_.associatedAlpha)
                for (size_t c = 0; c < 3; ++c) rgba[c] = Unpremultiplied(rgba[c], rgba[3]);
        }
    }

    void DecodeWhole() {
        char problem[1024] = {0};
        if (!TIFFRGBAImageOK(tiff_.get(), problem)) throw ImageError(std::string("TIFF error: ") + problem);
        Image image = Image::Blank(shape_.width, shape_.height, shape_.hasAlpha);
        static_cast<ImageShape&>(image) = shape_;
        // Each pixel as a word whose bytes, lowest first, are red, green, blue and alpha.
        static_assert(sizeof(uint32_t) == 4, "");
        auto* raster = reinterpret_cast<uint32_t*>(image.rgba.data());
        if (!TIFFReadRGBAImageOriented(tiff_.get(), layout_.width, layout_.height, raster, ORIENTATION_TOPLEFT, 0))
            ThrowTiffFailure(messages_, "the picture data is corrupt or truncated");
        for (size_t i = 0; i < image.rgba.size(); i += 4) {
            const uint32_t word = raster[i / 4];
            const uint8_t pixel[4] = {uint8_t(TIFFGetR(word)), uint8_t(TIFFGetG(word)), uint8_t(TIFFGetB(word)),
                                      uint8_t(TIFFGetA(word))};
            for (int c = 0; c < 3; ++c)
                image.rgba[i + c] = shape_.hasAlpha ? Unpremultiplied(pixel[c], pixel[3]) : pixel[c];
            image.rgba[i + 3] = shape_.hasAlpha ? pixel[3] : 255;
        }
        whole_ = std::make_unique<DecodedImageReader>(std::move(image));
    }

    InputCursor cursor_;
    TiffMessages messages_;
    TiffHandle tiff_;
    TiffLayout layout_;
    std::vector<uint8_t> stored_;
    uint32_t row_ = 0;
    std::unique_ptr<DecodedImageReader> whole_;
};

// ---- writing ----

struct MemoryFile {
    std::vector<uint8_t> bytes;
    uint64_t position = 0;
};

tmsize_t ReadMemory(thandle_t handle, void* into, tmsize_t count) {
    auto* file = static_cast<MemoryFile*>(handle);
    const size_t take = file->position >= file->bytes.size()
                            ? 0
                            : std::min<size_t>(size_t(count), file->bytes.size() - size_t(file->position));
    std::memcpy(into, file->bytes.data() + file->position, take);
    file->position += take;
    return tmsize_t(take);
}

tmsize_t WriteMemory(thandle_t handle, void* from, tmsize_t count) {
    auto* file = static_cast<MemoryFile*>(handle);
    const size_t end = size_t(file->position) + size_t(count);
    if (file->bytes.size() < end) file->bytes.resize(end);
    std::memcpy(file->bytes.data() + file->position, from, size_t(count));
    file->position = end;
    return count;
}

toff_t SeekMemory(thandle_t handle, toff_t offset, int whence) {
    auto* file = static_cast<MemoryFile*>(handle);
    const uint64_t base = whence == SEEK_CUR ? file->position : whence == SEEK_END ? file->bytes.size() : 0;
    file->position = base + offset;
    return file->position;
}

toff_t MemorySize(thandle_t handle) { return static_cast<MemoryFile*>(handle)->bytes.size(); }

void SetTiffFields(TIFF* tiff, const ImageRows& rows, int channels) {
    TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, uint32_t(rows.width));
    TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, uint32_t(rows.height));
    TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, uint16_t(channels));
    TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, uint16_t(8));
    TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, rows.isGrey ? PHOTOMETRIC_MINISBLACK : PHOTOMETRIC_RGB);
    if (rows.hasAlpha) {
        const uint16_t extra = EXTRASAMPLE_UNASSALPHA;
        TIFFSetField(tiff, TIFFTAG_EXTRASAMPLES, uint16_t(1), &extra);
    }
    // Deflate at its fastest, after the horizontal predictor: a photograph
    // comes out at about half its size, quickly.
    TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE);
    TIFFSetField(tiff, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
    TIFFSetField(tiff, TIFFTAG_ZIPQUALITY, 1);
    TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(tiff, 0));
    const ImageMetadata& metadata = rows.metadata;
    if (!metadata.iccProfile.empty())
        TIFFSetField(tiff, TIFFTAG_ICCPROFILE, uint32_t(metadata.iccProfile.size()), metadata.iccProfile.data());
    if (metadata.HasResolution()) {
        TIFFSetField(tiff, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
        TIFFSetField(tiff, TIFFTAG_XRESOLUTION, float(metadata.xDotsPerInch));
        TIFFSetField(tiff, TIFFTAG_YRESOLUTION, float(metadata.yDotsPerInch));
    }
}

}  // namespace

std::unique_ptr<ImageReader> OpenTiff(ImageInput& input) { return std::make_unique<TiffReader>(input); }

void EncodeTiff(const ImageRows& rows, ByteSink& sink) {
    MemoryFile file;
    TiffMessages messages;
    {
        TiffHandle tiff = OpenClient("w", &file, messages, ReadMemory, WriteMemory, SeekMemory, MemorySize);
        if (!tiff) ThrowTiffFailure(messages, "cannot start a file");
        const int channels = ChannelsOf(rows);
        SetTiffFields(tiff.get(), rows, channels);
        std::vector<uint8_t> rgba(static_cast<size_t>(rows.width) * 4), samples(static_cast<size_t>(rows.width) * 4);
        for (int y = 0; y < rows.height; ++y) {
            rows.fill(y, rgba.data());
            PackRow(rgba.data(), rows.width, channels, samples.data());
            if (TIFFWriteScanline(tiff.get(), samples.data(), uint32_t(y), 0) != 1)
                ThrowTiffFailure(messages, "cannot encode");
        }
        if (!TIFFWriteDirectory(tiff.get())) ThrowTiffFailure(messages, "cannot encode");
    }
    sink.Write(file.bytes.data(), file.bytes.size());
}

}  // namespace zpxcli
