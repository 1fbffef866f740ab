// Binary Netpbm: P5 (grey), P6 (RGB) and P7 (PAM with a tuple type). Samples
// of any maxval up to 65535 are scaled to 8 bits with rounding.
#include <cstdio>
#include <cstring>
#include <string>

#include "cli/ImageCodecs.h"

namespace zpxcli {

namespace {

struct NetpbmHeader {
    int64_t width = 0;
    int64_t height = 0;
    int64_t depth = 0;
    int64_t maxval = 0;
    std::string tupleType;
};

// Reads a header token by token over bytes that may end anywhere.
class HeaderCursor {
public:
    HeaderCursor(const uint8_t* bytes, size_t size) : bytes_(bytes), size_(size) {}

    size_t offset() const { return offset_; }

    bool StartsWith(const char* text) const {
        size_t length = std::strlen(text);
        return size_ - offset_ >= length && std::memcmp(bytes_ + offset_, text, length) == 0;
    }
    void Skip(size_t count) { offset_ += count; }

    void SkipSpaceAndComments() {
        while (offset_ < size_) {
            if (bytes_[offset_] == '#') {
                while (offset_ < size_ && bytes_[offset_] != '\n') ++offset_;
            } else if (IsSpace(bytes_[offset_])) {
                ++offset_;
            } else {
                return;
            }
        }
    }

    // A decimal number of at most nine digits: anything longer is no size we take.
    int64_t Number(const char* what) {
        SkipSpaceAndComments();
        int64_t value = 0;
        int digits = 0;
        while (offset_ < size_ && bytes_[offset_] >= '0' && bytes_[offset_] <= '9') {
            if (++digits > 9) throw ImageError(std::string("header ") + what + " is too large");
            value = value * 10 + (bytes_[offset_++] - '0');
        }
        if (digits == 0) throw ImageError(std::string("header has no ") + what);
        return value;
    }

    std::string Word() {
        SkipSpaceAndComments();
        std::string word;
        while (offset_ < size_ && !IsSpace(bytes_[offset_]) && word.size() < 64)
            word += static_cast<char>(bytes_[offset_++]);
        return word;
    }

    // The single whitespace character that ends a header.
    void EndOfHeader() {
        if (offset_ >= size_ || !IsSpace(bytes_[offset_])) throw ImageError("header is not terminated");
        ++offset_;
    }

private:
    static bool IsSpace(uint8_t c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

    const uint8_t* bytes_;
    size_t size_;
    size_t offset_ = 0;
};

NetpbmHeader ReadClassicHeader(HeaderCursor& cursor, int depth) {
    NetpbmHeader header;
    header.depth = depth;
    header.width = cursor.Number("width");
    header.height = cursor.Number("height");
    header.maxval = cursor.Number("maxval");
    cursor.EndOfHeader();
    return header;
}

int64_t DepthOfTupleType(const std::string& type) {
    if (type == "GRAYSCALE" || type == "BLACKANDWHITE") return 1;
    if (type == "GRAYSCALE_ALPHA" || type == "BLACKANDWHITE_ALPHA") return 2;
    if (type == "RGB") return 3;
    if (type == "RGB_ALPHA") return 4;
    throw ImageError("unsupported PAM tuple type " + type);
}

NetpbmHeader ReadPamHeader(HeaderCursor& cursor) {
    NetpbmHeader header;
    header.depth = -1;
    for (;;) {
        std::string key = cursor.Word();
        if (key == "ENDHDR") break;
        if (key == "WIDTH") header.width = cursor.Number("width");
        else if (key == "HEIGHT") header.height = cursor.Number("height");
        else if (key == "DEPTH") header.depth = cursor.Number("depth");
        else if (key == "MAXVAL") header.maxval = cursor.Number("maxval");
        else if (key == "TUPLTYPE") header.tupleType = cursor.Word();
        else if (key.empty()) throw ImageError("PAM header has no ENDHDR");
        else throw ImageError("PAM header has an unknown line " + key);
    }
    cursor.EndOfHeader();
    if (header.depth < 0) throw ImageError("PAM header has no depth");
    if (!header.tupleType.empty() && DepthOfTupleType(header.tupleType) != header.depth)
        throw ImageError("PAM depth does not match its tuple type");
    if (header.depth < 1 || header.depth > 4) throw ImageError("unsupported PAM depth " + std::to_string(header.depth));
    return header;
}

NetpbmHeader ReadHeader(HeaderCursor& cursor) {
    bool grey = cursor.StartsWith("P5"), colour = cursor.StartsWith("P6"), pam = cursor.StartsWith("P7");
    if (!grey && !colour && !pam) throw ImageError("not a binary PPM, PGM or PAM file");
    cursor.Skip(2);
    return pam ? ReadPamHeader(cursor) : ReadClassicHeader(cursor, grey ? 1 : 3);
}

// One sample scaled from 0..maxval to 0..255; out-of-range samples saturate.
struct SampleReader {
    int64_t maxval;
    int bytesPerSample;

    uint8_t Read(const uint8_t*& at) const {
        int64_t value = at[0];
        if (bytesPerSample == 2) value = (value << 8) | at[1];
        at += bytesPerSample;
        if (value >= maxval) return 255;
        if (maxval == 255) return static_cast<uint8_t>(value);
        return static_cast<uint8_t>((value * 255 + maxval / 2) / maxval);
    }
};

void DecodeSamples(const NetpbmHeader& header, const uint8_t* data, Image& image) {
    SampleReader sample{header.maxval, header.maxval > 255 ? 2 : 1};
    bool greyOnly = header.depth <= 2;
    bool withAlpha = header.depth == 2 || header.depth == 4;
    uint8_t* out = image.rgba.data();
    for (int64_t pixel = 0, count = header.width * header.height; pixel < count; ++pixel, out += 4) {
        if (greyOnly) {
            out[0] = out[1] = out[2] = sample.Read(data);
        } else {
            for (int channel = 0; channel < 3; ++channel) out[channel] = sample.Read(data);
        }
        out[3] = withAlpha ? sample.Read(data) : 255;
    }
}

}  // namespace

Image DecodeNetpbm(const uint8_t* bytes, size_t size) {
    HeaderCursor cursor(bytes, size);
    NetpbmHeader header = ReadHeader(cursor);
    if (header.maxval < 1 || header.maxval > 65535) throw ImageError("maxval must be 1 to 65535");
    CheckImageSize(header.width, header.height);
    int64_t bytesPerSample = header.maxval > 255 ? 2 : 1;
    int64_t needed = header.width * header.height * header.depth * bytesPerSample;
    int64_t present = static_cast<int64_t>(size - cursor.offset());
    if (present < needed)
        throw ImageError("truncated: " + std::to_string(present) + " of " + std::to_string(needed) + " pixel bytes");

    Image image = Image::Blank(static_cast<int>(header.width), static_cast<int>(header.height),
                               header.depth == 2 || header.depth == 4);
    image.isGrey = header.depth <= 2;
    DecodeSamples(header, bytes + cursor.offset(), image);
    return image;
}

namespace {

uint8_t GreyLevel(const uint8_t* pixel) {
    // Rounded luma; a grey pixel keeps its level exactly.
    return static_cast<uint8_t>((299 * pixel[0] + 587 * pixel[1] + 114 * pixel[2] + 500) / 1000);
}

std::vector<uint8_t> WithHeader(const std::string& header, const Image& image, int depth) {
    std::vector<uint8_t> bytes(header.begin(), header.end());
    bytes.reserve(header.size() + static_cast<size_t>(image.width) * image.height * depth);
    for (size_t offset = 0; offset < image.rgba.size(); offset += 4) {
        const uint8_t* pixel = &image.rgba[offset];
        if (depth <= 2) bytes.push_back(GreyLevel(pixel));
        else bytes.insert(bytes.end(), pixel, pixel + 3);
        if (depth == 2 || depth == 4) bytes.push_back(pixel[3]);
    }
    return bytes;
}

std::string PamHeader(const Image& image, int depth) {
    static const char* const kTupleTypes[] = {"", "GRAYSCALE", "GRAYSCALE_ALPHA", "RGB", "RGB_ALPHA"};
    char header[160];
    std::snprintf(header, sizeof header, "P7\nWIDTH %d\nHEIGHT %d\nDEPTH %d\nMAXVAL 255\nTUPLTYPE %s\nENDHDR\n",
                  image.width, image.height, depth, kTupleTypes[depth]);
    return header;
}

}  // namespace

std::vector<uint8_t> EncodeNetpbm(const Image& image, ImageFormat format) {
    char header[64];
    if (format == ImageFormat::Pgm) {
        std::snprintf(header, sizeof header, "P5\n%d %d\n255\n", image.width, image.height);
        return WithHeader(header, image, 1);
    }
    if (format == ImageFormat::Ppm) {
        std::snprintf(header, sizeof header, "P6\n%d %d\n255\n", image.width, image.height);
        return WithHeader(header, image, 3);
    }
    int depth = (image.isGrey ? 1 : 3) + (image.hasAlpha ? 1 : 0);
    return WithHeader(PamHeader(image, depth), image, depth);
}

}  // namespace zpxcli
