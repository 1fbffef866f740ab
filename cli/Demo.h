// The demo: every registered operation run on the built-in test picture with
// a few typical settings, written as PNGs with an index.html gallery meant to
// teach what each method does. The gallery is data: sections (one per
// method, each explained once), groups of panels on one source shown side by
// side, and panels (one call or recipe each, with an optional zoomed part of
// the result). An operation adds its own by adding rows to DemoSections().
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "cli/ImageFile.h"
#include "cli/Session.h"

namespace zpxcli {

struct DemoCrop {
    int left, top, width, height;
};

// A part of a result (all of it without a crop) enlarged by repeating
// pixels, so that single pixels, halos and false patterns can be seen.
struct DemoZoom {
    std::optional<DemoCrop> crop;
    int factor;
};

// A picture a recipe used besides its source (a mask, a background), shown
// beside the results.
struct DemoInput {
    std::string label;
    Image image;
};

struct DemoPanel;

// What a panel shows, and how long its method calls took together.
struct DemoResult {
    Image image;
    double milliseconds = 0;
    std::vector<DemoInput> inputs;
};

// A panel that takes more than one call, or pictures besides its source,
// makes its result itself from the panel's source (the test picture or its
// crop). Method failures throw MethodFailure, as RunMethod does.
using DemoRecipe = DemoResult (*)(Session& session, const DemoPanel& panel, const Image& source);

struct DemoPanel {
    std::string id;     // names the result's file: id.png
    std::string title;  // the caption's head, e.g. "lanczos3"
    std::string method;
    std::string settings;                   // the caption: what the arguments were
    std::vector<zpxhost::Value> arguments;  // all but the yield interval
    std::optional<DemoCrop> crop;           // the receiver is this part of the test picture
    DemoRecipe recipe = nullptr;            // unset: the result is one call of method with arguments
    std::optional<DemoZoom> zoom = std::nullopt;
};

// Panels on one source, side by side, with what to look for said once.
struct DemoGroup {
    std::string heading;
    std::string explanation;
    std::vector<DemoPanel> panels;  // all on the same crop, or all on the whole test picture
};

struct DemoSection {
    std::string id;  // the page anchor
    std::string heading;
    std::string explanation;
    std::vector<DemoGroup> groups;
    bool plotsKernels = false;  // the seven kernels' curves come first
};

const std::vector<DemoSection>& DemoSections();
std::vector<const DemoPanel*> AllDemoPanels();

// The file a crop of the test picture is written to.
std::string CropFileName(const DemoCrop& crop);

// A picture of the gallery: its file, relative to the gallery's directory,
// and what it is.
struct DemoFile {
    std::string label;
    std::string file;
};

// What became of one panel, for the gallery.
struct DemoOutcome {
    const DemoPanel* panel = nullptr;
    std::string resultFile;  // empty when the call failed
    std::string zoomFile;
    std::vector<DemoFile> inputs;
    std::string failure;
    double milliseconds = 0;
    int resultWidth = 0, resultHeight = 0;
};

struct DemoReport {
    std::string madeBy;                 // program, module and host, for people; no paths
    std::vector<DemoOutcome> outcomes;  // one per registered panel, in page order
    std::vector<std::string> unregisteredMethods;
};

std::string GalleryHtml(const DemoReport& report);

// Runs every registered panel into outputDirectory; returns the exit status
// (1 when any panel's call failed, after all of them ran).
int RunDemo(const HostOptions& host, const std::string& outputDirectory);

}  // namespace zpxcli
