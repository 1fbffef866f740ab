#include "cli/DemoRecipes.h"

#include <algorithm>
#include <cmath>

#include "cli/Errors.h"
#include "cli/MethodRun.h"

namespace zpxcli {

namespace {

using zpxhost::Value;

// Adds the call's time to the panel's.
MethodResult TimedCall(Session& session, const std::string& method, REALpicture receiver,
                       const std::vector<Value>& arguments, DemoResult& total) {
    MethodResult result = RunMethod(session, method, receiver, arguments, CallSettings{});
    total.milliseconds += result.milliseconds.back();
    return result;
}

Image Filled(int width, int height, uint8_t r, uint8_t g, uint8_t b) {
    Image image = Image::Blank(width, height, false);
    for (size_t i = 0; i < image.rgba.size(); i += 4) {
        image.rgba[i] = r;
        image.rgba[i + 1] = g;
        image.rgba[i + 2] = b;
    }
    return image;
}

// Diagonal bands 8 pixels wide in two colours.
Image Stripes(int width, int height) {
    Image image = Filled(width, height, 235, 205, 120);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            if ((x + y) / 8 % 2 == 0) continue;
            uint8_t* pixel = image.PixelAt(x, y);
            pixel[0] = 70;
            pixel[1] = 110;
            pixel[2] = 170;
        }
    }
    return image;
}

// Mask levels of a disc filling the picture: 0 (opaque) inside, 255
// (transparent) outside, a ramp two pixels wide at the rim.
Image RoundMask(int width, int height) {
    Image mask = Image::Blank(width, height, false);
    mask.isGrey = true;
    const double radius = std::min(width, height) / 2.0 - 1;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            double distance = std::hypot(x + 0.5 - width / 2.0, y + 0.5 - height / 2.0);
            double outside = std::clamp((distance - radius + 1) / 2, 0.0, 1.0);
            uint8_t* pixel = mask.PixelAt(x, y);
            pixel[0] = pixel[1] = pixel[2] = static_cast<uint8_t>(std::lround(outside * 255));
        }
    }
    return mask;
}

double NumberAt(const std::vector<Value>& arguments, size_t index) { return std::get<double>(arguments.at(index)); }

// The result of a scaling call with the result's transparency as alpha.
DemoResult ScaledWithTransparency(Session& session, const DemoPanel& panel, REALpicture picture, DemoInput input) {
    DemoResult total;
    total.inputs.push_back(std::move(input));
    MethodResult result = TimedCall(session, panel.method, picture, panel.arguments, total);
    total.image = session.ReadPicture(result.picture.get());
    if (std::optional<Image> transparency = session.ReadTransparency(result.picture.get()))
        total.image = WithMaskAsAlpha(total.image, *transparency);
    return total;
}

}  // namespace

DemoResult DrawAtSubPixelSteps(Session& session, const DemoPanel& panel, const Image& source) {
    const int margin = 4, bandHeight = source.height + 2 * margin;
    const int steps = static_cast<int>(panel.arguments.size());
    Image ground = Filled(source.width + 22, bandHeight * steps, 128, 128, 128);
    HostPicture destination = session.MakePicture(ground);
    HostPicture sprite = session.MakePicture(source);
    DemoResult total;
    for (int step = 0; step < steps; ++step) {
        std::vector<Value> arguments{sprite.get(), NumberAt(panel.arguments, step),
                                     static_cast<double>(step * bandHeight + margin)};
        TimedCall(session, panel.method, destination.get(), arguments, total);
    }
    total.image = session.ReadPicture(destination.get());
    return total;
}

DemoResult DrawThroughRoundMask(Session& session, const DemoPanel& panel, const Image& source) {
    Image stripes = Stripes(source.width + 64, source.height + 32);
    Image mask = RoundMask(source.width, source.height);
    HostPicture destination = session.MakePicture(stripes);
    HostPicture picture = session.MakePicture(source);
    session.AttachMask(picture.get(), mask);
    std::vector<Value> arguments{picture.get()};
    arguments.insert(arguments.end(), panel.arguments.begin(), panel.arguments.end());
    DemoResult total;
    TimedCall(session, panel.method, destination.get(), arguments, total);
    total.image = session.ReadPicture(destination.get());
    total.inputs = {{"The round mask", std::move(mask)}, {"The stripes drawn on", std::move(stripes)}};
    return total;
}

DemoResult ScaleWithRoundMask(Session& session, const DemoPanel& panel, const Image& source) {
    Image mask = RoundMask(source.width, source.height);
    HostPicture picture = session.MakePlainPicture(source);
    session.AttachMask(picture.get(), mask);
    return ScaledWithTransparency(session, panel, picture.get(), {"The round mask", std::move(mask)});
}

DemoResult ScaleWithRoundAlpha(Session& session, const DemoPanel& panel, const Image& source) {
    Image icon = WithMaskAsAlpha(source, RoundMask(source.width, source.height));
    HostPicture picture = session.MakePicture(icon, true);
    return ScaledWithTransparency(session, panel, picture.get(), {"The icon with a round alpha channel", icon});
}

}  // namespace zpxcli
