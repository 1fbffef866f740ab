// zpx scale-mask IN OUT --size SIZE [--antialias] [--mask M] [--out-mask OM]:
// ScaleImageAndMaskZPX, with the transparency going in and coming out as files.
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

// With alpha channels, the picture's alpha is what the method takes as its mask.
void CheckMaskOption(const ScaleMaskArguments& arguments, bool alphaChannel) {
    if (!arguments.mask.empty() && alphaChannel)
        throw UsageError("--mask is for pictures without an alpha channel, and --alpha-channel gives IN one");
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
    ImageRows rows;
    rows.width = width;
    rows.height = height;
    rows.isGrey = true;
    rows.fill = [width](int, uint8_t* rgba) {
        for (int x = 0; x < width; ++x, rgba += 4) {
            rgba[0] = rgba[1] = rgba[2] = 0;
            rgba[3] = 255;
        }
    };
    return rows;
}

int RunScaleMask(const HostOptions& host, const ScaleMaskArguments& arguments) {
    CheckOutputPaths(arguments);
    CheckMaskOption(arguments, host.alphaChannel);
    Progress progress;
    Session session(host);
    session.DeclarationOf(kMethod);
    LoadedPicture input = LoadInputPicture(session, arguments.files.input, progress);
    const PictureSize inputSize{input.shape.width, input.shape.height};
    PictureSize size = ResolvePictureSize(arguments.size, inputSize);
    if (!arguments.mask.empty())
        session.AttachMask(input.picture.get(), LoadMaskImage(arguments.mask, arguments.files.input, input.shape.width,
                                                              input.shape.height));
    MethodResult result = RunMethod(session, kMethod, input.picture.get(), {size.width, size.height, arguments.antialias},
                                    arguments.call, nullptr, &progress);
    if (!result.picture) throw MethodFailure(std::string(kMethod) + " returned no picture");
    input.picture.Reset();

    ImageRows image = session.OutputRows(result.picture.get());
    image.isGrey = input.shape.isGrey;
    image.metadata = input.shape.metadata;
    if (arguments.outputMask.empty()) {
        SaveOutputImages({{arguments.files.output, image}}, arguments.files.encode, progress);
        Note(AntialiasNote(arguments.antialias, inputSize, size));
        return kExitSuccess;
    }
    // The image to OUT and its mask to OM, both files or neither.
    image = session.PictureRows(result.picture.get());
    image.isGrey = input.shape.isGrey;
    image.metadata = input.shape.metadata;
    std::optional<ImageRows> transparency = session.TransparencyRows(result.picture.get());
    SaveOutputImages({{arguments.files.output, image},
                      {arguments.outputMask, transparency ? *transparency : OpaqueMask(image.width, image.height)}},
                     arguments.files.encode, progress);
    Note(AntialiasNote(arguments.antialias, inputSize, size));
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
                        "transparent, in place of IN's own transparency (not with --alpha-channel), "
                        "e.g. --mask shape.pgm")
        ->type_name("M")
        ->check(NonEmpty());
    command->add_option("--out-mask", arguments->outputMask,
                        "write the result's mask here as grey levels (all black when it has none) and OUT without "
                        "transparency, e.g. --out-mask big-mask.pgm")
        ->type_name("OM")
        ->check(NonEmpty());
    AddCallOptions(command, arguments->call);
    command->footer(
        "IN's transparency is its mask (mask = 255 - alpha). Without --out-mask, a .png, .webp, .tif or\n"
        ".pam OUT gets the result's mask as its alpha channel (alpha = 255 - mask), unless the result is\n"
        "opaque; a .jpg, .ppm or .pgm OUT cannot hold it: the image is written alone and one line on\n"
        "standard error says the transparency was dropped.\n"
        "Examples:\n"
        "  zpx scale-mask icon.png big.png --size 256x256 --antialias        (alpha in, alpha out)\n"
        "  zpx scale-mask photo.ppm small.ppm --size 160x120 --mask shape.pgm --out-mask small-mask.pgm");
    WhenChosen(command, context, arguments, RunScaleMask);
}

}  // namespace zpxcli
