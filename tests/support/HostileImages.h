// Files whose headers claim pictures far larger than their data could fill:
// small valid files of each format with the size in the header raised. A
// reader must refuse them before it takes memory for the claimed picture.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "cli/ImageFile.h"

namespace zpxtest {

inline std::vector<uint8_t> SmallFile(zpxcli::ImageFormat format) {
    zpxcli::Image image = zpxcli::Image::Blank(16, 16, false);
    for (size_t i = 0; i < image.rgba.size(); ++i) image.rgba[i] = static_cast<uint8_t>(i * 13);
    return zpxcli::EncodeImage(image, format);
}

inline void PutBigEndian16(std::vector<uint8_t>& bytes, size_t at, uint32_t value) {
    bytes[at] = static_cast<uint8_t>(value >> 8);
    bytes[at + 1] = static_cast<uint8_t>(value);
}

// A baseline JPEG whose frame header says width x height.
inline std::vector<uint8_t> JpegClaiming(uint32_t width, uint32_t height) {
    std::vector<uint8_t> file = SmallFile(zpxcli::ImageFormat::Jpeg);
    for (size_t at = 2; at + 9 < file.size(); ++at) {
        if (file[at] == 0xFF && file[at + 1] == 0xC0) {
            PutBigEndian16(file, at + 5, height);
            PutBigEndian16(file, at + 7, width);
            break;
        }
    }
    return file;
}

// A lossless WebP whose bitstream header says width x height (each 1 to 16384).
inline std::vector<uint8_t> WebPClaiming(uint32_t width, uint32_t height) {
    std::vector<uint8_t> file = SmallFile(zpxcli::ImageFormat::WebP);
    // "VP8L", its length, the signature byte, then 14 bits of width - 1 and 14 of height - 1.
    uint32_t bits = 0;
    std::memcpy(&bits, &file[21], 4);
    bits = (bits & ~uint32_t(0x0FFFFFFF)) | ((width - 1) & 0x3FFF) | ((height - 1) & 0x3FFF) << 14;
    for (int i = 0; i < 4; ++i) file[21 + size_t(i)] = static_cast<uint8_t>(bits >> (8 * i));
    return file;
}

// A little-endian TIFF of one strip of `dataBytes` bytes that says it holds
// width x height RGB pixels, stored as they are or deflated; with
// claimsAlpha, its extra-samples tag names an alpha its three samples lack.
inline std::vector<uint8_t> TiffClaiming(uint32_t width, uint32_t height, bool compressed, uint32_t dataBytes = 64,
                                         bool claimsAlpha = false) {
    const uint16_t entries = claimsAlpha ? 10 : 9;
    const uint32_t dataOffset = 8 + 2 + entries * 12 + 4;
    std::vector<uint8_t> file = {'I', 'I', 42, 0, 8, 0, 0, 0, uint8_t(entries), 0};
    auto put = [&file](uint16_t tag, uint16_t type, uint32_t value) {
        const uint8_t entry[12] = {uint8_t(tag), uint8_t(tag >> 8), uint8_t(type), 0, 1, 0, 0, 0,
                                   uint8_t(value), uint8_t(value >> 8), uint8_t(value >> 16), uint8_t(value >> 24)};
        file.insert(file.end(), entry, entry + 12);
    };
    put(256, 4, width);                  // image width
    put(257, 4, height);                 // image length
    put(258, 3, 8);                      // bits per sample (one value for all three)
    put(259, 3, compressed ? 8 : 1);     // compression: deflate or none
    put(262, 3, 2);                      // RGB
    put(273, 4, dataOffset);             // the strip's offset
    put(277, 3, 3);                      // samples per pixel
    put(278, 4, height);                 // rows per strip: one strip
    put(279, 4, dataBytes);              // the strip's length
    if (claimsAlpha) put(338, 3, 2);     // extra samples: one, unassociated alpha
    file.insert(file.end(), {0, 0, 0, 0});
    file.resize(file.size() + dataBytes, 0x5A);
    return file;
}

}  // namespace zpxtest
