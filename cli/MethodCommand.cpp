// What the method commands share: files in and out, the call options, sizes.
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
    command->add_option("--size", size, "size of the result, e.g. --size 320x240")
        ->type_name("WxH")
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

std::string PictureSizeProblem(const std::string& text) {
    size_t cross = text.find_first_of("xX");
    PictureSize size;
    if (cross == std::string::npos || !ParseSide(text.substr(0, cross), size.width) ||
        !ParseSide(text.substr(cross + 1), size.height))
        return "size must be WIDTHxHEIGHT, each 1 to " + std::to_string(kMaxImageSide) + ", e.g. 320x240, not '" +
               text + "'";
    // No larger than zpx reads, so that it can read back what it writes.
    if (int64_t(size.width) * size.height > kMaxImagePixels)
        return "size " + text + " is more than " + std::to_string(kMaxImagePixels) +
               " pixels in all, the most zpx reads (e.g. 16384x8192)";
    return "";
}

}  // namespace

CLI::Validator PictureSizeValidator() {
    return CLI::Validator([](std::string& text) { return PictureSizeProblem(text); }, "");
}

PictureSize ParsePictureSize(const std::string& text) {
    std::string problem = PictureSizeProblem(text);
    if (!problem.empty()) throw UsageError(problem);
    size_t cross = text.find_first_of("xX");
    PictureSize size;
    ParseSide(text.substr(0, cross), size.width);
    ParseSide(text.substr(cross + 1), size.height);
    return size;
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
                     const std::vector<zpxhost::Value>& arguments, const CallSettings& settings) {
    CheckOutputPath(files.output);
    std::optional<Image> input = LoadInputImage(files.input);
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

}  // namespace zpxcli
