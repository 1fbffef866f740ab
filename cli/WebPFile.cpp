// WebP through libwebp, lossless or lossy. libwebp decodes a whole picture
// at once, so a reader first takes the file's RIFF container (which says how
// long it is) and checks it before the picture is allocated; a colour
// profile travels in the container's ICCP chunk.
#include <webp/decode.h>
#include <webp/demux.h>
#include <webp/encode.h>
#include <webp/mux.h>

#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "cli/ImageCodecs.h"

namespace zpxcli {

namespace {

uint32_t LittleEndian(const uint8_t* bytes) {
    return uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8 | uint32_t(bytes[2]) << 16 | uint32_t(bytes[3]) << 24;
}

// The container, read whole: its header says how long it is, and nothing
// after it is read.
std::vector<uint8_t> ReadContainer(ImageInput& input) {
    uint8_t header[12];
    if (input.ReadAt(0, header, sizeof header) != sizeof header || std::memcmp(header, "RIFF", 4) != 0 ||
        std::memcmp(header + 8, "WEBP", 4) != 0)
        throw ImageError("not a WebP file");
    const uint64_t length = 8 + uint64_t(LittleEndian(header + 4));
    if (length > input.Size()) throw ImageError("WebP error: file is truncated");
    // More than the largest picture zpx reads could take even uncompressed.
    if (length > uint64_t(kMaxImagePixels) * 4 + (1 << 20)) throw ImageError("WebP error: file too large");
    std::vector<uint8_t> file(length);
    if (input.Read(file.data(), file.size()) != file.size()) throw ImageError("WebP error: file is truncated");
    return file;
}

ImageMetadata WebPMetadata(const std::vector<uint8_t>& file) {
    ImageMetadata metadata;
    WebPData data = {file.data(), file.size()};
    std::unique_ptr<WebPDemuxer, void (*)(WebPDemuxer*)> demuxer(WebPDemux(&data), WebPDemuxDelete);
    WebPChunkIterator chunk;
    if (demuxer && WebPDemuxGetChunk(demuxer.get(), "ICCP", 1, &chunk)) {
        metadata.iccProfile.assign(chunk.chunk.bytes, chunk.chunk.bytes + chunk.chunk.size);
        WebPDemuxReleaseChunkIterator(&chunk);
    }
    return metadata;
}

// A plain picture can be coded in next to nothing, losslessly or not, so
// there is no hard bound on pixels per byte: up to a megapixel is taken
// whatever the file brings, and a larger picture must bring a byte for
// every 4096 pixels.
constexpr int64_t kPixelsAnyFileMayClaim = int64_t(1) << 20;
constexpr uint64_t kMostPixelsPerByte = 4096;

Image DecodeWebP(ImageInput& input) {
    const std::vector<uint8_t> file = ReadContainer(input);
    WebPBitstreamFeatures features;
    if (WebPGetFeatures(file.data(), file.size(), &features) != VP8_STATUS_OK)
        throw ImageError("WebP error: cannot read its header");
    if (features.has_animation) throw ImageError("WebP error: animated pictures are not read");
    CheckImageSize(features.width, features.height);
    if (int64_t(features.width) * features.height > kPixelsAnyFileMayClaim)
        CheckDataCanFill("WebP", features.width, features.height, file.size(), kMostPixelsPerByte);

    Image image = Image::Blank(features.width, features.height, features.has_alpha != 0);
    if (WebPDecodeRGBAInto(file.data(), file.size(), image.rgba.data(), image.rgba.size(), image.width * 4) ==
        nullptr)
        throw ImageError("WebP error: the picture data is corrupt or truncated");
    image.metadata = WebPMetadata(file);
    return image;
}

// ---- writing ----

struct PictureOwner {
    WebPPicture picture;
    PictureOwner() {
        if (!WebPPictureInit(&picture)) throw std::bad_alloc();
    }
    ~PictureOwner() { WebPPictureFree(&picture); }
    PictureOwner(const PictureOwner&) = delete;
    PictureOwner& operator=(const PictureOwner&) = delete;
};

struct MemoryOwner {
    WebPMemoryWriter writer;
    MemoryOwner() { WebPMemoryWriterInit(&writer); }
    ~MemoryOwner() { WebPMemoryWriterClear(&writer); }
    MemoryOwner(const MemoryOwner&) = delete;
    MemoryOwner& operator=(const MemoryOwner&) = delete;
};

WebPConfig ConfigFor(const std::optional<int>& quality) {
    WebPConfig config;
    // Lossless at a moderate effort; lossy at the quality asked for.
    if (!WebPConfigInit(&config) || (!quality && !WebPConfigLosslessPreset(&config, 3)))
        throw ImageError("WebP error: the library refuses its own settings");
    if (quality) config.quality = static_cast<float>(*quality);
    // The colours under transparent pixels are kept: they are a mask's picture's own.
    config.exact = 1;
    return config;
}

// The encoded picture, with the colour profile in an ICCP chunk.
void WriteWithProfile(const WebPMemoryWriter& encoded, const ImageMetadata& metadata, ByteSink& sink) {
    if (metadata.iccProfile.empty()) return sink.Write(encoded.mem, encoded.size);
    std::unique_ptr<WebPMux, void (*)(WebPMux*)> mux(WebPMuxNew(), WebPMuxDelete);
    WebPData image = {encoded.mem, encoded.size};
    WebPData profile = {metadata.iccProfile.data(), metadata.iccProfile.size()};
    WebPData assembled = {nullptr, 0};
    if (!mux || WebPMuxSetImage(mux.get(), &image, 0) != WEBP_MUX_OK ||
        WebPMuxSetChunk(mux.get(), "ICCP", &profile, 0) != WEBP_MUX_OK ||
        WebPMuxAssemble(mux.get(), &assembled) != WEBP_MUX_OK) {
        WebPDataClear(&assembled);
        throw ImageError("WebP error: cannot add the colour profile");
    }
    std::unique_ptr<WebPData, void (*)(WebPData*)> owned(&assembled, WebPDataClear);
    sink.Write(assembled.bytes, assembled.size);
}

}  // namespace

std::unique_ptr<ImageReader> OpenWebP(ImageInput& input) {
    return std::make_unique<DecodedImageReader>(DecodeWebP(input));
}

void EncodeWebP(const ImageRows& rows, const std::optional<int>& quality, ByteSink& sink) {
    const WebPConfig config = ConfigFor(quality);
    PictureOwner owner;
    WebPPicture& picture = owner.picture;
    picture.use_argb = 1;
    picture.width = rows.width;
    picture.height = rows.height;
    if (!WebPPictureAlloc(&picture)) throw std::bad_alloc();
    std::vector<uint8_t> rgba(static_cast<size_t>(rows.width) * 4);
    for (int y = 0; y < rows.height; ++y) {
        rows.fill(y, rgba.data());
        uint32_t* argb = picture.argb + static_cast<size_t>(y) * picture.argb_stride;
        for (int x = 0; x < rows.width; ++x) {
            const uint8_t* p = &rgba[static_cast<size_t>(x) * 4];
            argb[x] = uint32_t(rows.hasAlpha ? p[3] : 255) << 24 | uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2];
        }
    }
    MemoryOwner memory;
    picture.writer = WebPMemoryWrite;
    picture.custom_ptr = &memory.writer;
    if (!WebPEncode(&config, &picture))
        throw ImageError("WebP error: cannot encode (code " + std::to_string(picture.error_code) + ")");
    WriteWithProfile(memory.writer, rows.metadata, sink);
}

}  // namespace zpxcli
