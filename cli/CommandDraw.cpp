// zpx draw DEST SRC OUT --at X,Y [--alpha A] [--mask M]: DrawPictureFZPX.
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <optional>

#include "cli/Commands.h"
#include "cli/Errors.h"

namespace zpxcli {

namespace {

struct DrawArguments {
    std::string destination;
    std::string source;
    std::string output;
    std::string position;
    double alpha = 1.0;
    std::string mask;
    EncodeSettings encode;
    CallSettings call;
};

struct Position {
    double x = 0;
    double y = 0;
};

// A finite number filling the whole of text.
bool ParseCoordinate(const std::string& text, double& value) {
    if (text.empty() || std::isspace(static_cast<unsigned char>(text[0]))) return false;
    char* end = nullptr;
    value = std::strtod(text.c_str(), &end);
    return *end == '\0' && std::isfinite(value);
}

std::string PositionProblem(const std::string& text, Position* position = nullptr) {
    Position parsed;
    size_t comma = text.find(',');
    if (comma == std::string::npos || !ParseCoordinate(text.substr(0, comma), parsed.x) ||
        !ParseCoordinate(text.substr(comma + 1), parsed.y))
        return "position must be X,Y, two numbers with any fraction, e.g. 10.5,-2.25, not '" + text + "'";
    if (position != nullptr) *position = parsed;
    return "";
}

Position ParsePosition(const std::string& text) {
    Position position;
    std::string problem = PositionProblem(text, &position);
    if (!problem.empty()) throw UsageError(problem);
    return position;
}

int RunDraw(const HostOptions& host, const DrawArguments& arguments) {
    const char* method = "DrawPictureFZPX";
    Position at = ParsePosition(arguments.position);
    CheckOutputPath(arguments.output);
    Progress progress;
    Session session(host);
    session.DeclarationOf(method);
    LoadedPicture destination = LoadInputPicture(session, arguments.destination, progress);
    LoadedPicture source = LoadInputPicture(session, arguments.source, progress);
    if (!arguments.mask.empty())
        session.AttachMask(source.picture.get(),
                           LoadMaskImage(arguments.mask, arguments.source, source.shape.width, source.shape.height));
    else if (source.transparent && host.alphaChannel)
        Note(arguments.source + " is drawn without its transparency: " + method +
             " ignores alpha channels (leave out --alpha-channel to draw through it)");
    // A repeated run starts every call from the destination as it was read.
    std::optional<Image> original;
    if (arguments.call.Calls() > 1) original = session.ReadPicture(destination.picture.get());
    RunMethod(session, method, destination.picture.get(), {source.picture.get(), at.x, at.y, arguments.alpha},
              arguments.call, [&] { session.Refill(destination.picture.get(), *original); }, &progress);
    source.picture.Reset();
    ImageRows rows = session.OutputRows(destination.picture.get());
    rows.isGrey = destination.shape.isGrey && source.shape.isGrey;
    rows.metadata = destination.shape.metadata;
    SaveOutputImages({{arguments.output, rows}}, arguments.encode, progress);
    return kExitSuccess;
}

}  // namespace

void AddDrawCommand(CLI::App& app, CommandContext& context) {
    auto arguments = std::make_shared<DrawArguments>();
    CLI::App* command = app.add_subcommand(
        "draw", "DrawPictureFZPX: draws SRC onto DEST at a fractional position, and writes DEST to OUT");
    command->add_option("DEST", arguments->destination,
                        "the picture drawn on (PNG, JPEG, WebP, TIFF, PPM, PGM or PAM), e.g. back.png")
        ->type_name("FILE")
        ->required();
    command->add_option("SRC", arguments->source, "the picture drawn, e.g. sprite.png")->type_name("FILE")->required();
    command->add_option("OUT", arguments->output, "DEST after drawing; written whole or not at all, e.g. result.png")
        ->type_name("FILE")
        ->required();
    command->add_option("--at", arguments->position,
                        "where SRC's top-left corner goes in DEST, in pixels, any sign and fraction, e.g. --at 10.25,4")
        ->type_name("X,Y")
        ->required()
        ->check(CLI::Validator([](std::string& text) { return PositionProblem(text); }, ""));
    command->add_option("--alpha", arguments->alpha,
                        "strength of the drawing: 1 full, 0 none, e.g. --alpha 0.5")
        ->type_name("A")
        ->capture_default_str()
        ->check(NonEmpty());
    command->add_option("--mask", arguments->mask,
                        "a grey image of SRC's size given to SRC as its mask in place of SRC's own transparency: "
                        "0 (black) draws fully, 255 (white) not at all, e.g. --mask round.pgm")
        ->type_name("M")
        ->check(NonEmpty());
    AddQualityOption(command, arguments->encode);
    AddCallOptions(command, arguments->call);
    command->footer(
        "SRC is drawn through its transparency (its mask, 255 - alpha) unless --mask names another.\n"
        "OUT keeps DEST's transparency as alpha.\n"
        "Exit status 1 when the method returns false or raises.\n"
        "Examples:\n"
        "  zpx draw back.png sprite.png out.png --at 10.5,20.25\n"
        "  zpx draw back.png sprite.png out.png --at 0,0 --alpha 0.5 --mask round.pgm");
    WhenChosen(command, context, arguments, RunDraw);
}

}  // namespace zpxcli
