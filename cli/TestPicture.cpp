// Four quarters of 320 x 240: zone plate, colour field, line gratings, shapes
// and text blocks.
#include "cli/TestPicture.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace zpxcli {

namespace {

constexpr int kQuarterWidth = kTestPictureWidth / 2;
constexpr int kQuarterHeight = kTestPictureHeight / 2;
constexpr double kPi = 3.14159265358979323846;

struct Colour {
    uint8_t r, g, b, a;
};
constexpr Colour kWhite{255, 255, 255, 255};
constexpr Colour kBlack{0, 0, 0, 255};

void Put(Image& image, int x, int y, Colour colour) {
    uint8_t* pixel = image.PixelAt(x, y);
    pixel[0] = colour.r;
    pixel[1] = colour.g;
    pixel[2] = colour.b;
    pixel[3] = colour.a;
}

uint8_t Level(double unit) { return static_cast<uint8_t>(std::lround(std::clamp(unit, 0.0, 1.0) * 255)); }

Colour Grey(double unit) { return {Level(unit), Level(unit), Level(unit), 255}; }

void FillRect(Image& image, int left, int top, int width, int height, Colour colour) {
    for (int y = top; y < top + height; ++y)
        for (int x = left; x < left + width; ++x) Put(image, x, y, colour);
}

// Local frequency grows linearly with the distance from the centre and
// reaches half a cycle per pixel (the sampling limit) in the corners.
void DrawZonePlate(Image& image) {
    const double cx = kQuarterWidth / 2.0, cy = kQuarterHeight / 2.0;
    const double corner = std::hypot(cx, cy);
    for (int y = 0; y < kQuarterHeight; ++y) {
        for (int x = 0; x < kQuarterWidth; ++x) {
            double dx = x + 0.5 - cx, dy = y + 0.5 - cy;
            Put(image, x, y, Grey(0.5 + 0.5 * std::cos(kPi * (dx * dx + dy * dy) / (2 * corner))));
        }
    }
}

Colour Hue(double hue, double lightness) {
    auto channel = [&](double offset) {
        double wave = 0.5 + 0.5 * std::cos(2 * kPi * (hue - offset));
        return lightness < 0.5 ? wave * lightness * 2 : wave + (1 - wave) * (lightness - 0.5) * 2;
    };
    return {Level(channel(0)), Level(channel(1.0 / 3)), Level(channel(2.0 / 3)), 255};
}

// Hue across, lightness down; then a smooth grey ramp and a 16-step staircase.
void DrawColourField(Image& image) {
    const int left = kQuarterWidth, hueRows = 160, rampRows = 40;
    for (int y = 0; y < hueRows; ++y)
        for (int x = 0; x < kQuarterWidth; ++x)
            Put(image, left + x, y, Hue(x / double(kQuarterWidth), (y + 0.5) / hueRows));
    for (int y = hueRows; y < hueRows + rampRows; ++y)
        for (int x = 0; x < kQuarterWidth; ++x) Put(image, left + x, y, Grey(x / double(kQuarterWidth - 1)));
    for (int y = hueRows + rampRows; y < kQuarterHeight; ++y)
        for (int x = 0; x < kQuarterWidth; ++x) Put(image, left + x, y, Grey((x * 16 / kQuarterWidth) / 15.0));
}

// Blocks of black-and-white lines one pixel wide with periods 2, 3, 4 and 6:
// vertical lines, horizontal lines, then diagonals beside a fine checkerboard.
void DrawLineGratings(Image& image) {
    const int top = kQuarterHeight, band = 80, block = kQuarterWidth / 4;
    const int periods[] = {2, 3, 4, 6};
    for (int y = 0; y < kQuarterHeight; ++y) {
        for (int x = 0; x < kQuarterWidth; ++x) {
            int period = periods[x / block];
            bool dark;
            if (y < band) dark = x % period == 0;
            else if (y < 2 * band) dark = y % period == 0;
            else if (x < kQuarterWidth / 2) dark = (x + y) % 5 == 0;
            else dark = ((x / 2) + (y / 2)) % 2 == 0;
            Put(image, x, top + y, dark ? kBlack : kWhite);
        }
    }
}

void DrawDisc(Image& image, int cx, int cy, int radius, Colour colour) {
    for (int y = cy - radius; y <= cy + radius; ++y)
        for (int x = cx - radius; x <= cx + radius; ++x)
            if ((x - cx) * (x - cx) + (y - cy) * (y - cy) <= radius * radius) Put(image, x, y, colour);
}

void DrawTriangle(Image& image, int left, int top, int size, Colour colour) {
    for (int y = 0; y < size; ++y)
        for (int x = size / 2 - y / 2; x <= size / 2 + y / 2; ++x) Put(image, left + x, top + y, colour);
}

void DrawFrame(Image& image, int left, int top, int size, int thickness, Colour colour) {
    FillRect(image, left, top, size, thickness, colour);
    FillRect(image, left, top + size - thickness, size, thickness, colour);
    FillRect(image, left, top, thickness, size, colour);
    FillRect(image, left + size - thickness, top, thickness, size, colour);
}

// Lines of "words": dark blocks of pseudo-random widths, the same every run.
void DrawTextBlocks(Image& image, int left, int top, int width, int lines) {
    uint32_t state = 12345;
    auto next = [&state](int range) {
        state = state * 1103515245u + 12345u;
        return static_cast<int>((state >> 16) % static_cast<uint32_t>(range));
    };
    const Colour ink{40, 40, 48, 255};
    for (int line = 0; line < lines; ++line) {
        int y = top + line * 10;
        for (int x = left; ;) {
            int word = 6 + next(26);
            if (x + word > left + width) break;
            FillRect(image, x, y, word, 6, ink);
            x += word + 4;
        }
    }
}

void DrawShapesAndText(Image& image, bool withAlpha) {
    const int left = kQuarterWidth, top = kQuarterHeight;
    FillRect(image, left, top, kQuarterWidth, kQuarterHeight, withAlpha ? Colour{255, 255, 255, 0} : kWhite);
    DrawDisc(image, left + 60, top + 62, 48, {220, 30, 30, static_cast<uint8_t>(withAlpha ? 128 : 255)});
    FillRect(image, left + 124, top + 18, 80, 90, {30, 60, 210, 255});
    DrawTriangle(image, left + 216, top + 16, 92, {20, 170, 60, 255});
    DrawFrame(image, left + 150, top + 40, 30, 3, kWhite);
    DrawTextBlocks(image, left + 12, top + 130, kQuarterWidth - 24, 10);
}

}  // namespace

Image MakeTestPicture(bool withAlpha) {
    Image image = Image::Blank(kTestPictureWidth, kTestPictureHeight, withAlpha);
    DrawZonePlate(image);
    DrawColourField(image);
    DrawLineGratings(image);
    DrawShapesAndText(image, withAlpha);
    return image;
}

}  // namespace zpxcli
