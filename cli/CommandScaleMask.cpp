// zpx scale-mask IN OUT --size WxH [--antialias] [--mask M] [--out-mask OM]:
// ScaleImageAndMaskZPX, with the transparency going in and coming out as files.
#include <cstdio>

#include "cli/Commands.h"
#include "cli/Errors.h"

namespace zpxcli {

namespace {

const char kMethod[] = "ScaleImageAndMaskZPX";

struct ScaleMaskArguments {
    FilePair files;
    std::string size;
    bool antialias = false;
    std::string mask;
    std::string outputMask;
    CallSettings call;
};

bool KeepsAlpha(const std::string& path) {
    ImageFormat format = FormatForPath(path);
    return format == ImageFormat::Png || format == ImageFormat::Pam;
}

// An input with an alpha channel brings its own mask: the method takes that one.
void CheckMaskOption(const ScaleMaskArguments& arguments, const Image& input, bool alphaOption) {
    if (arguments.mask.empty() || (!input.hasAlpha && !alphaOption)) return;
    throw UsageError(
        "--mask is for input without an alpha channel (the alpha channel is the mask), but " +
        (input.hasAlpha ? arguments.files.input + " has one" : std::string("--alpha-channel gives it one")));
}

void CheckOutputPaths(const ScaleMaskArguments& arguments) {
    CheckOutputPath(arguments.files.output);
    if (arguments.outputMask.empty()) return;
    CheckOutputPath(arguments.outputMask);
    if (arguments.outputMask == arguments.files.output) throw UsageError("OUT and --out-mask name the same file");
}

// The image to OUT and its mask to OM (a picture without transparency has
// an all-black mask); both files or neither.
void SaveImageAndMask(const ScaleMaskArguments& arguments, Image image, const std::optional<Image>& transparency) {
    Image mask = transparency ? *transparency : Image::Blank(image.width, image.height, false);
    mask.isGrey = true;
    image.hasAlpha = false;
    SaveOutputImage(arguments.files.output, image);
    try {
        SaveOutputImage(arguments.outputMask, mask);
    } catch (...) {
        std::remove(arguments.files.output.c_str());
        throw;
    }
}

// The image with its mask as alpha where OUT can hold it; otherwise the image
// alone, and one line to say what was lost.
void SaveImageWithMask(const std::string& path, const Image& image, const std::optional<Image>& transparency) {
    if (!transparency) {
        SaveOutputImage(path, image);
    } else if (KeepsAlpha(path)) {
        SaveOutputImage(path, WithMaskAsAlpha(image, *transparency));
    } else {
        Image opaque = image;
        opaque.hasAlpha = false;
        SaveOutputImage(path, opaque);
        std::fprintf(stderr,
                     "zpx: %s holds no transparency, so the mask was dropped (use .png or .pam, or --out-mask)\n",
                     path.c_str());
    }
}

int RunScaleMask(const HostOptions& host, const ScaleMaskArguments& arguments) {
    CheckOutputPaths(arguments);
    Image input = LoadInputImage(arguments.files.input);
    PictureSize size = ResolvePictureSize(arguments.size, {input.width, input.height});
    CheckMaskOption(arguments, input, host.alpha);
    std::optional<Image> mask;
    if (!arguments.mask.empty()) mask = LoadMaskImage(arguments.mask, arguments.files.input, input);

    Session session(host);
    session.DeclarationOf(kMethod);
    HostPicture picture = session.MakePicture(input, input.hasAlpha || host.alpha);
    if (mask) session.AttachMask(picture.get(), *mask);
    MethodResult result =
        RunMethod(session, kMethod, picture.get(), {size.width, size.height, arguments.antialias}, arguments.call);
    if (!result.picture) throw MethodFailure(std::string(kMethod) + " returned no picture");

    Image image = session.ReadPicture(result.picture.get());
    std::optional<Image> transparency = session.ReadTransparency(result.picture.get());
    if (arguments.outputMask.empty()) SaveImageWithMask(arguments.files.output, image, transparency);
    else SaveImageAndMask(arguments, image, transparency);
    PrintNote(AntialiasNote(arguments.antialias, {input.width, input.height}, size));
    return kExitSuccess;
}

}  // namespace

void AddScaleMaskCommand(CLI::App& app, CommandContext& context) {
    auto arguments = std::make_shared<ScaleMaskArguments>();
    CLI::App* command = app.add_subcommand(
        "scale-mask", "ScaleImageAndMaskZPX: ScaleZPX for the picture and, the same way, for its mask");
    AddInputAndOutput(command, arguments->files);
    AddSizeOption(command, arguments->size);
    AddAntialiasFlag(command, arguments->antialias);
    command->add_option("--mask", arguments->mask,
                        "a grey image of IN's size given to IN as its mask, 0 (black) opaque to 255 (white) "
                        "transparent; for input without alpha (an input with alpha, or --alpha-channel, brings its "
                        "own), e.g. --mask shape.pgm")
        ->type_name("M");
    command->add_option("--out-mask", arguments->outputMask,
                        "write the result's mask here as grey levels (all black when it has none) and OUT without "
                        "transparency, e.g. --out-mask big-mask.pgm")
        ->type_name("OM");
    AddCallOptions(command, arguments->call);
    command->footer(
        "Without --out-mask, a .png or .pam OUT gets the mask as its alpha channel (alpha = 255 - mask);\n"
        "a .ppm or .pgm OUT cannot hold it: the image is written alone and one line on standard error\n"
        "says the mask was dropped.\n"
        "Examples:\n"
        "  zpx scale-mask icon.png big.png --size 256x256 --antialias        (alpha in, alpha out)\n"
        "  zpx scale-mask photo.ppm small.ppm --size 160x120 --mask shape.pgm --out-mask small-mask.pgm");
    WhenChosen(command, context, arguments, RunScaleMask);
}

}  // namespace zpxcli
