// zpx blur IN OUT --radius R: BlurZPX.
#include "cli/Commands.h"

namespace zpxcli {

namespace {

struct BlurArguments {
    FilePair files;
    double radius = 0;
    bool carryMask = false;
    CallSettings call;
};

int RunBlur(const HostOptions& host, const BlurArguments& arguments) {
    return RunPictureMethod(
        host, arguments.files,
        {"BlurZPX", [&](PictureSize) { return std::vector<zpxhost::Value>{arguments.radius}; }, arguments.call,
         arguments.carryMask, "--carry-mask"});
}

}  // namespace

void AddBlurCommand(CLI::App& app, CommandContext& context) {
    auto arguments = std::make_shared<BlurArguments>();
    CLI::App* command = app.add_subcommand(
        "blur", "BlurZPX: an opaque copy in which every pixel averages the square of side 2r + 1 around it");
    AddInputAndOutput(command, arguments->files);
    command->add_option("--radius", arguments->radius,
                        "r is the whole part of R; below 1 the picture comes back unchanged (and that is "
                        "success), e.g. --radius 4")
        ->type_name("R")
        ->required()
        ->check(NonEmpty());
    AddCarryMaskFlag(command, arguments->carryMask);
    AddCallOptions(command, arguments->call);
    command->footer(
        "Examples:\n"
        "  zpx blur photo.png soft.png --radius 3\n"
        "  zpx blur icon.png soft.png --radius 2 --carry-mask      (the transparency blurred too)\n"
        "  zpx --app console blur photo.ppm soft.ppm --radius 20 --repeat 5");
    WhenChosen(command, context, arguments, RunBlur);
}

}  // namespace zpxcli
