// zpx's image readers and writers: every format round-trips, other PNG
// layouts and deep Netpbm samples convert to 8-bit RGBA, and damaged or
// hostile files are refused without taking memory for their claims.
#include <gtest/gtest.h>
#include <png.h>
#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "cli/ImageFile.h"
#include "cli/ImageInput.h"
#include "tests/support/HostileImages.h"

namespace zpxcli {
namespace {

Image Pattern(int width, int height, bool alpha, bool grey) {
    Image image = Image::Blank(width, height, alpha);
    image.isGrey = grey;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            uint8_t* pixel = image.PixelAt(x, y);
            pixel[0] = static_cast<uint8_t>(x * 37 + y * 11);
            pixel[1] = grey ? pixel[0] : static_cast<uint8_t>(x * 5 + y * 71);
            pixel[2] = grey ? pixel[0] : static_cast<uint8_t>(255 - x * 13);
            pixel[3] = alpha ? static_cast<uint8_t>(x * 29 + y) : 255;
        }
    }
    return image;
}

// Soft gradients, which lossy formats keep closely.
Image Smooth(int width, int height, bool alpha, bool grey) {
    Image image = Image::Blank(width, height, alpha);
    image.isGrey = grey;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            uint8_t* pixel = image.PixelAt(x, y);
            pixel[0] = static_cast<uint8_t>(40 + x * 2 + y);
            pixel[1] = grey ? pixel[0] : static_cast<uint8_t>(200 - y * 2);
            pixel[2] = grey ? pixel[0] : static_cast<uint8_t>(90 + x);
            pixel[3] = alpha ? static_cast<uint8_t>(255 - x * 2) : 255;
        }
    }
    return image;
}

Image Decode(const std::vector<uint8_t>& bytes) { return LoadImageFromMemory(bytes.data(), bytes.size()); }

Image Decode(const std::string& text) {
    return LoadImageFromMemory(reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

// The bytes of a literal, NULs included.
template <size_t N>
std::string Bytes(const char (&text)[N]) {
    return std::string(text, N - 1);
}

struct RoundTrip {
    ImageFormat format;
    bool alpha, grey;
    bool keepsAlpha, keepsGrey;
    int tolerance;  // the most a lossy format may change a sample
    bool keepsMetadata;
    EncodeSettings settings;
};

void PrintTo(const RoundTrip& trip, std::ostream* out) {
    *out << FormatName(trip.format) << (trip.grey ? " grey" : " colour") << (trip.alpha ? " with alpha" : "")
         << (trip.settings.quality ? " lossy" : "");
}

// A made-up profile with a header libpng accepts for the image's colours:
// readers and writers carry it as bytes, whatever it says.
std::vector<uint8_t> SomeProfile(bool grey) {
    std::vector<uint8_t> profile(132 + 428, 0);
    const uint32_t size = static_cast<uint32_t>(profile.size());
    for (int i = 0; i < 4; ++i) profile[size_t(i)] = static_cast<uint8_t>(size >> (24 - 8 * i));
    profile[8] = 2;  // version 2.1
    profile[9] = 0x10;
    std::memcpy(&profile[12], "mntr", 4);
    std::memcpy(&profile[16], grey ? "GRAY" : "RGB ", 4);
    std::memcpy(&profile[20], "XYZ ", 4);
    std::memcpy(&profile[36], "acsp", 4);
    const uint8_t illuminant[12] = {0, 0, 0xF6, 0xD6, 0, 1, 0, 0, 0, 0, 0xD3, 0x2D};  // D50
    std::memcpy(&profile[68], illuminant, sizeof illuminant);
    for (size_t i = 132; i < profile.size(); ++i) profile[i] = static_cast<uint8_t>(i * 7 + 3);
    return profile;
}

int LargestDifference(const std::vector<uint8_t>& one, const std::vector<uint8_t>& other) {
    int largest = 0;
    for (size_t i = 0; i < one.size() && i < other.size(); ++i) largest = std::max(largest, std::abs(one[i] - other[i]));
    return largest;
}

class cliImageRoundTrip : public testing::TestWithParam<RoundTrip> {};

TEST_P(cliImageRoundTrip, DecodesWhatItEncoded) {
    const RoundTrip& trip = GetParam();
    Image original = trip.tolerance == 0 ? Pattern(13, 7, trip.alpha, trip.grey) : Smooth(48, 32, trip.alpha, trip.grey);
    original.metadata.iccProfile = SomeProfile(trip.grey);
    original.metadata.xDotsPerInch = 300;
    original.metadata.yDotsPerInch = 150;
    Image decoded = Decode(EncodeImage(original, trip.format, trip.settings));
    ASSERT_EQ(decoded.width, original.width);
    ASSERT_EQ(decoded.height, original.height);
    EXPECT_EQ(decoded.hasAlpha, trip.keepsAlpha);
    EXPECT_EQ(decoded.isGrey, trip.keepsGrey);
    if (!trip.keepsAlpha)
        for (size_t i = 3; i < original.rgba.size(); i += 4) original.rgba[i] = 255;
    EXPECT_LE(LargestDifference(decoded.rgba, original.rgba), trip.tolerance);
    if (trip.keepsMetadata) {
        EXPECT_EQ(decoded.metadata.iccProfile, original.metadata.iccProfile);
    }
    if (trip.keepsMetadata && trip.format != ImageFormat::WebP) {  // WebP holds no resolution
        EXPECT_NEAR(decoded.metadata.xDotsPerInch, 300, 0.05);  // PNG keeps dots per metre
        EXPECT_NEAR(decoded.metadata.yDotsPerInch, 150, 0.05);
    }
}

const EncodeSettings kLossless{}, kLossy{90};

INSTANTIATE_TEST_SUITE_P(
    EveryFormat, cliImageRoundTrip,
    testing::Values(RoundTrip{ImageFormat::Png, false, false, false, false, 0, true, kLossless},
                    RoundTrip{ImageFormat::Png, true, false, true, false, 0, true, kLossless},
                    RoundTrip{ImageFormat::Png, false, true, false, true, 0, true, kLossless},
                    RoundTrip{ImageFormat::Png, true, true, true, true, 0, true, kLossless},
                    RoundTrip{ImageFormat::Jpeg, false, false, false, false, 12, true, kLossless},
                    RoundTrip{ImageFormat::Jpeg, true, false, false, false, 12, true, kLossy},
                    RoundTrip{ImageFormat::Jpeg, false, true, false, true, 4, true, kLossless},
                    RoundTrip{ImageFormat::WebP, false, false, false, false, 0, true, kLossless},
                    RoundTrip{ImageFormat::WebP, true, false, true, false, 0, true, kLossless},
                    RoundTrip{ImageFormat::WebP, false, true, false, false, 0, true, kLossless},
                    RoundTrip{ImageFormat::WebP, true, false, true, false, 12, true, kLossy},
                    RoundTrip{ImageFormat::Tiff, false, false, false, false, 0, true, kLossless},
                    RoundTrip{ImageFormat::Tiff, true, false, true, false, 0, true, kLossless},
                    RoundTrip{ImageFormat::Tiff, false, true, false, true, 0, true, kLossless},
                    RoundTrip{ImageFormat::Tiff, true, true, true, true, 0, true, kLossless},
                    RoundTrip{ImageFormat::Ppm, false, false, false, false, 0, false, kLossless},
                    RoundTrip{ImageFormat::Ppm, true, false, false, false, 0, false, kLossless},
                    RoundTrip{ImageFormat::Pgm, false, true, false, true, 0, false, kLossless},
                    RoundTrip{ImageFormat::Pam, false, false, false, false, 0, false, kLossless},
                    RoundTrip{ImageFormat::Pam, true, false, true, false, 0, false, kLossless},
                    RoundTrip{ImageFormat::Pam, false, true, false, true, 0, false, kLossless},
                    RoundTrip{ImageFormat::Pam, true, true, true, true, 0, false, kLossless}));

TEST(cliImageFile, FilesAreReadByTheirContentsNotTheirNames) {
    const Image original = Pattern(5, 4, false, false);
    std::string pattern = (std::filesystem::temp_directory_path() / "zpx-content-XXXXXX").string();
    ASSERT_NE(::mkdtemp(&pattern[0]), nullptr);
    for (ImageFormat format : {ImageFormat::Png, ImageFormat::WebP, ImageFormat::Tiff, ImageFormat::Ppm}) {
        const std::vector<uint8_t> bytes = EncodeImage(original, format);
        const std::string path = pattern + "/picture.jpg";
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
        EXPECT_EQ(LoadImageFile(path).rgba, original.rgba) << FormatName(format) << " named .jpg";
    }
    std::filesystem::remove_all(pattern);
}

TEST(cliImageFile, PgmOfAColourImageHoldsItsLuma) {
    Image colour = Image::Blank(2, 1, false);
    std::memcpy(colour.PixelAt(0, 0), "\xFF\x00\x00\xFF", 4);
    std::memcpy(colour.PixelAt(1, 0), "\x00\x00\xFF\xFF", 4);
    Image grey = Decode(EncodeImage(colour, ImageFormat::Pgm));
    EXPECT_TRUE(grey.isGrey);
    EXPECT_EQ(grey.PixelAt(0, 0)[0], 76);  // 0.299 * 255
    EXPECT_EQ(grey.PixelAt(1, 0)[2], 29);  // 0.114 * 255
}

// A PNG written by libpng's own simple writer in any of its layouts.
std::vector<uint8_t> PngInLayout(uint32_t format, const void* pixels, int width, int height,
                                 const void* colourMap = nullptr, int colours = 0) {
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(width);
    image.height = static_cast<png_uint_32>(height);
    image.format = format;
    image.colormap_entries = static_cast<png_uint_32>(colours);
    png_alloc_size_t size = 0;
    EXPECT_TRUE(png_image_write_get_memory_size(image, size, 0, pixels, 0, colourMap));
    std::vector<uint8_t> bytes(size);
    EXPECT_TRUE(png_image_write_to_memory(&image, bytes.data(), &size, 0, pixels, 0, colourMap));
    bytes.resize(size);
    return bytes;
}

TEST(cliImageFile, PngOfEveryLayoutBecomesEightBitRGBA) {
    const uint8_t grey[] = {0, 128}, greyAlpha[] = {200, 100}, palette[] = {255, 0, 0, 0, 0, 255}, indices[] = {1, 0};
    const uint16_t deep[] = {0xFFFF, 0x8000, 0x0000, 0xFFFF};  // 0x8000 of 0xFFFF rounds to 128
    const std::pair<std::vector<uint8_t>, std::vector<uint8_t>> cases[] = {
        {PngInLayout(PNG_FORMAT_GRAY, grey, 2, 1), {0, 0, 0, 255, 128, 128, 128, 255}},
        {PngInLayout(PNG_FORMAT_GA, greyAlpha, 1, 1), {200, 200, 200, 100}},
        {PngInLayout(PNG_FORMAT_LINEAR_RGB_ALPHA, deep, 1, 1), {255, 128, 0, 255}},
        {PngInLayout(PNG_FORMAT_RGB_COLORMAP, indices, 2, 1, palette, 2), {0, 0, 255, 255, 255, 0, 0, 255}},
    };
    for (const auto& [bytes, rgba] : cases) EXPECT_EQ(Decode(bytes).rgba, rgba);
    EXPECT_TRUE(Decode(cases[0].first).isGrey);
    EXPECT_TRUE(Decode(cases[1].first).hasAlpha);
}

TEST(cliImageFile, NetpbmSamplesOfAnyMaxvalScaleToEightBits) {
    Image deep = Decode(Bytes("P6\n1 1\n65535\n\xFF\xFF\x80\x00\x00\x00"));
    EXPECT_EQ(deep.rgba, (std::vector<uint8_t>{255, 128, 0, 255}));
    Image shallow = Decode(Bytes("P5 2 1 15 \x0F\x07"));
    EXPECT_EQ(shallow.rgba, (std::vector<uint8_t>{255, 255, 255, 255, 119, 119, 119, 255}));
    Image commented = Decode(Bytes("P5\n# a comment\n1 # another\n1\n255\n\x2A"));
    EXPECT_EQ(commented.rgba[0], 0x2A);
    Image pamWithoutType = Decode(Bytes("P7\nWIDTH 1\nHEIGHT 1\nDEPTH 2\nMAXVAL 255\nENDHDR\n\x10\x20"));
    EXPECT_EQ(pamWithoutType.rgba, (std::vector<uint8_t>{0x10, 0x10, 0x10, 0x20}));
}

void PutBigEndian(std::vector<uint8_t>& bytes, size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes[at + size_t(i)] = static_cast<uint8_t>(value >> (24 - 8 * i));
}

// A PNG whose header claims a size, then an IDAT chunk of `count` deflated
// zero bytes; every chunk carries its correct checksum.
std::vector<uint8_t> PngClaiming(uint32_t width, uint32_t height, size_t count = 0) {
    std::vector<uint8_t> file = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 13, 'I', 'H', 'D', 'R'};
    file.resize(33);
    PutBigEndian(file, 16, width);
    PutBigEndian(file, 20, height);
    file[24] = 8;  // bit depth
    file[25] = 6;  // RGBA
    PutBigEndian(file, 29, static_cast<uint32_t>(crc32(0, file.data() + 12, 17)));
    if (count == 0) return file;
    std::vector<uint8_t> zeros(count, 0);
    uLongf deflatedSize = compressBound(count);
    std::vector<uint8_t> chunk(8 + deflatedSize);
    compress(chunk.data() + 8, &deflatedSize, zeros.data(), count);
    chunk.resize(8 + deflatedSize + 4);
    PutBigEndian(chunk, 0, static_cast<uint32_t>(deflatedSize));
    std::memcpy(chunk.data() + 4, "IDAT", 4);
    PutBigEndian(chunk, 8 + deflatedSize, static_cast<uint32_t>(crc32(0, chunk.data() + 4, uInt(4 + deflatedSize))));
    file.insert(file.end(), chunk.begin(), chunk.end());
    return file;
}

TEST(cliImageFile, HugeClaimsAreRefusedBeforeAllocating) {
    // Within the limits, but far more pixels than the data could inflate to:
    // refused at the header, not after taking 512 MiB for pixels that never come.
    try {
        Decode(PngClaiming(8192, 16384, 64));
        ADD_FAILURE() << "a PNG of 64 zero bytes claiming 8192 x 16384 pixels was read";
    } catch (const ImageError& error) {
        EXPECT_STREQ(error.what(), "PNG error: too little image data for 8192 x 16384 pixels");
    }

    EXPECT_THROW(Decode(PngClaiming(100000, 100000)), ImageError);
    EXPECT_THROW(Decode(PngClaiming(20000, 20000)), ImageError);  // each side fits, the total not
    EXPECT_THROW(Decode(std::string("P6\n100000 100000\n255\n")), ImageError);
    EXPECT_THROW(Decode(std::string("P6\n9999999999 1\n255\n")), ImageError);
    // Within the limits, but the pixels are not there.
    EXPECT_THROW(Decode(std::string("P7\nWIDTH 4000\nHEIGHT 4000\nDEPTH 4\nMAXVAL 255\nENDHDR\n")),
                 ImageError);
}

// The JPEG, WebP and TIFF headers of tests/support/HostileImages.h: each
// claims a picture its data could not fill.
TEST(cliImageFile, HugeClaimsOfTheLibraryFormatsAreRefused) {
    const std::pair<const char*, std::vector<uint8_t>> files[] = {
        {"JPEG 16000 x 8000", zpxtest::JpegClaiming(16000, 8000)},
        {"WebP 11000 x 11000", zpxtest::WebPClaiming(11000, 11000)},
        {"deflated TIFF 16000 x 8000", zpxtest::TiffClaiming(16000, 8000, true)},
        {"stored TIFF 3000 x 2000", zpxtest::TiffClaiming(3000, 2000, false)},
        {"TIFF 100000 x 100000", zpxtest::TiffClaiming(100000, 100000, false)},
    };
    for (const auto& [name, bytes] : files) {
        try {
            Decode(bytes);
            ADD_FAILURE() << name << " was read";
        } catch (const ImageError& error) {
            const std::string message = error.what();
            EXPECT_TRUE(message.find("too little image data") != std::string::npos ||
                        message.find("too large") != std::string::npos ||
                        message.find("truncated") != std::string::npos)
                << name << ": " << message;
        }
    }
    // The same files at their own size are read.
    EXPECT_EQ(Decode(zpxtest::JpegClaiming(16, 16)).width, 16);
    EXPECT_EQ(Decode(zpxtest::WebPClaiming(16, 16)).width, 16);
}

// Damaged image data is an error, not a picture of grey or of garbage.
TEST(cliImageFile, CorruptDataIsRefused) {
    std::vector<uint8_t> jpeg = zpxtest::SmallFile(ImageFormat::Jpeg);
    const uint8_t startOfScan[] = {0xFF, 0xDA};
    const size_t scan = size_t(std::search(jpeg.begin(), jpeg.end(), std::begin(startOfScan), std::end(startOfScan)) -
                               jpeg.begin());
    // A marker in the middle of the image data: the rest of it is lost.
    const size_t middle = scan + 14 + (jpeg.size() - scan - 16) / 2;
    jpeg[middle] = 0xFF;
    jpeg[middle + 1] = 0xD5;
    std::vector<uint8_t> webp = zpxtest::SmallFile(ImageFormat::WebP);
    for (size_t i = 40; i < webp.size(); i += 5) webp[i] ^= 0x5A;
    std::vector<uint8_t> tiff = zpxtest::SmallFile(ImageFormat::Tiff);
    for (size_t i = 16; i < 120; ++i) tiff[i] ^= 0x33;  // the deflated strip, written first
    for (const auto& [name, bytes] : {std::pair<const char*, std::vector<uint8_t>>{"JPEG", jpeg}, {"WebP", webp},
                                      {"TIFF", tiff}})
        EXPECT_THROW(Decode(bytes), ImageError) << name;
    // Tags that disagree: an alpha named but not stored is never read from
    // beyond the row (found by fuzzing; the sanitized build checks it).
    EXPECT_THROW(Decode(zpxtest::TiffClaiming(4, 4, false, 48, true)), ImageError);
}

// Whatever follows a picture in its file is never read (libjpeg takes its
// input in 64 KiB pieces).
TEST(cliImageFile, ReadersStopAtTheirPicture) {
    for (ImageFormat format : {ImageFormat::Png, ImageFormat::Jpeg, ImageFormat::WebP, ImageFormat::Pgm,
                               ImageFormat::Pam}) {
        std::vector<uint8_t> file = EncodeImage(Pattern(9, 5, false, true), format);
        const size_t length = file.size();
        file.resize(length + 200000, 0x55);
        ImageInput input(file.data(), file.size());
        EXPECT_EQ(ReadImage(input).width, 9);
        EXPECT_LE(input.Position(), length + (format == ImageFormat::Jpeg ? 65536 : 0)) << FormatName(format);
    }
}

TEST(cliImageFile, EveryTruncationIsAnError) {
    Image image = Pattern(9, 5, true, false);
    for (ImageFormat format : {ImageFormat::Png, ImageFormat::Jpeg, ImageFormat::WebP, ImageFormat::Tiff,
                               ImageFormat::Ppm, ImageFormat::Pam}) {
        std::vector<uint8_t> whole = EncodeImage(image, format);
        for (size_t length = 0; length < whole.size(); ++length)
            EXPECT_THROW(LoadImageFromMemory(whole.data(), length), ImageError)
                << FormatName(format) << " cut to " << length << " of " << whole.size() << " bytes";
    }
}

TEST(cliImageFile, MalformedNetpbmIsRefused) {
    for (const char* text : {"P3\n1 1\n255\n0 0 0\n",              // plain text samples
                             "P6\n1 1\n0\n\x00\x00\x00",            // maxval 0
                             "P6\n1 1\n70000\n\x00\x00\x00",        // maxval beyond 16 bits
                             "P6\n0 1\n255\n",                      // no pixels
                             "P6\n1 1\n255",                        // header not ended
                             "P7\nWIDTH 1\nHEIGHT 1\nDEPTH 3\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\nxxxx",
                             "P7\nWIDTH 1\nHEIGHT 1\nDEPTH 5\nMAXVAL 255\nENDHDR\nxxxxx",
                             "P7\nWIDTH 1\nHEIGHT 1\nMAXVAL 255\nENDHDR\nx"})
        EXPECT_THROW(Decode(std::string(text)), ImageError) << text;
}

}  // namespace
}  // namespace zpxcli
