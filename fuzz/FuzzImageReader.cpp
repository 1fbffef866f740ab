// The file readers of the zpx program on arbitrary bytes, one target per
// format (ZPX_FUZZ_FORMAT names it: its seeds, and the format read images are
// written back in). A file is either refused with ImageError or read into a
// consistent image; a read image written back and read again must come back
// the same (for JPEG, which is lossy, the same size). Before any input,
// headers that claim 100000 x 100000 pixels, or far more pixels than their
// data holds, must be refused without a large allocation.
#include <sanitizer/allocator_interface.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "cli/ImageFile.h"
#include "tests/support/HostileImages.h"

namespace {

using zpxcli::Image;
using zpxcli::ImageError;
using zpxcli::ImageFormat;

constexpr ImageFormat kFormat = ImageFormat::ZPX_FUZZ_FORMAT;

[[noreturn]] void Fail(const std::string& what) {
    std::fprintf(stderr, "\n==== fuzz reader (%s): %s\n", zpxcli::FormatName(kFormat), what.c_str());
    std::fflush(stderr);
    std::abort();
}

void CheckConsistent(const Image& image) {
    if (image.width < 1 || image.height < 1 || image.width > zpxcli::kMaxImageSide ||
        image.height > zpxcli::kMaxImageSide || int64_t(image.width) * image.height > zpxcli::kMaxImagePixels)
        Fail("read an image of " + std::to_string(image.width) + " x " + std::to_string(image.height));
    if (image.rgba.size() != size_t(image.width) * image.height * 4) Fail("pixel bytes do not match the size");
    if (!image.hasAlpha) {
        for (size_t i = 3; i < image.rgba.size(); i += 4) {
            if (image.rgba[i] != 255) Fail("an image without alpha has a pixel that is not opaque");
        }
    }
}

void CheckRoundTrip(const Image& image) {
    const std::vector<uint8_t> encoded = zpxcli::EncodeImage(image, kFormat);
    Image again;
    try {
        again = zpxcli::LoadImageFromMemory(encoded.data(), encoded.size());
    } catch (const ImageError& error) {
        Fail(std::string("cannot read what was written: ") + error.what());
    }
    if (again.width != image.width || again.height != image.height) Fail("an image written and read again differs");
    if (kFormat == ImageFormat::Jpeg) return;
    if (again.hasAlpha != image.hasAlpha || again.rgba != image.rgba) Fail("an image written and read again differs");
}

// ---- headers that claim far more pixels than they bring ----

constexpr size_t kMostForAHeader = size_t(4) << 20;
size_t gLargestAllocation = 0;

void NoteAllocation(const volatile void*, size_t size) {
    if (size > gLargestAllocation) gLargestAllocation = size;
}
void NoteFree(const volatile void*) {}

void PutBigEndian(std::vector<uint8_t>& bytes, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) bytes.push_back(uint8_t(value >> shift));
}

void PutChunk(std::vector<uint8_t>& bytes, const char* type, const std::vector<uint8_t>& data) {
    PutBigEndian(bytes, uint32_t(data.size()));
    std::vector<uint8_t> body(type, type + 4);
    body.insert(body.end(), data.begin(), data.end());
    uint32_t crc = 0xFFFFFFFFu;
    for (uint8_t byte : body) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
    }
    bytes.insert(bytes.end(), body.begin(), body.end());
    PutBigEndian(bytes, crc ^ 0xFFFFFFFFu);
}

// An 8-bit RGBA PNG of that size whose image data is one stored deflate
// block of 64 zero bytes.
std::vector<uint8_t> PngClaiming(uint32_t width, uint32_t height) {
    std::vector<uint8_t> bytes = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<uint8_t> header;
    PutBigEndian(header, width);
    PutBigEndian(header, height);
    header.insert(header.end(), {8, 6, 0, 0, 0});
    PutChunk(bytes, "IHDR", header);
    std::vector<uint8_t> data = {0x78, 0x01, 0x01, 64, 0, 0xBF, 0xFF};
    data.resize(data.size() + 64 + 4, 0);  // the zeros, then an Adler-32 nobody reaches
    PutChunk(bytes, "IDAT", data);
    return bytes;
}

// A 1-bit 11585 x 11585 PNG (512 MiB as a picture) of a few bytes of image
// data followed by a private chunk of 16 KB: the file could hold the
// picture's rows, its image data could not.
std::vector<uint8_t> PngWithDataElsewhere() {
    std::vector<uint8_t> bytes = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<uint8_t> header;
    PutBigEndian(header, 11585);
    PutBigEndian(header, 11585);
    header.insert(header.end(), {1, 0, 0, 0, 0});
    PutChunk(bytes, "IHDR", header);
    PutChunk(bytes, "IDAT", {0x78, 0x01, 0x01, 4, 0, 0xFB, 0xFF, 0, 0, 0, 0});
    PutChunk(bytes, "prIv", std::vector<uint8_t>(16384, 0));
    PutChunk(bytes, "IEND", {});
    return bytes;
}

// A small valid PNG whose text chunk claims 1.2 GB.
std::vector<uint8_t> PngTextClaiming(uint32_t length) {
    std::vector<uint8_t> bytes = PngClaiming(4, 4);
    std::vector<uint8_t> text;
    PutBigEndian(text, length);
    text.insert(text.end(), {'t', 'E', 'X', 't', 'a', 0, 'b'});
    bytes.insert(bytes.begin() + 33, text.begin(), text.end());
    return bytes;
}

std::vector<uint8_t> NetpbmClaiming(const char* header) {
    std::string text = header;
    text.append(64, '\x7f');
    return std::vector<uint8_t>(text.begin(), text.end());
}

// Headers beyond the limits, ones within them whose data is far too short,
// and a chunk longer than the file.
std::vector<std::vector<uint8_t>> HugeHeaders() {
    using namespace zpxtest;
    if (kFormat == ImageFormat::Png)
        return {PngClaiming(100000, 100000), PngClaiming(8192, 16384), PngWithDataElsewhere(),
                PngTextClaiming(0x48000010)};
    if (kFormat == ImageFormat::Jpeg) return {JpegClaiming(60000, 60000), JpegClaiming(16000, 8000)};
    if (kFormat == ImageFormat::WebP) return {WebPClaiming(16384, 16384), WebPClaiming(11000, 11000)};
    if (kFormat == ImageFormat::Tiff)
        return {TiffClaiming(100000, 100000, false), TiffClaiming(16000, 8000, true), TiffClaiming(3000, 2000, false)};
    return {NetpbmClaiming("P6\n100000 100000\n255\n"), NetpbmClaiming("P5\n100000 100000\n65535\n"),
            NetpbmClaiming("P7\nWIDTH 100000\nHEIGHT 100000\nDEPTH 4\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\n"),
            NetpbmClaiming("P6\n8192 16384\n255\n")};
}

void CheckHugeHeadersRefused() {
    __sanitizer_install_malloc_and_free_hooks(NoteAllocation, NoteFree);
    size_t largest = 0;
    for (const std::vector<uint8_t>& header : HugeHeaders()) {
        gLargestAllocation = 0;
        try {
            zpxcli::LoadImageFromMemory(header.data(), header.size());
            Fail("a header claiming far more than the file holds was read");
        } catch (const ImageError&) {
        }
        // libpng takes two rows of the claimed width before the size is seen.
        if (gLargestAllocation > kMostForAHeader)
            Fail("a header claiming far more than the file holds took " + std::to_string(gLargestAllocation) +
                 " bytes");
        largest = std::max(largest, gLargestAllocation);
    }
    std::fprintf(stderr, "fuzz reader (%s): huge headers refused, largest allocation %zu bytes\n",
                 zpxcli::FormatName(kFormat), largest);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    CheckHugeHeadersRefused();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Image image;
    try {
        image = zpxcli::LoadImageFromMemory(data, size);
    } catch (const ImageError&) {
        return 0;
    }
    CheckConsistent(image);
    CheckRoundTrip(image);
    return 0;
}
