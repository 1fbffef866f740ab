// zpx resample IN OUT --mode M --size WxH: ScalingZPX.
#include <cctype>
#include <cstdlib>

#include "cli/Commands.h"
#include "cli/Errors.h"

namespace zpxcli {

const ResampleKernel kResampleKernels[7] = {
    {1, "triangle", "tent, linear interpolation"},
    {2, "box", "repeats pixels when enlarging, averages them when reducing"},
    {3, "lanczos3", "Lanczos, three lobes"},
    {4, "lanczos8", "Lanczos, eight lobes"},
    {5, "mitchell", "Mitchell-Netravali cubic, B = C = 1/3"},
    {6, "keys", "Keys cubic convolution, a = -0.75"},
    {7, "keys6", "Keys six-point cubic convolution"},
};

namespace {

struct ResampleArguments {
    FilePair files;
    std::string mode;
    std::string size;
    bool carryMask = false;
    CallSettings call;
};

std::string Lowercase(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// The mode for "1".."7" or a kernel's name (any case); 0 for anything else.
int ModeFor(const std::string& text) {
    if (text.size() == 1 && text[0] >= '1' && text[0] <= '7') return text[0] - '0';
    for (const ResampleKernel& kernel : kResampleKernels)
        if (Lowercase(text) == kernel.name) return kernel.mode;
    return 0;
}

std::string KernelNames() {
    std::string names;
    for (const ResampleKernel& kernel : kResampleKernels)
        names += (names.empty() ? "" : ", ") + std::string(kernel.name);
    return names;
}

std::string ModeProblem(const std::string& text) {
    if (ModeFor(text) != 0) return "";
    return "mode must be 1 to 7 or a kernel name (" + KernelNames() + "), not '" + text + "'";
}

std::string ModeHelp() {
    std::string help = "resampling kernel, by number or name, e.g. --mode lanczos3:";
    for (const ResampleKernel& kernel : kResampleKernels)
        help += "\n" + std::to_string(kernel.mode) + " " + kernel.name + ": " + kernel.description;
    return help;
}

int RunResample(const HostOptions& host, const ResampleArguments& arguments) {
    return RunPictureMethod(host, arguments.files,
                            {"ScalingZPX",
                             [&](PictureSize input) {
                                 PictureSize size = ResolvePictureSize(arguments.size, input);
                                 return std::vector<zpxhost::Value>{ModeFor(arguments.mode), size.width, size.height};
                             },
                             arguments.call, arguments.carryMask, "--carry-mask"});
}

}  // namespace

void AddResampleCommand(CLI::App& app, CommandContext& context) {
    auto arguments = std::make_shared<ResampleArguments>();
    CLI::App* command = app.add_subcommand(
        "resample", "ScalingZPX: a resized copy by two-pass filtered resampling with one of seven kernels");
    AddInputAndOutput(command, arguments->files);
    command->add_option("--mode", arguments->mode, ModeHelp())
        ->type_name("M")
        ->required()
        ->check(CLI::Validator([](std::string& text) { return ModeProblem(text); }, ""));
    AddSizeOption(command, arguments->size);
    AddCarryMaskFlag(command, arguments->carryMask);
    AddCallOptions(command, arguments->call);
    command->footer(
        "Examples:\n"
        "  zpx resample photo.png small.png --mode mitchell --size 25%\n"
        "  zpx resample icon.png big.png --mode 3 --size 512x512 --carry-mask\n"
        "  zpx resample photo.jpg big.jpg --mode 3 --size 8000x6000 --quality 85 --repeat 10");
    WhenChosen(command, context, arguments, RunResample);
}

}  // namespace zpxcli
