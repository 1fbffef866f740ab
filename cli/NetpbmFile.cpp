// Binary Netpbm: P5 (grey), P6 (RGB) and P7 (PAM with a tuple type). Samples
// of any maxval up to 65535 are scaled to 8 bits with rounding.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

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

// Reads a header token by token from the input.
class HeaderCursor {
public:
    explicit HeaderCursor(ImageInput& input) : input_(input) {}

    void SkipSpaceAndComments() {
        for (int byte = input_.Peek(); byte >= 0; byte = input_.Peek()) {
            if (byte == '#') {
                while (byte >= 0 && byte != '\n') byte = input_.Next();
            } else if (IsSpace(byte)) {
                input_.Next();
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
        for (int byte = input_.Peek(); byte >= '0' && byte <= '9'; byte = input_.Peek()) {
            if (++digits > 9) throw ImageError(std::string("header ") + what + " is too large");
            value = value * 10 + (input_.Next() - '0');
        }
        if (digits == 0) throw ImageError(std::string("header has no ") + what);
        return value;
    }

    std::string Word() {
        SkipSpaceAndComments();
        std::string word;
        for (int byte = input_.Peek(); byte >= 0 && !IsSpace(byte) && word.size() < 64; byte = input_.Peek())
            word += static_cast<char>(input_.Next());
        return word;
    }

    // The single whitespace character that ends a header.
    void EndOfHeader() {
        if (!IsSpace(input_.Next())) throw ImageError("header is not terminated");
    }

private:
    static bool IsSpace(int c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

    ImageInput& input_;
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

NetpbmHeader ReadHeader(ImageInput& input) {
    uint8_t magic[2];
    if (input.Read(magic, 2) != 2 || magic[0] != 'P' || (magic[1] != '5' && magic[1] != '6' && magic[1] != '7'))
        throw ImageError("not a binary PPM, PGM or PAM file");
    HeaderCursor cursor(input);
    if (magic[1] == '7') return ReadPamHeader(cursor);
    return ReadClassicHeader(cursor, magic[1] == '5' ? 1 : 3);
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

void DecodeRow(const NetpbmHeader& header, const uint8_t* data, uint8_t* out) {
    SampleReader sample{header.maxval, header.maxval > 255 ? 2 : 1};
    bool greyOnly = header.depth <= 2;
    bool withAlpha = header.depth == 2 || header.depth == 4;
    for (int64_t x = 0; x < header.width; ++x, out += 4) {
        if (greyOnly) {
            out[0] = out[1] = out[2] = sample.Read(data);
        } else {
            for (int channel = 0; channel < 3; ++channel) out[channel] = sample.Read(data);
        }
        out[3] = withAlpha ? sample.Read(data) : 255;
    }
}

// Rows as they come, each checked to be there.
class NetpbmReader : public ImageReader {
public:
    explicit NetpbmReader(ImageInput& input) : input_(input), header_(ReadHeader(input)) {
        if (header_.maxval < 1 || header_.maxval > 65535) throw ImageError("maxval must be 1 to 65535");
        CheckImageSize(header_.width, header_.height);
        const int64_t rowBytes = header_.width * header_.depth * (header_.maxval > 255 ? 2 : 1);
        const int64_t needed = rowBytes * header_.height;
        const uint64_t present = input.Remaining();
        if (present < uint64_t(needed))
            throw ImageError("truncated: " + std::to_string(present) + " of " + std::to_string(needed) +
                             " pixel bytes");
        shape_.width = static_cast<int>(header_.width);
        shape_.height = static_cast<int>(header_.height);
        shape_.hasAlpha = header_.depth == 2 || header_.depth == 4;
        shape_.isGrey = header_.depth <= 2;
        shape_.deep = header_.maxval > 255;
        row_.resize(static_cast<size_t>(rowBytes));
    }

    void ReadRow(uint8_t* rgba) override {
        if (input_.Read(row_.data(), row_.size()) != row_.size()) throw ImageError("truncated: the file got shorter");
        DecodeRow(header_, row_.data(), rgba);
    }

private:
    ImageInput& input_;
    NetpbmHeader header_;
    std::vector<uint8_t> row_;
};

}  // namespace

std::unique_ptr<ImageReader> OpenNetpbm(ImageInput& input) { return std::make_unique<NetpbmReader>(input); }

namespace {

// The header, then each row as `depth` samples a pixel.
void WriteWithHeader(const std::string& header, const ImageRows& rows, int depth, ByteSink& sink) {
    sink.Write(reinterpret_cast<const uint8_t*>(header.data()), header.size());
    std::vector<uint8_t> rgba(static_cast<size_t>(rows.width) * 4);
    std::vector<uint8_t> samples(static_cast<size_t>(rows.width) * depth);
    for (int y = 0; y < rows.height; ++y) {
        rows.fill(y, rgba.data());
        PackRow(rgba.data(), rows.width, depth, samples.data());
        sink.Write(samples.data(), samples.size());
    }
}

std::string PamHeader(const ImageRows& rows, int depth) {
    static const char* const kTupleTypes[] = {"", "GRAYSCALE", "GRAYSCALE_ALPHA", "RGB", "RGB_ALPHA"};
    char header[160];
    std::snprintf(header, sizeof header, "P7\nWIDTH %d\nHEIGHT %d\nDEPTH %d\nMAXVAL 255\nTUPLTYPE %s\nENDHDR\n",
                  rows.width, rows.height, depth, kTupleTypes[depth]);
    return header;
}

}  // namespace

void EncodeNetpbm(const ImageRows& rows, ImageFormat format, ByteSink& sink) {
    char header[64];
    if (format == ImageFormat::Pgm) {
        std::snprintf(header, sizeof header, "P5\n%d %d\n255\n", rows.width, rows.height);
        WriteWithHeader(header, rows, 1, sink);
    } else if (format == ImageFormat::Ppm) {
        std::snprintf(header, sizeof header, "P6\n%d %d\n255\n", rows.width, rows.height);
        WriteWithHeader(header, rows, 3, sink);
    } else {
        int depth = ChannelsOf(rows);
        WriteWithHeader(PamHeader(rows, depth), rows, depth, sink);
    }
}

}  // namespace zpxcli
