#include "cli/Program.h"

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <new>

#include "cli/Commands.h"
#include "cli/Errors.h"

namespace zpxcli {

namespace {

// Every command zpx has, in the order --help lists them.
using AddCommand = void (*)(CLI::App&, CommandContext&);
const AddCommand kCommands[] = {
    AddInfoCommand,
    AddScaleCommand,
    AddScaleMaskCommand,
    AddResampleCommand,
    AddBlurCommand,
    AddDrawCommand,
    AddDemoCommand,
};

const char kExamples[] =
    "Examples:\n"
    "  zpx info\n"
    "  zpx scale photo.png half.png --size 320x240\n"
    "  zpx --app console --alpha scale logo.pam big.png --size 800x600 --antialias\n"
    "  zpx --host-version 2013.0 scale photo.ppm small.ppm --size 100x75 --repeat 10\n"
    "  zpx scale-mask icon.png big.png --size 256x256 --antialias\n"
    "  zpx resample photo.png small.png --mode lanczos3 --size 320x240\n"
    "  zpx blur photo.png soft.png --radius 4\n"
    "  zpx draw back.png sprite.png out.png --at 10.25,4 --mask round.pgm\n"
    "  zpx demo gallery\n"
    "Exit status: 0 success; 1 the method returned nil or false, or raised; 2 unusable arguments, files or module.";

std::string VersionProblem(const std::string& text) {
    if (text == "none") return "";
    char* end = nullptr;
    std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0') return "must be a number like 2019.0, or none";
    return "";
}

void AddHostOptions(CLI::App& app, HostOptions& host) {
    app.add_option_function<std::string>(
           "--host-version",
           [&host](const std::string& text) {
               host.hostVersion =
                   text == "none" ? std::nullopt : std::optional<double>(std::strtod(text.c_str(), nullptr));
           },
           "host version the module is told, e.g. 2012.0 (class extension), 2013.0 (module of extension "
           "methods), none (a host without a version entry); default 2019.0")
        ->type_name("V")
        ->check(CLI::Validator([](std::string& text) { return VersionProblem(text); }, ""));
    app.add_option_function<std::string>(
           "--app",
           [&host](const std::string& name) {
               host.app = name == "console" ? zpxhost::AppKind::Console
                          : name == "web"   ? zpxhost::AppKind::Web
                                            : zpxhost::AppKind::Desktop;
           },
           "application kind and so the pictures' storage: desktop (bitmap contexts), console or web "
           "(console buffers), e.g. --app console; default desktop")
        ->type_name("KIND")
        ->check(CLI::IsMember({"desktop", "console", "web"}));
    app.add_option("--layout", host.layout,
                   "bitmap layout (alpha information 1-6) of desktop pictures; with --alpha only 1 or 2, "
                   "e.g. --layout 1; default 6, or 2 with --alpha")
        ->type_name("N")
        ->check(CLI::Range(1, 6));
    app.add_flag("--alpha", host.alpha, "load input pictures with an alpha channel, e.g. --alpha");
    app.add_option("--plugin", host.modulePath, "the plug-in module to load, e.g. --plugin ./libpicturezpx.so")
        ->type_name("PATH")
        ->capture_default_str();
}

// One line, and nothing a terminal would obey: a message may quote a file's
// bytes (a PAM header's words), so control bytes other than line breaks are
// shown as \xNN.
std::string OneLine(const std::string& text) {
    std::string line;
    for (unsigned char c : text) {
        if (c == '\n' || c == '\r') {
            line += ' ';
        } else if (c < 0x20 || c == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
            line += escaped;
        } else {
            line += static_cast<char>(c);
        }
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    return line;
}

int Fail(int status, const std::string& message) {
    std::fflush(stdout);
    std::fprintf(stderr, "zpx: %s\n", OneLine(message).c_str());
    return status;
}

int RunChosenCommand(const CommandContext& context) {
    try {
        return context.run();
    } catch (const CliError& error) {
        return Fail(error.status(), error.what());
    } catch (const ImageError& error) {
        return Fail(kExitUnusable, error.what());
    } catch (const std::bad_alloc&) {
        return Fail(kExitUnusable, "out of memory");
    } catch (const std::exception& error) {
        return Fail(kExitMethodFailed, error.what());
    }
}

// "zpx scale --help" once the command is known, else "zpx --help".
std::string HelpCommandFor(CLI::App& app) {
    std::vector<CLI::App*> chosen = app.get_subcommands();
    return chosen.empty() ? "zpx --help" : "zpx " + chosen.front()->get_name() + " --help";
}

}  // namespace

int RunZpx(int argc, char** argv) {
    CLI::App app("zpx: run the plug-in's Picture methods on image files, through the emulated host.", "zpx");
    app.fallthrough();
    app.require_subcommand(1);
    app.footer(kExamples);
    CommandContext context;
    AddHostOptions(app, context.host);
    for (AddCommand add : kCommands) add(app, context);

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        if (error.get_exit_code() == 0) return app.exit(error);
        return Fail(kExitUnusable, std::string(error.what()) + " (see " + HelpCommandFor(app) + ")");
    }
    return RunChosenCommand(context);
}

}  // namespace zpxcli
