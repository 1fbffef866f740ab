// Curves are stamped as soft round dots a quarter pixel apart along each
// segment between samples, so that the box's jumps come out as vertical
// strokes; each curve keeps its own coverage so that it is laid over the
// ones drawn before it without darkening where it crosses itself.
#include "cli/KernelPlot.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "resample/FilterKernel.h"

namespace zpxcli {

namespace {

// Told apart also by people who do not see red and green apart (Okabe and Ito).
const char* const kColours[7] = {"#e69f00", "#56b4e9", "#009e73", "#000000", "#0072b2", "#d55e00", "#cc79a7"};

constexpr double kLowestWeight = -0.25, kHighestWeight = 1.1;
constexpr double kLineRadius = 1.3;

struct Rgb {
    unsigned r, g, b;
};

Rgb ColourOf(const char* hex) {
    Rgb colour{0, 0, 0};
    std::sscanf(hex, "#%02x%02x%02x", &colour.r, &colour.g, &colour.b);
    return colour;
}

void Blend(Image& image, int x, int y, Rgb colour, double coverage) {
    uint8_t* pixel = image.PixelAt(x, y);
    const double channel[3] = {double(colour.r), double(colour.g), double(colour.b)};
    for (int c = 0; c < 3; ++c)
        pixel[c] = static_cast<uint8_t>(std::lround(pixel[c] + (channel[c] - pixel[c]) * coverage));
}

class Canvas {
public:
    Canvas(int width, int height) : image_(Image::Blank(width, height, false)) {
        std::fill(image_.rgba.begin(), image_.rgba.end(), 255);
    }

    double X(double distance) const { return (distance + kPlotReach) / (2.0 * kPlotReach) * (image_.width - 1); }
    double Y(double weight) const {
        return (kHighestWeight - weight) / (kHighestWeight - kLowestWeight) * (image_.height - 1);
    }

    void VerticalLine(double x, Rgb colour) {
        int column = static_cast<int>(std::lround(x));
        for (int y = 0; y < image_.height; ++y) Blend(image_, column, y, colour, 1.0);
    }
    void HorizontalLine(double y, Rgb colour) {
        int row = static_cast<int>(std::lround(y));
        for (int x = 0; x < image_.width; ++x) Blend(image_, x, row, colour, 1.0);
    }

    // One kernel's curve over the whole distance range.
    void Curve(const FilterKernel& kernel, Rgb colour) {
        std::vector<double> coverage(static_cast<size_t>(image_.width) * image_.height, 0.0);
        const int samples = image_.width * 4;
        double previousX = 0, previousY = 0;
        for (int i = 0; i <= samples; ++i) {
            double distance = -kPlotReach + 2.0 * kPlotReach * i / samples;
            double x = X(distance), y = Y(kernel.weight(std::fabs(distance)));
            if (i > 0) Segment(coverage, previousX, previousY, x, y);
            previousX = x;
            previousY = y;
        }
        for (int y = 0; y < image_.height; ++y) {
            for (int x = 0; x < image_.width; ++x) {
                double c = coverage[static_cast<size_t>(y) * image_.width + x];
                if (c > 0) Blend(image_, x, y, colour, c);
            }
        }
    }

    Image TakeImage() { return std::move(image_); }

private:
    void Segment(std::vector<double>& coverage, double x0, double y0, double x1, double y1) const {
        int steps = std::max(1, static_cast<int>(std::ceil(std::hypot(x1 - x0, y1 - y0) * 4)));
        for (int s = 0; s <= steps; ++s) Dot(coverage, x0 + (x1 - x0) * s / steps, y0 + (y1 - y0) * s / steps);
    }

    void Dot(std::vector<double>& coverage, double cx, double cy) const {
        const int reach = static_cast<int>(std::ceil(kLineRadius + 1));
        for (int y = static_cast<int>(cy) - reach; y <= static_cast<int>(cy) + reach; ++y) {
            for (int x = static_cast<int>(cx) - reach; x <= static_cast<int>(cx) + reach; ++x) {
                if (x < 0 || y < 0 || x >= image_.width || y >= image_.height) continue;
                double c = std::clamp(kLineRadius + 0.5 - std::hypot(x - cx, y - cy), 0.0, 1.0);
                double& cell = coverage[static_cast<size_t>(y) * image_.width + x];
                cell = std::max(cell, c);
            }
        }
    }

    Image image_;
};

}  // namespace

const char* KernelColour(int mode) { return mode >= 1 && mode <= 7 ? kColours[mode - 1] : "#888888"; }

Image PlotKernels(int width, int height) {
    Canvas canvas(width, height);
    for (int distance = -kPlotReach; distance <= kPlotReach; ++distance)
        canvas.VerticalLine(canvas.X(distance), {225, 225, 225});
    canvas.HorizontalLine(canvas.Y(1.0), {190, 190, 190});
    canvas.HorizontalLine(canvas.Y(0.0), {120, 120, 120});
    for (int mode = 1; mode <= 7; ++mode) canvas.Curve(*FindFilterKernel(mode), ColourOf(KernelColour(mode)));
    return canvas.TakeImage();
}

}  // namespace zpxcli
