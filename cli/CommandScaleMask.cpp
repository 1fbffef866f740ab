// zpx scale-mask IN OUT --size WxH [--antialias] [--mask M] [--out-mask OM]:
// ScaleImageAndMaskZPX, with the transparency going in and coming out as files.
#include <cstdio>

#include "cli/Commands.h"
#include "cli/Errors.h"
#include "cli/OutputFiles.h"

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
    if (SameFile(ResolveOutputTarget(arguments.files.output), ResolveOutputTarget(arguments.outputMask)))
        throw UsageError("OUT and --out-mask name the same file");
}

// The mask of a picture without transparency: all black.
ImageRows OpaqueMask(int width, int height) {
    return {width, height, false, true, [width](int, uint8_t* rgba) {
                for (int x = 0; x < width; ++x, rgba += 4) {
                    rgba[0] = rgba[1] = rgba[2] = 0;
                    rgba[3] = 255;
                }
            }};
}

// The image to OUT and its mask to OM, both files or neither.
void SaveImageAndMask(const ScaleMaskArguments& arguments, ImageRows image,
                      const std::optional<ImageRows>& transparency) {
    image.hasAlpha = false;
    SaveOutputImages({{arguments.files.output, image},
                      {arguments.outputMask, transparency ? *transparency : OpaqueMask(image.width, image.height)}});
}

// The image with its mask as alpha where OUT can hold it; otherwise the image
// alone, and one line to say what was lost.
void SaveImageWithMask(const std::string& path, ImageRows image, const std::optional<ImageRows>& transparency) {
    if (!transparency) {
        SaveOutputImages({{path, image}});
    } else if (KeepsAlpha(path)) {
        SaveOutputImages({{path, WithMaskAsAlpha(image, *transparency)}});
    } else {
        image.hasAlpha = false;
        SaveOutputImages({{path, image}});
        std::fprintf(stderr,
                     "zpx: %s holds no transparency, so the mask was dropped (use .png or .pam, or --out-mask)\n",
                     path.c_str());
    }
}

int RunScaleMask(const HostOptions& host, const ScaleMaskArguments& arguments) {
    CheckOutputPaths(arguments);
    std::optional<Image> input = LoadInputImage(arguments.files.input);
    const PictureSize inputSize{input->width, input->height};
    PictureSize size = ResolvePictureSize(arguments.size, inputSize);
    CheckMaskOption(arguments, *input, host.alpha);
    std::optional<Image> mask;
    if (!arguments.mask.empty()) mask = LoadMaskImage(arguments.mask, arguments.files.input, *input);

    Session session(host);
    session.DeclarationOf(kMethod);
    HostPicture picture = session.MakePicture(*input, input->hasAlpha || host.alpha);
    if (mask) session.AttachMask(picture.get(), *mask);
    input.reset();  // the picture holds the pixels now
    mask.reset();
    MethodResult result =
        RunMethod(session, kMethod, picture.get(), {size.width, size.height, arguments.antialias}, arguments.call);
    if (!result.picture) throw MethodFailure(std::string(kMethod) + " returned no picture");

    picture.Reset();
    ImageRows image = session.PictureRows(result.picture.get());
    std::optional<ImageRows> transparency = session.TransparencyRows(result.picture.get());
    if (arguments.outputMask.empty()) SaveImageWithMask(arguments.files.output, image, transparency);
    else SaveImageAndMask(arguments, image, transparency);
    PrintNote(AntialiasNote(arguments.antialias, inputSize, size));
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
        ->type_name("M")
        ->check(NonEmpty());
    command->add_option("--out-mask", arguments->outputMask,
                        "write the result's mask here as grey levels (all black when it has none) and OUT without "
                        "transparency, e.g. --out-mask big-mask.pgm")
        ->type_name("OM")
        ->check(NonEmpty());
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
