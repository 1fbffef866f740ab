#include "cli/Demo.h"

#include <cstdio>
#include <filesystem>
#include <set>
#include <system_error>

#include "cli/Commands.h"
#include "cli/DemoRecipes.h"
#include "cli/Errors.h"
#include "cli/MethodRun.h"
#include "cli/TestPicture.h"

namespace zpxcli {

namespace {

// Parts of the 640 x 480 test picture.
constexpr DemoCrop kDetail{200, 180, 96, 72};          // the zone plate's fine outer rings, a corner of the gratings
constexpr DemoCrop kZonePlateRings{216, 144, 64, 64};  // rings of about 0.15 to 0.37 cycles per pixel
constexpr DemoCrop kZonePlateCentre{112, 72, 96, 96};  // the zone plate's centre
constexpr DemoCrop kIcon{566, 250, 32, 32};            // the triangle's apex, green on white
constexpr DemoCrop kSprite{462, 276, 24, 24};          // a corner of the white frame on the blue square

const char kKernelHint[] = "; look for moire in the outer rings (aliasing) and halos beside edges (ringing)";

std::string KernelSettings(const std::string& sizes, const ResampleKernel& kernel) {
    return sizes + ", mode " + std::to_string(kernel.mode) + " (" + kernel.name + ": " + kernel.description + ")" +
           kKernelHint;
}

// The seven kernels on one enlargement and one reduction.
std::vector<DemoPanel> KernelComparison() {
    std::vector<DemoPanel> rows;
    for (const ResampleKernel& kernel : kResampleKernels)
        rows.push_back({std::string("resample-up-") + kernel.name,
                        std::string("Zone plate enlarged 4 times, ") + kernel.name, "ScalingZPX",
                        KernelSettings("64 x 64 crop to 256 x 256", kernel), {kernel.mode, 256, 256}, kZonePlateRings});
    for (const ResampleKernel& kernel : kResampleKernels)
        rows.push_back({std::string("resample-down-") + kernel.name, std::string("Reduced to a third, ") + kernel.name,
                        "ScalingZPX", KernelSettings("640 x 480 to 213 x 160", kernel), {kernel.mode, 213, 160},
                        std::nullopt});
    return rows;
}

std::vector<DemoPanel> Joined(std::initializer_list<std::vector<DemoPanel>> groups) {
    std::vector<DemoPanel> rows;
    for (const std::vector<DemoPanel>& group : groups) rows.insert(rows.end(), group.begin(), group.end());
    return rows;
}

}  // namespace

// One row per panel, grouped by method.
const std::vector<DemoPanel>& DemoPanels() {
    static const std::vector<DemoPanel> panels = Joined({
        {
            {"scale-down-third", "Reduced to a third", "ScaleZPX", "640 x 480 to 213 x 160, box averaging",
             {213, 160, false}, std::nullopt},
            {"scale-odd-ratio", "Odd ratio", "ScaleZPX", "640 x 480 to 457 x 301 (about 1.4 : 1), box averaging",
             {457, 301, false}, std::nullopt},
            {"scale-up-nearest", "Detail enlarged 2.5 times", "ScaleZPX",
             "96 x 72 crop to 240 x 180, no anti-aliasing (pixels repeat)", {240, 180, false}, kDetail},
            {"scale-up-antialias", "Detail enlarged 2.5 times, smooth", "ScaleZPX",
             "96 x 72 crop to 240 x 180, AntiAlias true", {240, 180, true}, kDetail},
            {"scale-icon-nearest", "Icon enlarged 8 times", "ScaleZPX",
             "32 x 32 crop to 256 x 256, no anti-aliasing: square pixels, stepped diagonals", {256, 256, false},
             kIcon},
            {"scale-icon-antialias", "Icon enlarged 8 times, smooth", "ScaleZPX",
             "32 x 32 crop to 256 x 256, AntiAlias true: interpolated edges", {256, 256, true}, kIcon},
        },
        {
            {"scale-mask-icon-nearest", "Icon with a round mask enlarged 8 times", "ScaleImageAndMaskZPX",
             "32 x 32 crop with a round, soft-edged mask to 256 x 256, no anti-aliasing; the mask, scaled the "
             "same way, written as the PNG's alpha",
             {256, 256, false}, kIcon, ScaleWithRoundMask},
            {"scale-mask-icon-antialias", "Icon with a round mask enlarged 8 times, smooth", "ScaleImageAndMaskZPX",
             "as before with AntiAlias true: picture and mask interpolated alike", {256, 256, true}, kIcon,
             ScaleWithRoundMask},
            {"scale-alpha-icon-antialias", "Icon with alpha enlarged 8 times, smooth", "ScaleImageAndMaskZPX",
             "the round shape as the icon's own alpha channel, which the host hands out as a mask; 256 x 256, "
             "AntiAlias true",
             {256, 256, true}, kIcon, ScaleWithRoundAlpha},
        },
        KernelComparison(),
        {
            {"blur-1", "Blur, radius 1", "BlurZPX", "each pixel the mean of the 3 x 3 square around it", {1.0},
             std::nullopt},
            {"blur-4", "Blur, radius 4", "BlurZPX", "9 x 9 square", {4.0}, std::nullopt},
            {"blur-16", "Blur, radius 16", "BlurZPX", "33 x 33 square; the same work per pixel as radius 1",
             {16.0}, std::nullopt},
        },
        {
            {"draw-subpixel-steps", "Sprite at quarter-pixel steps", "DrawPictureFZPX",
             "24 x 24 crop drawn on grey at x = 10, 10.25, 10.5, 10.75 and 11, top to bottom; enlarged 4 times "
             "by repeating pixels so that the edges' mixing shows",
             {10.0, 10.25, 10.5, 10.75, 11.0}, kSprite, DrawAtSubPixelSteps},
            {"draw-round-mask", "Drawn through a round mask", "DrawPictureFZPX",
             "96 x 96 crop with a round, soft-edged mask drawn onto stripes at (32.5, 16.25), alpha 1; enlarged "
             "twice by repeating pixels",
             {32.5, 16.25, 1.0}, kZonePlateCentre, DrawThroughRoundMask},
        },
    });
    return panels;
}

namespace {

std::string Escaped(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            default: out += c;
        }
    }
    return out;
}

const char kGalleryStyle[] =
    "body{font-family:sans-serif;margin:2em;background:#f4f4f4;color:#222}"
    "table{border-collapse:collapse}td,th{border:1px solid #ccc;padding:8px;vertical-align:top;background:#fff}"
    "img{background:repeating-conic-gradient(#ddd 0 25%,#fff 0 50%) 0 0/16px 16px}"
    "img.source{image-rendering:pixelated}.failed{color:#b00}.settings{max-width:22em}";

std::string PanelRow(const DemoOutcome& outcome) {
    const DemoPanel& panel = *outcome.panel;
    std::string result = outcome.failure.empty()
                             ? "<img src=\"" + Escaped(outcome.resultFile) + "\" alt=\"" + Escaped(panel.title) + "\">"
                             : "<p class=\"failed\">" + Escaped(outcome.failure) + "</p>";
    // The whole test picture as a thumbnail; a crop at twice its size, its pixels visible.
    int shownWidth = panel.crop ? panel.crop->width * 2 : 160;
    std::string source = "<a href=\"" + Escaped(outcome.sourceFile) + "\"><img class=\"source\" src=\"" +
                         Escaped(outcome.sourceFile) + "\" width=\"" + std::to_string(shownWidth) +
                         "\" alt=\"source\"></a>";
    char details[120] = "";
    if (outcome.failure.empty())
        std::snprintf(details, sizeof details, "<br>result %d x %d, %.2f ms", outcome.resultWidth,
                      outcome.resultHeight, outcome.milliseconds);
    return "<tr><td>" + result + "</td><td>" + source + "</td><td class=\"settings\"><b>" + Escaped(panel.method) +
           "</b>: " + Escaped(panel.title) + "<br>" + Escaped(panel.settings) + details + "</td></tr>\n";
}

std::string UnregisteredNote(const std::vector<std::string>& methods) {
    if (methods.empty()) return "";
    std::string list;
    for (const std::string& method : methods) list += (list.empty() ? "" : ", ") + method;
    return "<p>Not registered by this module, so not shown: " + Escaped(list) + ".</p>\n";
}

void MakeDirectory(const std::string& directory) {
    std::error_code error;
    std::filesystem::create_directories(directory, error);
    if (error) throw UsageError(directory + ": cannot make the directory: " + error.message());
}

std::string InDirectory(const std::string& directory, const std::string& file) { return directory + "/" + file; }

// Panels that share a crop share its file.
std::string SourceFileFor(const DemoPanel& panel) {
    if (!panel.crop) return "source.png";
    const DemoCrop& crop = *panel.crop;
    return "crop-" + std::to_string(crop.left) + "-" + std::to_string(crop.top) + "-" + std::to_string(crop.width) +
           "x" + std::to_string(crop.height) + ".png";
}

DemoResult ResultOf(Session& session, const DemoPanel& panel, const Image& source) {
    if (panel.recipe) return panel.recipe(session, panel, source);
    HostPicture picture = session.MakePicture(source);
    MethodResult result = RunMethod(session, panel.method, picture.get(), panel.arguments, CallSettings{});
    return {session.ReadPicture(result.picture.get()), result.milliseconds.back()};
}

DemoOutcome RunPanel(Session& session, const DemoPanel& panel, const Image& testPicture,
                     const std::string& directory) {
    DemoOutcome outcome;
    outcome.panel = &panel;
    outcome.sourceFile = SourceFileFor(panel);
    Image source = testPicture;
    if (panel.crop) {
        source = testPicture.Crop(panel.crop->left, panel.crop->top, panel.crop->width, panel.crop->height);
        SaveOutputImage(InDirectory(directory, outcome.sourceFile), source);
    }
    try {
        DemoResult result = ResultOf(session, panel, source);
        outcome.resultFile = panel.id + ".png";
        SaveOutputImage(InDirectory(directory, outcome.resultFile), result.image);
        outcome.milliseconds = result.milliseconds;
        outcome.resultWidth = result.image.width;
        outcome.resultHeight = result.image.height;
    } catch (const CliError& error) {
        if (error.status() != kExitMethodFailed) throw;
        outcome.failure = error.what();
    }
    return outcome;
}

}  // namespace

std::string GalleryHtml(const DemoReport& report) {
    std::string html = "<!doctype html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">";
    html += "<title>zpx demo</title><style>";
    html += kGalleryStyle;
    html += "</style></head><body>\n<h1>zpx demo</h1>\n<p>" + Escaped(report.hostDescription) + "; module " +
            Escaped(report.modulePath) + "</p>\n";
    html += "<p><a href=\"source.png\"><img src=\"source.png\" alt=\"the test picture\"></a></p>\n";
    html += "<table>\n<tr><th>Result</th><th>Source</th><th>Settings</th></tr>\n";
    for (const DemoOutcome& outcome : report.outcomes) html += PanelRow(outcome);
    html += "</table>\n" + UnregisteredNote(report.unregisteredMethods) + "</body></html>\n";
    return html;
}

int RunDemo(const HostOptions& host, const std::string& outputDirectory) {
    Session session(host);
    MakeDirectory(outputDirectory);
    Image testPicture = MakeTestPicture(host.alpha);
    SaveOutputImage(InDirectory(outputDirectory, "source.png"), testPicture);

    DemoReport report{host.Describe(), host.modulePath, {}, {}};
    std::set<std::string> unregistered;
    for (const DemoPanel& panel : DemoPanels()) {
        if (!session.IsRegistered(panel.method)) {
            if (unregistered.insert(panel.method).second) report.unregisteredMethods.push_back(panel.method);
            continue;
        }
        report.outcomes.push_back(RunPanel(session, panel, testPicture, outputDirectory));
        if (!report.outcomes.back().failure.empty())
            std::fprintf(stderr, "zpx: demo %s: %s\n", panel.id.c_str(), report.outcomes.back().failure.c_str());
    }
    std::string html = GalleryHtml(report);
    std::string index = InDirectory(outputDirectory, "index.html");
    try {
        WriteFileAtomically(index, html.data(), html.size());
    } catch (const ImageError& error) {
        throw UsageError(error.what());
    }

    int failures = 0;
    for (const DemoOutcome& outcome : report.outcomes) failures += outcome.failure.empty() ? 0 : 1;
    std::printf("%s: %zu panels, %d failed\n", index.c_str(), report.outcomes.size(), failures);
    return failures == 0 ? kExitSuccess : kExitMethodFailed;
}

}  // namespace zpxcli
