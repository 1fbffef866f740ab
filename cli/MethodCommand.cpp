// What the method commands share: files in and out, the call options, sizes.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>

#include "cli/Commands.h"
#include "cli/Errors.h"
#include "cli/ImageInput.h"
#include "cli/OutputFiles.h"

namespace zpxcli {

void AddInputAndOutput(CLI::App* command, FilePair& files) {
    command->add_option("IN", files.input,
                        "input image: PNG, JPEG, WebP, TIFF, PPM, PGM or PAM, known by its contents, e.g. photo.jpg")
        ->type_name("FILE")
        ->required();
    command->add_option("OUT", files.output,
                        "output image, type by extension (.png .jpg .webp .tif .ppm .pgm .pam); written whole or "
                        "not at all, e.g. result.png")
        ->type_name("FILE")
        ->required();
    AddQualityOption(command, files.encode);
}

void AddQualityOption(CLI::App* command, EncodeSettings& settings) {
    command->add_option("--quality", settings.quality,
                        "quality of a lossy output, 1 to 100: a JPEG's (default 90), and a WebP is written lossy "
                        "at it instead of lossless, e.g. --quality 80")
        ->type_name("Q")
        ->check(NonEmpty())
        ->check(CLI::Range(1, 100));
}

void AddSizeOption(CLI::App* command, std::string& size) {
    command->add_option("--size", size,
                        "size of the result: WxH, or Wx or xH to keep the proportions (the other side rounded), "
                        "or N% of the input, e.g. --size 320x240, --size 320x, --size 50%")
        ->type_name("SIZE")
        ->required()
        ->check(PictureSizeValidator());
}

void AddAntialiasFlag(CLI::App* command, bool& antialias) {
    command->add_flag("--antialias", antialias,
                      "interpolate smoothly when the picture grows in both directions, e.g. --antialias");
}

void AddCarryMaskFlag(CLI::App* command, bool& carryMask) {
    command->add_flag("--carry-mask", carryMask,
                      "run the method on IN's transparency (its mask) as well, as scale-mask does, and write the "
                      "result's as alpha; without it the result is opaque, e.g. --carry-mask");
}

void AddCallOptions(CLI::App* command, CallSettings& settings) {
    command->add_option("--yield", settings.yield,
                        "yield interval passed to the method: ticks of 1/60 s if positive, milliseconds if "
                        "negative, 0 for none; default -50 on a terminal, else 0; e.g. --yield 2")
        ->type_name("N")
        ->check(NonEmpty());
    command->add_option("--repeat", settings.repeat,
                        "call the method N times on the same input and print the median time of the call "
                        "alone on standard error, e.g. --repeat 10")
        ->type_name("N")
        ->check(NonEmpty())
        ->check(CLI::Range(1, 1000000));
}

CLI::Validator NonEmpty() {
    return CLI::Validator([](std::string& text) { return text.empty() ? "needs a value, not an empty one" : ""; },
                          "");
}

namespace {

// Returns false unless text is all digits and the number fits the picture limit.
bool ParseSide(const std::string& text, int& side) {
    if (text.empty() || text.size() > 6 || text.find_first_not_of("0123456789") != std::string::npos) return false;
    long value = std::strtol(text.c_str(), nullptr, 10);
    if (value < 1 || value > kMaxImageSide) return false;
    side = static_cast<int>(value);
    return true;
}

// Beyond this every picture's sides pass the limit.
constexpr double kLargestPercent = 100.0 * kMaxImageSide;

// "N%" with N a number above 0, fraction allowed.
bool ParsePercent(const std::string& text, double& percent) {
    if (text.size() < 2 || text.back() != '%' || text.find_first_not_of("0123456789.%") != std::string::npos)
        return false;
    char* end = nullptr;
    percent = std::strtod(text.c_str(), &end);
    return *end == '%' && end + 1 == text.c_str() + text.size() && percent > 0 && percent <= kLargestPercent;
}

// --size as written: both sides, one side (0 for the other), or a percentage.
struct SizeRequest {
    int width = 0;
    int height = 0;
    double percent = 0;
};

bool ParseSizeRequest(const std::string& text, SizeRequest& request) {
    if (ParsePercent(text, request.percent)) return true;
    size_t cross = text.find_first_of("xX");
    if (cross == std::string::npos) return false;
    std::string width = text.substr(0, cross), height = text.substr(cross + 1);
    if (width.empty()) return ParseSide(height, request.height);
    if (height.empty()) return ParseSide(width, request.width);
    return ParseSide(width, request.width) && ParseSide(height, request.height);
}

// No larger than zpx reads, so that it can read back what it writes.
std::string TooManyPixels(const std::string& size) {
    return "size " + size + " is more than " + std::to_string(kMaxImagePixels) +
           " pixels in all, the most zpx reads (e.g. 16384x8192)";
}

std::string PictureSizeProblem(const std::string& text) {
    SizeRequest request;
    if (ParseSizeRequest(text, request)) {
        if (int64_t(request.width) * request.height <= kMaxImagePixels) return "";
        return TooManyPixels(text);
    }
    return "must be WxH, Wx or xH (the other side keeps the picture's proportions) or N%, each side 1 to " +
           std::to_string(kMaxImageSide) + ", e.g. 320x240, 320x or 50%, not '" + text + "'";
}

// side * factor rounded to the nearest whole pixel, and at least one.
int64_t ScaledSide(int side, double factor) {
    return std::max<int64_t>(1, std::llround(static_cast<double>(side) * factor));
}

std::string SizeText(int64_t width, int64_t height) { return std::to_string(width) + " x " + std::to_string(height); }

}  // namespace

CLI::Validator PictureSizeValidator() {
    return CLI::Validator([](std::string& text) { return PictureSizeProblem(text); }, "");
}

PictureSize ResolvePictureSize(const std::string& text, PictureSize input) {
    SizeRequest request;
    if (!ParseSizeRequest(text, request)) throw UsageError("--size " + PictureSizeProblem(text));
    int64_t width = request.width, height = request.height;
    if (request.percent > 0) {
        width = ScaledSide(input.width, request.percent / 100);
        height = ScaledSide(input.height, request.percent / 100);
    } else if (height == 0) {
        height = ScaledSide(input.height, static_cast<double>(width) / input.width);
    } else if (width == 0) {
        width = ScaledSide(input.width, static_cast<double>(height) / input.height);
    }
    if (width > kMaxImageSide || height > kMaxImageSide)
        throw UsageError("--size " + text + " of a " + SizeText(input.width, input.height) + " picture is " +
                         SizeText(width, height) + "; each side must be 1 to " + std::to_string(kMaxImageSide));
    if (width * height > kMaxImagePixels)
        throw UsageError("--" + TooManyPixels(text + " (" + SizeText(width, height) + ")"));
    return {static_cast<int>(width), static_cast<int>(height)};
}

std::string AntialiasNote(bool antialias, PictureSize from, PictureSize to) {
    if (!antialias || (to.width > from.width && to.height > from.height)) return "";
    return "--antialias had no effect: the smooth enlargement acts only when both sides grow, and " +
           SizeText(from.width, from.height) + " to " + SizeText(to.width, to.height) +
           " does not; the picture was box-scaled";
}

Image LoadInputImage(const std::string& path) {
    try {
        return LoadImageFile(path);
    } catch (const ImageError& error) {
        throw UsageError(path + ": " + error.what());
    }
}

void Note(const std::string& text) {
    if (!text.empty()) std::fprintf(stderr, "zpx: %s\n", text.c_str());
}

LoadedPicture LoadInputPicture(Session& session, const std::string& path, Progress& progress) {
    try {
        InputFile file(path);
        std::unique_ptr<ImageReader> reader = OpenImage(file.input());
        static bool deepNoted = false;
        if (reader->shape().deep && !deepNoted) {
            progress.Wipe();
            Note(path + " has more than 8 bits a sample; zpx reads it to 8");
            deepNoted = true;
        }
        return session.LoadPicture(*reader, progress, "reading " + path);
    } catch (const ImageError& error) {
        throw UsageError(path + ": " + error.what());
    }
}

Image LoadMaskImage(const std::string& path, const std::string& picturePath, int width, int height) {
    Image mask = LoadInputImage(path);
    if (mask.width != width || mask.height != height)
        throw UsageError(path + " is " + std::to_string(mask.width) + " x " + std::to_string(mask.height) + " but " +
                         picturePath + " is " + std::to_string(width) + " x " + std::to_string(height) +
                         "; a mask must be the size of its picture");
    return mask;
}

void CheckOutputPath(const std::string& path) {
    try {
        FormatForPath(path);
        ResolveOutputTarget(path);
    } catch (const ImageError& error) {
        throw UsageError(path + ": " + error.what());
    }
}

namespace {

// The rows with their writing shown on the status line.
ImageRows WithProgress(ImageRows rows, Progress& progress, const std::string& path) {
    rows.fill = [fill = rows.fill, &progress, path, height = rows.height](int y, uint8_t* rgba) {
        if (y == 0) progress.Begin("writing " + path, height);
        fill(y, rgba);
        progress.Advance(y + 1);
    };
    return rows;
}

}  // namespace

void SaveOutputImages(const std::vector<OutputImage>& images, const EncodeSettings& settings, Progress& progress) {
    std::vector<OutputImage> shown;
    std::vector<std::string> dropped;
    for (const OutputImage& image : images) {
        shown.push_back({image.path, WithProgress(image.rows, progress, image.path)});
        if (image.rows.hasAlpha && !HoldsAlpha(FormatForPath(image.path))) dropped.push_back(image.path);
    }
    try {
        SaveImageFiles(shown, settings);
    } catch (const ImageError& error) {
        throw UsageError(error.what());
    }
    progress.Wipe();
    for (const std::string& path : dropped)
        Note(path + " holds no transparency, so the result's was dropped (.png, .webp, .tif and .pam keep it)");
}

void SaveOutputImage(const std::string& path, const Image& image) {
    ImageRows rows = ImageRows::Of(image);
    // An alpha channel that says nothing is not written.
    bool opaque = true;
    for (size_t i = 3; i < image.rgba.size() && opaque; i += 4) opaque = image.rgba[i] == 255;
    rows.hasAlpha = rows.hasAlpha && !opaque;
    Progress silent(nullptr);
    SaveOutputImages({{path, rows}}, {}, silent);
}

int RunPictureMethod(const HostOptions& host, const FilePair& files, const PictureMethod& method) {
    CheckOutputPath(files.output);
    if (method.carryMask && host.alphaChannel)
        throw UsageError("--carry-mask carries a mask through the method, and --alpha-channel makes none");
    Progress progress;
    Session session(host);
    session.DeclarationOf(method.name);  // a module without the method is refused before any picture is made
    LoadedPicture input = LoadInputPicture(session, files.input, progress);
    std::vector<zpxhost::Value> arguments = method.argumentsFor({input.shape.width, input.shape.height});
    MethodResult result =
        RunMethod(session, method.name, input.picture.get(), arguments, method.call, nullptr, &progress);
    if (!result.picture) throw MethodFailure(method.name + " returned no picture");
    REALpicture mask = session.host().MaskOf(input.picture.get());
    if (method.carryMask && mask != nullptr) {
        MethodResult carried = RunMethod(session, method.name, mask, arguments, method.call, nullptr, &progress);
        session.host().AttachMask(result.picture.get(), carried.picture.get());
    }
    input.picture.Reset();

    ImageRows rows = session.OutputRows(result.picture.get());
    rows.isGrey = input.shape.isGrey;
    rows.metadata = input.shape.metadata;
    if (input.transparent && !rows.hasAlpha)
        Note(files.input + " has transparency, but " + method.name + "'s result is opaque (" +
             method.keepsTransparency + " keeps it)");
    SaveOutputImages({{files.output, rows}}, files.encode, progress);
    return kExitSuccess;
}

}  // namespace zpxcli
