// JPEG through libjpeg-turbo. libjpeg reports errors by calling a function
// that must not return, so, as with libpng, every call into it with a jump
// buffer set keeps only trivially destructible locals; what a callback
// caught, or libjpeg's message, is thrown once libjpeg's frames are gone.
// A file whose data ends early or is corrupt is refused, where libjpeg on its
// own would fill the rest with grey and warn.
#include <cstddef>
#include <cstdio>
// jpeglib.h needs size_t and FILE declared before it.
#include <jerror.h>
#include <jpeglib.h>

#include <algorithm>
#include <csetjmp>
#include <cstring>
#include <cstdlib>
#include <exception>
#include <memory>
#include <new>
#include <string>

#include "cli/ImageCodecs.h"

namespace zpxcli {

namespace {

constexpr size_t kBufferBytes = 64 * 1024;

// The error manager and what a failure left behind. The first member, so
// that libjpeg's pointer to its error manager is a pointer to this.
struct JpegSession {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
    std::exception_ptr failure;
    char error[JMSG_LENGTH_MAX] = {0};
};

[[noreturn]] void OnJpegError(j_common_ptr common) {
    auto* session = reinterpret_cast<JpegSession*>(common->err);
    if (session->error[0] == 0) (*common->err->format_message)(common, session->error);
    std::longjmp(session->jump, 1);
}

// Warnings that mean the picture is not all there are errors here.
void OnJpegMessage(j_common_ptr common, int level) {
    if (level >= 0) return;
    switch (common->err->msg_code) {
        case JWRN_JPEG_EOF:
        case JWRN_HIT_MARKER:
        case JWRN_HUFF_BAD_CODE:
        case JWRN_MUST_RESYNC:
            OnJpegError(common);
        default:
            break;
    }
}

void InitSession(JpegSession& session, jpeg_common_struct& common) {
    common.err = jpeg_std_error(&session.manager);
    session.manager.error_exit = OnJpegError;
    session.manager.emit_message = OnJpegMessage;
}

[[noreturn]] void ThrowJpegFailure(const JpegSession& session) {
    if (session.failure) std::rethrow_exception(session.failure);
    throw ImageError(std::string("JPEG error: ") + (session.error[0] ? session.error : "unknown"));
}

// ---- reading ----

struct JpegSource {
    jpeg_source_mgr manager;
    ImageInput* input = nullptr;
    JpegSession* session = nullptr;
    JOCTET buffer[kBufferBytes];
};

void NothingToDo(j_decompress_ptr) {}

boolean FillFromInput(j_decompress_ptr info) {
    auto* source = reinterpret_cast<JpegSource*>(info->src);
    size_t got = 0;
    try {
        got = source->input->Read(source->buffer, sizeof source->buffer);
    } catch (...) {
        source->session->failure = std::current_exception();
        OnJpegError(reinterpret_cast<j_common_ptr>(info));
    }
    if (got == 0) {
        // As libjpeg's own sources do: an end of image, after a warning that
        // the file ended early (an error here).
        WARNMS(info, JWRN_JPEG_EOF);
        static const JOCTET kEnd[] = {0xFF, JPEG_EOI};
        source->manager.next_input_byte = kEnd;
        source->manager.bytes_in_buffer = sizeof kEnd;
        return TRUE;
    }
    source->manager.next_input_byte = source->buffer;
    source->manager.bytes_in_buffer = got;
    return TRUE;
}

void SkipInput(j_decompress_ptr info, long count) {
    auto* source = reinterpret_cast<JpegSource*>(info->src);
    while (count > 0) {
        if (source->manager.bytes_in_buffer == 0) FillFromInput(info);
        const size_t skip = std::min<size_t>(size_t(count), source->manager.bytes_in_buffer);
        source->manager.next_input_byte += skip;
        source->manager.bytes_in_buffer -= skip;
        count -= long(skip);
    }
}

// Where the image data starts: the offset of the first start-of-scan
// marker, found by walking the segments before it by their lengths, and
// whether the data is arithmetic-coded. Zero when there is no scan.
struct JpegLayout {
    uint64_t firstScan = 0;
    bool arithmetic = false;
};

JpegLayout SurveyJpeg(ImageInput& input) {
    JpegLayout layout;
    uint8_t marker[4];
    for (uint64_t offset = 2; input.ReadAt(offset, marker, sizeof marker) == sizeof marker;) {
        if (marker[0] != 0xFF) break;
        if (marker[1] == 0xFF) {  // fill bytes before a marker
            ++offset;
            continue;
        }
        if (marker[1] == 0xDA) {
            layout.firstScan = offset;
            break;
        }
        if (marker[1] >= 0xC9 && marker[1] <= 0xCF && marker[1] != 0xCC) layout.arithmetic = true;
        offset += 2 + (uint64_t(marker[2]) << 8 | marker[3]);
    }
    return layout;
}

// Huffman-coded image data needs at least one bit for every 8 x 8 block;
// arithmetic coding can pack a plain picture far tighter, so it is allowed
// more, and a picture of up to a megapixel whatever it brings.
void CheckJpegDataCanFill(ImageInput& input, int64_t width, int64_t height) {
    const JpegLayout layout = SurveyJpeg(input);
    if (layout.firstScan == 0) throw ImageError("JPEG error: no image data");
    const uint64_t dataBytes = input.Size() - layout.firstScan;
    if (!layout.arithmetic) return CheckDataCanFill("JPEG", width, height, dataBytes, 8 * 64);
    if (width * height > (int64_t(1) << 20)) CheckDataCanFill("JPEG", width, height, dataBytes, 8 * 64 * 64);
}

bool ReadJpegHeader(j_decompress_ptr info, JpegSession& session) {
    if (setjmp(session.jump)) return false;
    jpeg_save_markers(info, JPEG_APP0 + 2, 0xFFFF);  // where an ICC profile is kept
    jpeg_read_header(info, TRUE);
    return true;
}

// Chooses RGBA or grey output and starts decoding; a progressive file is
// read whole here.
bool StartJpeg(j_decompress_ptr info, JpegSession& session) {
    if (setjmp(session.jump)) return false;
    switch (info->jpeg_color_space) {
        case JCS_GRAYSCALE: info->out_color_space = JCS_GRAYSCALE; break;
        case JCS_CMYK:
        case JCS_YCCK: info->out_color_space = JCS_CMYK; break;
        default: info->out_color_space = JCS_EXT_RGBA; break;
    }
    jpeg_start_decompress(info);
    return true;
}

bool ReadJpegRow(j_decompress_ptr info, JpegSession& session, JSAMPROW row) {
    if (setjmp(session.jump)) return false;
    jpeg_read_scanlines(info, &row, 1);
    return true;
}

bool FinishJpeg(j_decompress_ptr info, JpegSession& session) {
    if (setjmp(session.jump)) return false;
    jpeg_finish_decompress(info);
    return true;
}

bool ReadIccProfile(j_decompress_ptr info, JpegSession& session, JOCTET** profile, unsigned int* length) {
    if (setjmp(session.jump)) return false;
    return jpeg_read_icc_profile(info, profile, length);
}

ImageMetadata JpegMetadata(j_decompress_ptr info, JpegSession& session) {
    ImageMetadata metadata;
    JOCTET* profile = nullptr;
    unsigned int length = 0;
    // A damaged profile is left out, as libjpeg leaves it out.
    if (ReadIccProfile(info, session, &profile, &length) && profile != nullptr)
        metadata.iccProfile.assign(profile, profile + length);
    std::free(profile);
    session.error[0] = 0;
    if (info->saw_JFIF_marker && info->X_density > 0 && info->Y_density > 0 &&
        (info->density_unit == 1 || info->density_unit == 2)) {
        const double perInch = info->density_unit == 1 ? 1.0 : 2.54;
        metadata.xDotsPerInch = info->X_density * perInch;
        metadata.yDotsPerInch = info->Y_density * perInch;
    }
    return metadata;
}

// The decompressor and its source, destroyed on every path.
struct JpegDecompressor {
    JpegSession session;
    jpeg_decompress_struct info;
    JpegSource source;

    explicit JpegDecompressor(ImageInput& input) {
        InitSession(session, *reinterpret_cast<jpeg_common_struct*>(&info));
        if (setjmp(session.jump)) throw std::bad_alloc();
        jpeg_create_decompress(&info);
        source.manager.init_source = NothingToDo;
        source.manager.fill_input_buffer = FillFromInput;
        source.manager.skip_input_data = SkipInput;
        source.manager.resync_to_restart = jpeg_resync_to_restart;
        source.manager.term_source = NothingToDo;
        source.manager.bytes_in_buffer = 0;
        source.manager.next_input_byte = nullptr;
        source.input = &input;
        source.session = &session;
        info.src = &source.manager;
    }
    ~JpegDecompressor() { jpeg_destroy_decompress(&info); }
    JpegDecompressor(const JpegDecompressor&) = delete;
    JpegDecompressor& operator=(const JpegDecompressor&) = delete;
};

class JpegReader : public ImageReader {
public:
    explicit JpegReader(ImageInput& input) : jpeg_(std::make_unique<JpegDecompressor>(input)) {
        jpeg_decompress_struct& info = jpeg_->info;
        if (!ReadJpegHeader(&info, jpeg_->session)) ThrowJpegFailure(jpeg_->session);
        CheckImageSize(info.image_width, info.image_height);
        CheckJpegDataCanFill(input, info.image_width, info.image_height);
        shape_.width = static_cast<int>(info.image_width);
        shape_.height = static_cast<int>(info.image_height);
        shape_.isGrey = info.jpeg_color_space == JCS_GRAYSCALE;
        shape_.deep = info.data_precision > 8;
        shape_.metadata = JpegMetadata(&info, jpeg_->session);
        if (!StartJpeg(&info, jpeg_->session)) ThrowJpegFailure(jpeg_->session);
        row_.resize(static_cast<size_t>(shape_.width) * 4);
    }

    void ReadRow(uint8_t* rgba) override {
        jpeg_decompress_struct& info = jpeg_->info;
        const bool direct = info.out_color_space == JCS_EXT_RGBA;
        if (!ReadJpegRow(&info, jpeg_->session, direct ? rgba : row_.data())) ThrowJpegFailure(jpeg_->session);
        if (!direct) ExpandRow(rgba);
        if (++rowsRead_ == shape_.height && !FinishJpeg(&info, jpeg_->session)) ThrowJpegFailure(jpeg_->session);
    }

private:
    // Grey levels, or CMYK as Adobe writes it (inverted), to RGBA.
    void ExpandRow(uint8_t* rgba) const {
        const bool grey = jpeg_->info.out_color_space == JCS_GRAYSCALE;
        const uint8_t* in = row_.data();
        for (int x = 0; x < shape_.width; ++x, rgba += 4) {
            if (grey) {
                rgba[0] = rgba[1] = rgba[2] = *in++;
            } else {
                const unsigned black = in[3];
                for (int c = 0; c < 3; ++c) rgba[c] = static_cast<uint8_t>((in[c] * black + 127) / 255);
                in += 4;
            }
            rgba[3] = 255;
        }
    }

    std::unique_ptr<JpegDecompressor> jpeg_;
    std::vector<uint8_t> row_;
    int rowsRead_ = 0;
};

// ---- writing ----

struct JpegDestination {
    jpeg_destination_mgr manager;
    ByteSink* sink;
    JpegSession* session;
    JOCTET buffer[kBufferBytes];
};

void StartDestination(j_compress_ptr info) {
    auto* destination = reinterpret_cast<JpegDestination*>(info->dest);
    destination->manager.next_output_byte = destination->buffer;
    destination->manager.free_in_buffer = sizeof destination->buffer;
}

void WriteToSink(j_compress_ptr info, size_t count) {
    auto* destination = reinterpret_cast<JpegDestination*>(info->dest);
    try {
        destination->sink->Write(destination->buffer, count);
    } catch (...) {
        destination->session->failure = std::current_exception();
        OnJpegError(reinterpret_cast<j_common_ptr>(info));
    }
}

boolean EmptyDestination(j_compress_ptr info) {
    WriteToSink(info, kBufferBytes);
    StartDestination(info);
    return TRUE;
}

void FinishDestination(j_compress_ptr info) {
    auto* destination = reinterpret_cast<JpegDestination*>(info->dest);
    WriteToSink(info, kBufferBytes - destination->manager.free_in_buffer);
}

bool WriteJpeg(j_compress_ptr info, JpegSession& session, const ImageRows* rows, int quality, uint8_t* rgba,
               JSAMPROW grey) {
    if (setjmp(session.jump)) return false;
    info->image_width = static_cast<JDIMENSION>(rows->width);
    info->image_height = static_cast<JDIMENSION>(rows->height);
    info->input_components = rows->isGrey ? 1 : 4;
    info->in_color_space = rows->isGrey ? JCS_GRAYSCALE : JCS_EXT_RGBA;
    jpeg_set_defaults(info);
    jpeg_set_quality(info, quality, TRUE);
    const ImageMetadata& metadata = rows->metadata;
    if (metadata.HasResolution()) {
        info->density_unit = 1;
        info->X_density = static_cast<UINT16>(std::min(65535.0, metadata.xDotsPerInch + 0.5));
        info->Y_density = static_cast<UINT16>(std::min(65535.0, metadata.yDotsPerInch + 0.5));
    }
    jpeg_start_compress(info, TRUE);
    if (!metadata.iccProfile.empty())
        jpeg_write_icc_profile(info, metadata.iccProfile.data(), static_cast<unsigned>(metadata.iccProfile.size()));
    for (int y = 0; y < rows->height; ++y) {
        rows->fill(y, rgba);
        JSAMPROW row = rgba;
        if (rows->isGrey) {
            PackRow(rgba, rows->width, 1, grey);
            row = grey;
        }
        jpeg_write_scanlines(info, &row, 1);
    }
    jpeg_finish_compress(info);
    return true;
}

// The compressor, destroyed on every path.
struct JpegCompressor {
    JpegSession session;
    jpeg_compress_struct info;
    JpegDestination destination;

    explicit JpegCompressor(ByteSink& sink) {
        InitSession(session, *reinterpret_cast<jpeg_common_struct*>(&info));
        if (setjmp(session.jump)) throw std::bad_alloc();
        jpeg_create_compress(&info);
        destination.manager.init_destination = StartDestination;
        destination.manager.empty_output_buffer = EmptyDestination;
        destination.manager.term_destination = FinishDestination;
        destination.sink = &sink;
        destination.session = &session;
        info.dest = &destination.manager;
    }
    ~JpegCompressor() { jpeg_destroy_compress(&info); }
    JpegCompressor(const JpegCompressor&) = delete;
    JpegCompressor& operator=(const JpegCompressor&) = delete;
};

}  // namespace

std::unique_ptr<ImageReader> OpenJpeg(ImageInput& input) { return std::make_unique<JpegReader>(input); }

void EncodeJpeg(const ImageRows& rows, int quality, ByteSink& sink) {
    auto compressor = std::make_unique<JpegCompressor>(sink);
    std::vector<uint8_t> rgba(static_cast<size_t>(rows.width) * 4), grey(static_cast<size_t>(rows.width));
    if (!WriteJpeg(&compressor->info, compressor->session, &rows, quality, rgba.data(), grey.data()))
        ThrowJpegFailure(compressor->session);
}

}  // namespace zpxcli
