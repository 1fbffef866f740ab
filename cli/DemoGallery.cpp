// The demo's index.html: one section per method, its explanation once, then
// its groups of panels side by side, each result at full size with a part of
// it zoomed by repeating pixels. Sources and zoomed parts are shown sharp;
// nothing on the page is scaled by the browser. Laid out to be read at 800
// pixels wide as at 1400.
#include <algorithm>
#include <cstdio>
#include <map>

#include "cli/Demo.h"
#include "cli/KernelPlot.h"
#include "cli/MethodFiles.h"
#include "cli/TestPicture.h"

namespace zpxcli {

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

const char kStyle[] =
    "body{font:16px/1.5 sans-serif;margin:0;padding:1em 1.5em 3em;background:#f4f4f2;color:#222}"
    "h1{margin:0.3em 0}p,nav{max-width:48em}h3{margin:1.2em 0 0.2em}"
    "section{margin-top:2em;border-top:1px solid #ccc}"
    ".row{display:flex;flex-wrap:wrap;gap:12px;align-items:flex-start;margin:0.6em 0 1.2em}"
    "figure{margin:0;padding:6px;background:#fff;border:1px solid #ddd;width:min-content;min-width:12em}"
    "figure.input{background:#f9f9f6}"
    "img{display:block;background:repeating-conic-gradient(#ccc 0 25%,#fff 0 50%) 0 0/16px 16px}"
    "img.zoom{margin-top:6px;image-rendering:pixelated}"
    "figcaption{font-size:13px;line-height:1.35;margin-top:5px}"
    ".made{color:#555;font-size:14px}.failed{color:#b00}"
    ".key{display:inline-block;width:1.5em;height:4px;vertical-align:middle;margin:0 4px 0 10px}"
    ".nowrap{white-space:nowrap}";

std::string Size(int width, int height) { return std::to_string(width) + " \u00d7 " + std::to_string(height); }

std::string Img(const std::string& file, int width, int height, const std::string& alt, const char* cssClass = "") {
    std::string tag = "<img src=\"" + Escaped(file) + "\"";
    if (*cssClass) tag += std::string(" class=\"") + cssClass + "\"";
    if (width > 0) tag += " width=\"" + std::to_string(width) + "\" height=\"" + std::to_string(height) + "\"";
    return tag + " alt=\"" + Escaped(alt) + "\">";
}

std::string Figure(const std::string& images, const std::string& caption, const char* cssClass = "") {
    return std::string("<figure") + (*cssClass ? std::string(" class=\"") + cssClass + "\"" : "") + ">" + images +
           "<figcaption>" + caption + "</figcaption></figure>\n";
}

std::string Milliseconds(double milliseconds) {
    char text[40];
    std::snprintf(text, sizeof text, "%.2f ms", milliseconds);
    return text;
}

std::string ResultFigure(const DemoOutcome& outcome) {
    const DemoPanel& panel = *outcome.panel;
    std::string head = "<b>" + Escaped(panel.title) + "</b><br>";
    if (!outcome.failure.empty())
        return Figure("", head + "<span class=\"failed\">" + Escaped(outcome.failure) + "</span>");
    std::string images = Img(outcome.resultFile, outcome.resultWidth, outcome.resultHeight, panel.title);
    std::string zoomNote;
    if (!outcome.zoomFile.empty()) {
        const DemoZoom& zoom = *panel.zoom;
        DemoCrop part = zoom.crop.value_or(DemoCrop{0, 0, outcome.resultWidth, outcome.resultHeight});
        images += Img(outcome.zoomFile, part.width * zoom.factor, part.height * zoom.factor, panel.title + ", zoomed",
                      "zoom");
        zoomNote = std::string("; below, ") + (zoom.crop ? "a part " : "") + std::to_string(zoom.factor) + " times";
    }
    return Figure(images, head + Escaped(panel.settings) + "<br>" + Milliseconds(outcome.milliseconds) + zoomNote);
}

std::string SourceFigure(const DemoCrop& crop) {
    return Figure(Img(CropFileName(crop), crop.width, crop.height, "source"),
                  "<b>Source</b><br>" + Size(crop.width, crop.height) + " of the test picture from (" +
                      std::to_string(crop.left) + ", " + std::to_string(crop.top) + "), full size",
                  "input");
}

std::string KernelPlotFigure() {
    std::string legend;
    for (const ResampleKernel& kernel : kResampleKernels)
        legend += std::string("<span class=\"nowrap\"><span class=\"key\" style=\"background:") +
                  KernelColour(kernel.mode) + "\"></span>" + std::to_string(kernel.mode) + " " + kernel.name +
                  "</span> ";
    return "<div class=\"row\">" +
           Figure(Img("kernels.png", kKernelPlotWidth, kKernelPlotHeight, "the seven kernels' weights"),
                  "<b>The kernels</b>: weight against distance, from \u2212" + std::to_string(kPlotReach) + " to " +
                      std::to_string(kPlotReach) +
                      " pixels (grid lines one pixel apart, the darker line weight 0, "
                      "the upper one weight 1; Lanczos 8 goes on to \u00b18 with small lobes).<br>" +
                      legend) +
           "</div>\n";
}

std::string GroupHtml(const DemoGroup& group, const std::vector<const DemoOutcome*>& outcomes) {
    std::string html = "<h3>" + Escaped(group.heading) + "</h3>\n";
    if (!group.explanation.empty()) html += "<p>" + Escaped(group.explanation) + "</p>\n";
    html += "<div class=\"row\">\n";
    if (const auto& crop = group.panels.front().crop) html += SourceFigure(*crop);
    std::vector<std::string> shown;
    for (const DemoOutcome* outcome : outcomes) {
        for (const DemoFile& input : outcome->inputs) {
            if (std::find(shown.begin(), shown.end(), input.file) != shown.end()) continue;
            shown.push_back(input.file);
            html += Figure(Img(input.file, 0, 0, input.label), "<b>" + Escaped(input.label) + "</b>", "input");
        }
    }
    for (const DemoOutcome* outcome : outcomes) html += ResultFigure(*outcome);
    return html + "</div>\n";
}

std::string SectionHtml(const DemoSection& section, const std::map<const DemoPanel*, const DemoOutcome*>& outcomes) {
    std::string groups;
    for (const DemoGroup& group : section.groups) {
        std::vector<const DemoOutcome*> ran;
        for (const DemoPanel& panel : group.panels)
            if (auto found = outcomes.find(&panel); found != outcomes.end()) ran.push_back(found->second);
        if (!ran.empty()) groups += GroupHtml(group, ran);
    }
    if (groups.empty()) return "";
    return "<section id=\"" + section.id + "\">\n<h2>" + Escaped(section.heading) + "</h2>\n<p>" +
           Escaped(section.explanation) + "</p>\n" + (section.plotsKernels ? KernelPlotFigure() : "") + groups +
           "</section>\n";
}

const char kTestPictureCaption[] =
    "<b>The test picture</b>, 640 \u00d7 480, full size, drawn by zpx itself: a zone plate (top left; its rings "
    "grow finer outwards up to the finest a pixel grid can hold, so aliasing shows at once), hues and grey "
    "ramps (top right; banding and colour shifts), gratings of one-pixel lines (bottom left) and hard-edged "
    "shapes with text-like blocks (bottom right; ringing and blur at edges).";

}  // namespace

std::string GalleryHtml(const DemoReport& report) {
    std::map<const DemoPanel*, const DemoOutcome*> outcomes;
    for (const DemoOutcome& outcome : report.outcomes) outcomes[outcome.panel] = &outcome;

    std::string html =
        "<!doctype html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
        "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">"
        "<title>zpx gallery</title><style>";
    html += kStyle;
    html += "</style></head><body>\n<h1>What zpx does to pictures</h1>\n";
    html +=
        "<p>Each section shows one of zpx's commands on the test picture below or on parts of it: the results at "
        "full size, beside the source and whatever else the command was given, with parts of them zoomed "
        "by repeating pixels so that single pixels can be seen.</p>\n";
    html += "<p class=\"made\">Made by " + Escaped(report.madeBy) +
            ". Times are of the method call alone, on the machine that made the page.</p>\n";
    html += "<div class=\"row\">" +
            Figure(Img("source.png", kTestPictureWidth, kTestPictureHeight, "the test picture"), kTestPictureCaption) +
            "</div>\n<nav>";
    std::string sections;
    for (const DemoSection& section : DemoSections()) {
        std::string text = SectionHtml(section, outcomes);
        if (text.empty()) continue;
        html += std::string(sections.empty() ? "" : " \u00b7 ") + "<a href=\"#" + section.id + "\">" +
                Escaped(section.heading.substr(0, section.heading.find(':'))) + "</a>";
        sections += text;
    }
    html += "</nav>\n" + sections;
    if (!report.unregisteredMethods.empty()) {
        std::string list;
        for (const std::string& method : report.unregisteredMethods) list += (list.empty() ? "" : ", ") + method;
        html += "<p>Not registered by this module, so not shown: " + Escaped(list) + ".</p>\n";
    }
    return html + "</body></html>\n";
}

}  // namespace zpxcli
