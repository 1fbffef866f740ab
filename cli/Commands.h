// The commands of zpx. Each command is one Add...Command function in a file
// of its own that declares its subcommand, options and help, and one row of
// the table in Program.cpp. What the method commands share (input and output
// files, --yield and --repeat, sizes) is here.
#pragma once

#include <CLI/CLI.hpp>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "cli/ImageFile.h"
#include "cli/MethodFiles.h"
#include "cli/MethodRun.h"
#include "cli/Session.h"

namespace zpxcli {

// What parsing the command line leaves behind: the host options and the chosen command.
struct CommandContext {
    HostOptions host;
    std::function<int()> run;
};

void AddInfoCommand(CLI::App& app, CommandContext& context);
void AddScaleCommand(CLI::App& app, CommandContext& context);
void AddScaleMaskCommand(CLI::App& app, CommandContext& context);
void AddResampleCommand(CLI::App& app, CommandContext& context);
void AddBlurCommand(CLI::App& app, CommandContext& context);
void AddDrawCommand(CLI::App& app, CommandContext& context);
void AddDemoCommand(CLI::App& app, CommandContext& context);
// zpx --version: zpx's version, its module's and the host it plays.
int RunVersion(const HostOptions& host);

// Runs `run` with the command's arguments if the command was chosen.
template <typename Arguments>
void WhenChosen(CLI::App* command, CommandContext& context, std::shared_ptr<Arguments> arguments,
                int (*run)(const HostOptions&, const Arguments&)) {
    command->callback([&context, arguments, run] {
        context.run = [&context, arguments, run] { return run(context.host, *arguments); };
    });
}

// ---- what method commands share ----

struct FilePair {
    std::string input;
    std::string output;
    EncodeSettings encode;  // --quality
};
// IN and OUT, and --quality for OUT.
void AddInputAndOutput(CLI::App* command, FilePair& files);
void AddQualityOption(CLI::App* command, EncodeSettings& settings);
void AddCallOptions(CLI::App* command, CallSettings& settings);

// Refuses an empty value, what a script's unset variable gives: taken as 0
// or as no file, it would quietly change what the command does.
CLI::Validator NonEmpty();

struct PictureSize {
    int width = 0;
    int height = 0;
};
// --size as people write it: WxH; Wx or xH, the other side from the input's
// proportions, rounded; or N% of both sides, rounded. Sides are at least 1.
CLI::Validator PictureSizeValidator();
PictureSize ResolvePictureSize(const std::string& text, PictureSize input);
// The required --size of a resizing command, and the --antialias flag of the box scalers.
void AddSizeOption(CLI::App* command, std::string& size);
void AddAntialiasFlag(CLI::App* command, bool& antialias);
// The --carry-mask flag of the methods that make opaque results.
void AddCarryMaskFlag(CLI::App* command, bool& carryMask);
// The line that says --antialias could not apply to this resize, or "".
std::string AntialiasNote(bool antialias, PictureSize from, PictureSize to);

// The picture of the file at path, read into the session's host as its rows
// come (Session::LoadPicture), or UsageError naming the file. A file of more
// than 8 bits a sample is said to be read to 8, on one line.
LoadedPicture LoadInputPicture(Session& session, const std::string& path, Progress& progress);
// Every image to its file, shown on the status line, or UsageError naming the
// file and none of them written. Transparency that a file's format cannot
// hold is dropped, and one line says so.
void SaveOutputImages(const std::vector<OutputImage>& images, const EncodeSettings& settings, Progress& progress);

// A remark on standard error, "zpx: " and the text, that does not make the
// run fail; nothing for "".
void Note(const std::string& text);

// The common shape: one input picture, a method that returns a new picture,
// one output file.
struct PictureMethod {
    std::string name;
    // All the method's arguments but the yield interval, worked out from the
    // input's size once it is read.
    std::function<std::vector<zpxhost::Value>(PictureSize input)> argumentsFor;
    CallSettings call;
    bool carryMask = false;         // run the method on the input's mask too, and write the result's as alpha
    const char* keepsTransparency;  // what to use instead, for an input whose transparency the result loses
};
// Returns the exit status.
int RunPictureMethod(const HostOptions& host, const FilePair& files, const PictureMethod& method);

}  // namespace zpxcli
