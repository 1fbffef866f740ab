#include "cli/Demo.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <set>
#include <system_error>

#include "cli/DemoRecipes.h"
#include "cli/Errors.h"
#include "cli/KernelPlot.h"
#include "cli/MethodFiles.h"
#include "cli/MethodRun.h"
#include "cli/Module.h"
#include "cli/TestPicture.h"

namespace zpxcli {

namespace {

// Parts of the 640 x 480 test picture.
constexpr DemoCrop kDetail{200, 180, 96, 72};          // the zone plate's fine outer rings, a corner of the gratings
constexpr DemoCrop kEdges{458, 250, 40, 40};           // the blue square's top edge and a corner of its white frame
constexpr DemoCrop kZonePlateCentre{112, 72, 96, 96};  // the zone plate's centre
constexpr DemoCrop kIcon{566, 250, 32, 32};            // the triangle's apex, green on white
constexpr DemoCrop kSprite{462, 276, 24, 24};          // a corner of the white frame on the blue square

// The zone plate's corner in a reduction to a third, four times: true rings
// near its centre, and beyond them the rings too fine for the result.
constexpr DemoZoom kReducedRingsZoom{DemoCrop{0, 0, 48, 48}, 4};

// The same call with each kernel.
std::vector<DemoPanel> EveryKernel(const std::string& idPrefix, int width, int height, std::optional<DemoCrop> crop,
                                   DemoZoom zoom) {
    std::vector<DemoPanel> panels;
    for (const ResampleKernel& kernel : kResampleKernels)
        panels.push_back({idPrefix + kernel.name, std::to_string(kernel.mode) + " " + kernel.name, "ScalingZPX",
                          kernel.description, {kernel.mode, width, height}, crop, nullptr, zoom});
    return panels;
}

DemoSection ScaleSection() {
    return {"scale",
            "Box scaling: zpx scale (ScaleZPX)",
            "Each result pixel is the mean of the box of source pixels it covers, truncated to a whole level. "
            "Reducing by a whole factor averages whole blocks; at other ratios the boxes keep the whole-factor "
            "size and their starts are truncated, so fine patterns can beat. Enlarging repeats pixels. With "
            "--antialias, and only when both sides grow, a smooth enlargement blends the two nearest source pixels "
            "along each axis instead (corner-aligned: result pixel i samples source position i \u00d7 W / W').",
            {{"Reducing",
              "The whole test picture. The zoomed parts show the zone plate's corner: rings too fine for the result "
              "that come out as false, coarser rings are aliasing.",
              {{"scale-down-third", "To a third", "ScaleZPX", "640 \u00d7 480 to 213 \u00d7 160", {213, 160, false},
                std::nullopt, nullptr, kReducedRingsZoom},
               {"scale-odd-ratio", "Odd ratio", "ScaleZPX", "640 \u00d7 480 to 457 \u00d7 301 (about 1.4 : 1)",
                {457, 301, false}, std::nullopt, nullptr, DemoZoom{DemoCrop{0, 0, 64, 64}, 3}}}},
             {"Enlarging a detail 2.5 times",
              "Repeated pixels keep every edge hard and make lines uneven in width; the smooth enlargement blurs "
              "edges over about one source pixel.",
              {{"scale-up-nearest", "Repeated pixels", "ScaleZPX", "96 \u00d7 72 to 240 \u00d7 180", {240, 180, false},
                kDetail},
               {"scale-up-antialias", "--antialias", "ScaleZPX", "96 \u00d7 72 to 240 \u00d7 180, smooth",
                {240, 180, true}, kDetail}}},
             {"Enlarging an icon 8 times",
              "",
              {{"scale-icon-nearest", "Repeated pixels", "ScaleZPX", "32 \u00d7 32 to 256 \u00d7 256: square pixels, "
                "stepped diagonals", {256, 256, false}, kIcon},
               {"scale-icon-antialias", "--antialias", "ScaleZPX", "32 \u00d7 32 to 256 \u00d7 256: interpolated edges",
                {256, 256, true}, kIcon}}}}};
}

DemoSection ScaleMaskSection() {
    return {"scale-mask",
            "Scaling with the mask: zpx scale-mask (ScaleImageAndMaskZPX)",
            "The picture is scaled as by ScaleZPX, and its mask (black opaque, white transparent) the same way, so "
            "that the transparency keeps its place. A picture with an alpha channel is first copied into a plain "
            "picture whose mask is 255 minus its alpha. The results are written with the mask as their PNG's "
            "alpha channel, shown here over a chequerboard.",
            {{"An icon with a round mask, 8 times",
              "",
              {{"scale-mask-icon-nearest", "Repeated pixels", "ScaleImageAndMaskZPX",
                "32 \u00d7 32 to 256 \u00d7 256; the mask steps like the picture", {256, 256, false}, kIcon,
                ScaleWithRoundMask},
               {"scale-mask-icon-antialias", "--antialias", "ScaleImageAndMaskZPX",
                "picture and mask interpolated alike", {256, 256, true}, kIcon, ScaleWithRoundMask}}},
             {"An icon with an alpha channel, 8 times",
              "",
              {{"scale-alpha-icon-antialias", "--antialias", "ScaleImageAndMaskZPX",
                "the round shape as the icon's own alpha channel, which the host hands out as a mask",
                {256, 256, true}, kIcon, ScaleWithRoundAlpha}}}}};
}

DemoSection ResampleSection() {
    return {"resample",
            "Filtered resampling with seven kernels: zpx resample (ScalingZPX)",
            "Two passes, along the rows and then down the columns: each result pixel is the weighted mean of the "
            "source pixels under the kernel, centred on the pixel's position; when reducing, the kernel is "
            "stretched by the reduction so that it averages. Kernels with negative lobes (Lanczos, Keys, a little "
            "Mitchell) keep edges sharp but ring: light and dark halos beside hard edges. The box and the triangle "
            "never ring, but block or blur; a kernel too narrow for a reduction lets fine patterns through as "
            "false coarse ones (aliasing).",
            {{"Enlarging hard edges 4 times",
              "40 \u00d7 40 to 160 \u00d7 160: the blue square's top edge on white and a corner of its "
              "three-pixel white frame. The zoomed parts, around the frame's corner, show the halos.",
              EveryKernel("resample-up-", 160, 160, kEdges, DemoZoom{DemoCrop{16, 72, 64, 64}, 3})},
             {"Reducing to a third",
              "The whole test picture, 640 \u00d7 480 to 213 \u00d7 160. The zoomed parts show the zone plate's "
              "corner: its true rings near the centre, and beyond them rings too fine for the result, which a good "
              "kernel turns to even grey and a poor one to false rings.",
              EveryKernel("resample-down-", 213, 160, std::nullopt, kReducedRingsZoom)}},
            true};
}

DemoSection BlurSection() {
    const DemoZoom text{DemoCrop{332, 366, 64, 48}, 3};
    return {"blur",
            "Box blur: zpx blur (BlurZPX)",
            "Every pixel becomes the mean of the square of side 2r + 1 around it, beyond the edges the edge pixels "
            "repeated, in two passes (down the columns, then along the rows) that each truncate their mean: a "
            "blurred picture comes out up to a level darker than the exact mean, and repeated blurs darken a little "
            "each time. The result is opaque, and its cost per pixel does not grow with r.",
            {{"Three radii",
              "The whole test picture; the zoomed parts show the text-like blocks.",
              {{"blur-1", "Radius 1", "BlurZPX", "3 \u00d7 3 squares", {1.0}, std::nullopt, nullptr, text},
               {"blur-4", "Radius 4", "BlurZPX", "9 \u00d7 9 squares", {4.0}, std::nullopt, nullptr, text},
               {"blur-16", "Radius 16", "BlurZPX", "33 \u00d7 33 squares", {16.0}, std::nullopt, nullptr, text}}}}};
}

DemoSection DrawSection() {
    return {"draw",
            "Drawing at fractional positions: zpx draw (DrawPictureFZPX)",
            "The source is drawn with its top-left corner at (x, y), fractions included: each destination pixel "
            "takes the four source pixels around its position, each weighted by its bilinear share times the "
            "strength (and thinned by the mask: black full, white none), and the weight they leave over from its "
            "old colour. Each product is truncated before it is summed.",
            {{"Quarter-pixel steps",
              "",
              {{"draw-subpixel-steps", "x = 10, 10.25, 10.5, 10.75, 11", "DrawPictureFZPX",
                "drawn on grey, top to bottom; the edges' mixing moves a quarter pixel at a time",
                {10.0, 10.25, 10.5, 10.75, 11.0}, kSprite, DrawAtSubPixelSteps, DemoZoom{std::nullopt, 4}}}},
             {"Through a round mask",
              "",
              {{"draw-round-mask", "At (32.5, 16.25)", "DrawPictureFZPX",
                "strength 1, through the mask onto the stripes", {32.5, 16.25, 1.0}, kZonePlateCentre,
                DrawThroughRoundMask, DemoZoom{std::nullopt, 2}}}}}};
}

}  // namespace

const std::vector<DemoSection>& DemoSections() {
    static const std::vector<DemoSection> sections = {ScaleSection(), ScaleMaskSection(), ResampleSection(),
                                                      BlurSection(), DrawSection()};
    return sections;
}

std::vector<const DemoPanel*> AllDemoPanels() {
    std::vector<const DemoPanel*> panels;
    for (const DemoSection& section : DemoSections())
        for (const DemoGroup& group : section.groups)
            for (const DemoPanel& panel : group.panels) panels.push_back(&panel);
    return panels;
}

namespace {

void MakeDirectory(const std::string& directory) {
    std::error_code error;
    std::filesystem::create_directories(directory, error);
    if (error) throw UsageError(directory + ": cannot make the directory: " + error.message());
}

class GalleryFiles {
public:
    explicit GalleryFiles(std::string directory) : directory_(std::move(directory)) {}
    // Writes the image as name (once: panels share sources) and returns the name.
    const std::string& Save(const std::string& name, const Image& image) {
        if (written_.insert(name).second) SaveOutputImage(directory_ + "/" + name, image);
        return *written_.find(name);
    }
    void SaveText(const std::string& name, const std::string& text) const {
        std::string path = directory_ + "/" + name;
        try {
            WriteFileAtomically(path, text.data(), text.size());
        } catch (const ImageError& error) {
            throw UsageError(error.what());
        }
    }

private:
    std::string directory_;
    std::set<std::string> written_;
};

Image Zoomed(const Image& image, const DemoZoom& zoom) {
    DemoCrop part = zoom.crop.value_or(DemoCrop{0, 0, image.width, image.height});
    Image zoomed = Image::Blank(part.width * zoom.factor, part.height * zoom.factor, image.hasAlpha);
    for (int y = 0; y < zoomed.height; ++y) {
        for (int x = 0; x < zoomed.width; ++x) {
            const uint8_t* from = image.PixelAt(part.left + x / zoom.factor, part.top + y / zoom.factor);
            std::copy(from, from + 4, zoomed.PixelAt(x, y));
        }
    }
    return zoomed;
}

std::string Slug(const std::string& label) {
    std::string slug;
    for (char c : label) {
        unsigned char letter = static_cast<unsigned char>(c);
        if (std::isalnum(letter)) slug += static_cast<char>(std::tolower(letter));
        else if (!slug.empty() && slug.back() != '-') slug += '-';
    }
    while (!slug.empty() && slug.back() == '-') slug.pop_back();
    return slug;
}

// Panels that use the same input share its file.
std::string InputFileName(const DemoInput& input) {
    return Slug(input.label) + "-" + std::to_string(input.image.width) + "x" + std::to_string(input.image.height) +
           ".png";
}

DemoResult ResultOf(Session& session, const DemoPanel& panel, const Image& source) {
    if (panel.recipe) return panel.recipe(session, panel, source);
    HostPicture picture = session.MakePicture(source);
    MethodResult result = RunMethod(session, panel.method, picture.get(), panel.arguments, CallSettings{});
    return {session.ReadPicture(result.picture.get()), result.milliseconds.back(), {}};
}

DemoOutcome RunPanel(Session& session, const DemoPanel& panel, const Image& source, GalleryFiles& files) {
    DemoOutcome outcome;
    outcome.panel = &panel;
    try {
        DemoResult result = ResultOf(session, panel, source);
        outcome.resultFile = files.Save(panel.id + ".png", result.image);
        if (panel.zoom) outcome.zoomFile = files.Save(panel.id + "-zoom.png", Zoomed(result.image, *panel.zoom));
        for (const DemoInput& input : result.inputs)
            outcome.inputs.push_back({input.label, files.Save(InputFileName(input), input.image)});
        outcome.milliseconds = result.milliseconds;
        outcome.resultWidth = result.image.width;
        outcome.resultHeight = result.image.height;
    } catch (const CliError& error) {
        if (error.status() != kExitMethodFailed) throw;
        outcome.failure = error.what();
    }
    return outcome;
}

std::string MadeBy(const Session& session) {
    std::string moduleVersion = LoadedModuleVersion(session.modulePath());
    return std::string("zpx ") + ProgramVersion() + " with the module picturezpx " +
           (moduleVersion.empty() ? "of unknown version" : moduleVersion) + ", in an emulated " +
           session.options().Describe();
}

}  // namespace

std::string CropFileName(const DemoCrop& crop) {
    return "crop-" + std::to_string(crop.left) + "-" + std::to_string(crop.top) + "-" + std::to_string(crop.width) +
           "x" + std::to_string(crop.height) + ".png";
}

int RunDemo(const HostOptions& host, const std::string& outputDirectory) {
    Session session(host);
    MakeDirectory(outputDirectory);
    GalleryFiles files(outputDirectory);
    Image testPicture = MakeTestPicture(host.alphaChannel);
    files.Save("source.png", testPicture);
    files.Save("kernels.png", PlotKernels(kKernelPlotWidth, kKernelPlotHeight));

    DemoReport report{MadeBy(session), {}, {}};
    std::set<std::string> unregistered;
    for (const DemoPanel* panel : AllDemoPanels()) {
        if (!session.IsRegistered(panel->method)) {
            if (unregistered.insert(panel->method).second) report.unregisteredMethods.push_back(panel->method);
            continue;
        }
        Image source = testPicture;
        if (panel->crop) {
            const DemoCrop& crop = *panel->crop;
            source = testPicture.Crop(crop.left, crop.top, crop.width, crop.height);
            files.Save(CropFileName(crop), source);
        }
        report.outcomes.push_back(RunPanel(session, *panel, source, files));
        if (!report.outcomes.back().failure.empty())
            std::fprintf(stderr, "zpx: demo %s: %s\n", panel->id.c_str(), report.outcomes.back().failure.c_str());
    }
    files.SaveText("index.html", GalleryHtml(report));

    int failures = 0;
    for (const DemoOutcome& outcome : report.outcomes) failures += outcome.failure.empty() ? 0 : 1;
    std::string index = (std::filesystem::absolute(outputDirectory) / "index.html").lexically_normal().string();
    std::printf("zpx demo: %zu results, %d failed\n", report.outcomes.size(), failures);
    std::printf("Gallery: %s (open it in a browser)\n", index.c_str());
    return failures == 0 ? kExitSuccess : kExitMethodFailed;
}

}  // namespace zpxcli
