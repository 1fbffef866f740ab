#include "cli/Program.h"

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <new>

#include "cli/Commands.h"
#include "cli/Errors.h"
#include "cli/Mistakes.h"

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
    "  zpx scale photo.png half.png --size 50%\n"
    "  zpx --app console --alpha-channel scale logo.pam big.png --size 800x --antialias\n"
    "  zpx --host-version 2013.0 scale photo.ppm small.ppm --size 100x75 --repeat 10\n"
    "  zpx scale-mask icon.png big.png --size 256x256 --antialias\n"
    "  zpx resample photo.jpg small.jpg --mode lanczos3 --size 320x240 --quality 85\n"
    "  zpx resample icon.png big.webp --mode lanczos3 --size 1024x1024 --carry-mask\n"
    "  zpx blur photo.png soft.png --radius 4\n"
    "  zpx draw back.png sprite.png out.png --at 10.25,4 --mask round.pgm\n"
    "  zpx demo gallery\n"
    "  zpx --version\n"
    "Exit status: 0 success; 1 the method returned nil or false, or raised; 2 unusable arguments, files or module.";

std::string AppKindProblem(const std::string& name) {
    if (name == "desktop" || name == "console" || name == "web") return "";
    return "must be desktop, console or web, not '" + name + "'";
}

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
        ->check(CLI::Validator([](std::string& name) { return AppKindProblem(name); }, ""));
    app.add_option("--layout", host.layout,
                   "bitmap layout (alpha information 1-6) of desktop pictures; with --alpha-channel only 1 or 2, "
                   "e.g. --layout 1; default 6, or 2 with --alpha-channel")
        ->type_name("N")
        ->check(CLI::Range(1, 6));
    app.add_flag("--alpha-channel", host.alphaChannel,
                 "make input pictures with an alpha channel instead of giving a file's transparency to a mask "
                 "(255 - alpha, the form in which the methods carry it exactly). With alpha channels, ScaleZPX "
                 "and ScalingZPX give results whose alpha is opaque everywhere, BlurZPX an opaque picture, "
                 "DrawPictureFZPX draws SRC's colours and ignores its alpha, and ScaleImageAndMaskZPX takes "
                 "the alpha as the mask of a copy drawn over white; e.g. --alpha-channel");
    app.add_option("--plugin", host.plugin,
                   "the plug-in module to load, a path (a bare name is a file in the current directory); "
                   "default: the one beside zpx, or where it is installed; e.g. --plugin ./libpicturezpx.so")
        ->type_name("PATH")
        ->check(CLI::Validator([](std::string& path) { return path.empty() ? "needs a path" : ""; }, ""));
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

}  // namespace

int RunZpx(int argc, char** argv) {
    CLI::App app("zpx: resize, resample, blur and draw pictures (PNG, JPEG, WebP, TIFF, PPM, PGM, PAM) with the "
                 "picturezpx plug-in's methods, run in an emulated host.",
                 "zpx");
    app.fallthrough();
    app.require_subcommand(0, 1);
    app.footer(kExamples);
    CommandContext context;
    AddHostOptions(app, context.host);
    bool showVersion = false;
    app.add_flag("--version", showVersion, "show the versions of zpx and of its module, and the host it plays");
    for (AddCommand add : kCommands) add(app, context);

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        if (error.get_exit_code() == 0) return app.exit(error);
        return Fail(kExitUnusable, ParseProblem(app, std::vector<std::string>(argv + 1, argv + argc), error.what()));
    }
    if (showVersion) context.run = [&context] { return RunVersion(context.host); };
    if (!context.run) return Fail(kExitUnusable, MissingCommandProblem(app));
    return RunChosenCommand(context);
}

}  // namespace zpxcli
