// What the method commands share: files in and out, the call options, sizes.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <optional>

#include "cli/Commands.h"
#include "cli/Errors.h"
#include "cli/OutputFiles.h"

namespace zpxcli {

void AddInputAndOutput(CLI::App* command, FilePair& files) {
    command->add_option("IN", files.input, "input image (.png .ppm .pgm .pam), e.g. photo.png")
        ->type_name("FILE")
        ->required();
    command->add_option("OUT", files.output,
                        "output image, type by extension; written whole or not at all, e.g. result.png")
        ->type_name("FILE")
        ->required();
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

Image LoadMaskImage(const std::string& path, const std::string& picturePath, const Image& picture) {
    Image mask = LoadInputImage(path);
    if (mask.width != picture.width || mask.height != picture.height)
        throw UsageError(path + " is " + std::to_string(mask.width) + " x " + std::to_string(mask.height) + " but " +
                         picturePath + " is " + std::to_string(picture.width) + " x " +
                         std::to_string(picture.height) + "; a mask must be the size of its picture");
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

void SaveOutputImages(const std::vector<OutputImage>& images) {
    try {
        SaveImageFiles(images);
    } catch (const ImageError& error) {
        throw UsageError(error.what());
    }
}

void SaveOutputImage(const std::string& path, const Image& image) { SaveOutputImages({{path, ImageRows::Of(image)}}); }

int RunPictureMethod(const HostOptions& host, const FilePair& files, const std::string& method,
                     const CallSettings& settings, const ArgumentsFor& argumentsFor) {
    CheckOutputPath(files.output);
    std::optional<Image> input = LoadInputImage(files.input);
    std::vector<zpxhost::Value> arguments = argumentsFor(*input);
    Session session(host);
    session.DeclarationOf(method);  // a module without the method is refused before any picture is made
    HostPicture picture = session.MakePicture(*input);
    input.reset();  // the picture holds the pixels now
    MethodResult result = RunMethod(session, method, picture.get(), arguments, settings);
    if (!result.picture) throw MethodFailure(method + " returned no picture");
    picture.Reset();
    SaveOutputImages({{files.output, session.PictureRows(result.picture.get())}});
    return kExitSuccess;
}

void PrintNote(const std::string& note) {
    if (!note.empty()) std::fprintf(stderr, "zpx: %s\n", note.c_str());
}

}  // namespace zpxcli
