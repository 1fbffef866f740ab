// zpx demo [OUTDIR]: the gallery of every registered operation on the test picture.
#include "cli/Commands.h"
#include "cli/Demo.h"

namespace zpxcli {

namespace {

struct DemoArguments {
    std::string outputDirectory = "demo";
};

int RunDemoCommand(const HostOptions& host, const DemoArguments& arguments) {
    return RunDemo(host, arguments.outputDirectory);
}

}  // namespace

void AddDemoCommand(CLI::App& app, CommandContext& context) {
    auto arguments = std::make_shared<DemoArguments>();
    CLI::App* command = app.add_subcommand(
        "demo", "run every registered operation on a built-in test picture and write a gallery (index.html)");
    command->add_option("OUTDIR", arguments->outputDirectory,
                        "directory for the PNGs and index.html, made if missing, e.g. /tmp/gallery")
        ->type_name("DIR")
        ->capture_default_str();
    command->footer(
        "Examples:\n"
        "  zpx demo                      (writes ./demo/index.html)\n"
        "  zpx --app console --alpha-channel demo /tmp/console-gallery");
    WhenChosen(command, context, arguments, RunDemoCommand);
}

}  // namespace zpxcli
