// The demo: every registered operation run on the built-in test picture with
// a few typical settings, written as PNGs with an index.html gallery that
// shows each result beside its source and settings. Panels are data: an
// operation adds its own by adding rows to the table in Demo.cpp.
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

struct DemoPanel;

// What a panel shows, and how long its method calls took together.
struct DemoResult {
    Image image;
    double milliseconds = 0;
};

// A panel that takes more than one call makes its result itself from the
// panel's source (the test picture or its crop). Method failures throw
// MethodFailure, as RunMethod does.
using DemoRecipe = DemoResult (*)(Session& session, const DemoPanel& panel, const Image& source);

struct DemoPanel {
    std::string id;        // names the result's file: id.png
    std::string title;
    std::string method;
    std::string settings;  // what the arguments mean, for people
    std::vector<zpxhost::Value> arguments;  // all but the yield interval
    std::optional<DemoCrop> crop;           // the receiver is this part of the test picture
    DemoRecipe recipe = nullptr;            // unset: the result is one call of method with arguments
};

const std::vector<DemoPanel>& DemoPanels();

// What became of one panel, for the gallery.
struct DemoOutcome {
    const DemoPanel* panel = nullptr;
    std::string sourceFile;
    std::string resultFile;  // empty when the call failed
    std::string failure;
    double milliseconds = 0;
    int resultWidth = 0, resultHeight = 0;
};

struct DemoReport {
    std::string hostDescription;
    std::string modulePath;
    std::vector<DemoOutcome> outcomes;
    std::vector<std::string> unregisteredMethods;
};

std::string GalleryHtml(const DemoReport& report);

// Runs every registered panel into outputDirectory; returns the exit status
// (1 when any panel's call failed, after all of them ran).
int RunDemo(const HostOptions& host, const std::string& outputDirectory);

}  // namespace zpxcli
