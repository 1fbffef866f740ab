// zpx scale IN OUT --size WxH [--antialias]: ScaleZPX.
#include "cli/Commands.h"

namespace zpxcli {

namespace {

struct ScaleArguments {
    FilePair files;
    std::string size;
    bool antialias = false;
    CallSettings call;
};

int RunScale(const HostOptions& host, const ScaleArguments& arguments) {
    std::string note;
    int status = RunPictureMethod(host, arguments.files,
                                  {"ScaleZPX",
                                   [&](PictureSize input) {
                                       PictureSize size = ResolvePictureSize(arguments.size, input);
                                       note = AntialiasNote(arguments.antialias, input, size);
                                       return std::vector<zpxhost::Value>{size.width, size.height, arguments.antialias};
                                   },
                                   arguments.call, false, "scale-mask"});
    Note(note);
    return status;
}

}  // namespace

void AddScaleCommand(CLI::App& app, CommandContext& context) {
    auto arguments = std::make_shared<ScaleArguments>();
    CLI::App* command = app.add_subcommand(
        "scale", "ScaleZPX: a resized copy by box averaging; smooth enlargement with --antialias");
    AddInputAndOutput(command, arguments->files);
    AddSizeOption(command, arguments->size);
    AddAntialiasFlag(command, arguments->antialias);
    AddCallOptions(command, arguments->call);
    command->footer(
        "The result is opaque: an input with transparency gets one line saying so (scale-mask keeps it).\n"
        "Examples:\n"
        "  zpx scale photo.png thumb.png --size 160x\n"
        "  zpx scale icon.ppm big.png --size 256x256 --antialias --repeat 20");
    WhenChosen(command, context, arguments, RunScale);
}

}  // namespace zpxcli
