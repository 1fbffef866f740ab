#include "cli/FailureReasons.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>

namespace zpxcli {

namespace {

using zpxhost::Value;

// The library requests no working buffer of 2^31 bytes or more.
constexpr int64_t kLargestBuffer = 2147483647;
// Hosts before this version make no pictures with an alpha channel.
constexpr double kFirstHostWithAlphaPictures = 2011.04;
// Drawing refuses a strength whose channel products could leave 32 bits: 255 |alpha| (and, for a
// negative strength, 255 (1 + |alpha|), the destination's own share) must stay within 2^31 - 1.
constexpr double kLargestProductFactor = 2147483647.0 / 255.0;

int64_t Integer(const std::vector<Value>& arguments, size_t index) {
    const int32_t* integer = index < arguments.size() ? std::get_if<int32_t>(&arguments[index]) : nullptr;
    return integer != nullptr ? *integer : 0;
}

double Number(const std::vector<Value>& arguments, size_t index) {
    if (index >= arguments.size()) return std::numeric_limits<double>::quiet_NaN();
    if (const int32_t* integer = std::get_if<int32_t>(&arguments[index])) return *integer;
    if (const double* real = std::get_if<double>(&arguments[index])) return *real;
    return std::numeric_limits<double>::quiet_NaN();
}

std::string Size(int64_t width, int64_t height) { return std::to_string(width) + " x " + std::to_string(height); }

std::string ShortNumber(double value) {
    char text[40];
    std::snprintf(text, sizeof text, "%.10g", value);
    return text;
}

std::string NoAlphaPictures(const zpxhost::HostConfig& config, bool receiverHasAlpha) {
    if (!receiverHasAlpha || (config.version && *config.version >= kFirstHostWithAlphaPictures)) return "";
    return std::string("the host") + (config.version ? " (version " + ShortNumber(*config.version) + ")" : "") +
           " is older than 2011.04 and makes no pictures with an alpha channel, which the result of one needs";
}

// How a resizing method makes its result.
enum class Resizing {
    Scale,          // a new picture like the receiver: one with an alpha channel for one that has it
    ScaleWithMask,  // a plain copy first, so always a plain result
    Resample,       // like Scale, through an intermediate picture as wide as the result and as tall as the receiver
};

std::string ResizingReason(const zpxhost::Host& host, REALpicture receiver, Resizing resizing, int64_t width,
                           int64_t height) {
    // A result beyond the host's 2 GiB never gets here: zpx refuses sizes it could not read back.
    if (width < 1 || height < 1) return "";
    std::string reason;
    if (resizing != Resizing::ScaleWithMask) reason = NoAlphaPictures(host.Config(), host.HasAlpha(receiver));
    int64_t sourceHeight = host.Height(receiver);
    if (reason.empty() && resizing == Resizing::Resample && width * sourceHeight > kLargestBuffer / 4)
        reason = "its first pass needs a " + Size(width, sourceHeight) + " intermediate picture of " +
                 std::to_string(width * sourceHeight * 4) +
                 " bytes, more than the 2147483647 the library asks for at once";
    return reason;
}

std::string BlurReason(double radius) {
    if (!(radius >= 1 && radius < 2147483648.0)) return "";
    int64_t whole = static_cast<int64_t>(radius);
    int64_t tableBytes = (2 * whole + 1) * 1024 + 1024;
    if (tableBytes <= kLargestBuffer) return "";
    return "radius " + std::to_string(whole) + " needs a division table of " + std::to_string(tableBytes) +
           " bytes, more than the 2147483647 the library asks for at once (the largest radius is 1048574)";
}

std::string DrawReason(double x, double y, double alpha) {
    for (double coordinate : {x, y}) {
        double whole = std::floor(coordinate);
        if (!(whole >= -2147483648.0 && whole <= 2147483647.0))
            return "position " + ShortNumber(coordinate) + " lies beyond the 32-bit pixel positions the drawing uses";
    }
    if (std::isnan(alpha)) return "a strength that is not a number cannot be drawn";
    if ((alpha < 0 ? 1.0 - alpha : alpha) > kLargestProductFactor)
        return "strength " + ShortNumber(alpha) + " could overflow the drawing's sums (strengths from -8421503 to " +
               "8421504 can be drawn)";
    return "";
}

}  // namespace

std::string FailureReason(const zpxhost::Host& host, const std::string& method, REALpicture receiver,
                          const std::vector<Value>& arguments) {
    if (receiver == nullptr) return "";
    if (method == "ScaleZPX")
        return ResizingReason(host, receiver, Resizing::Scale, Integer(arguments, 0), Integer(arguments, 1));
    if (method == "ScaleImageAndMaskZPX")
        return ResizingReason(host, receiver, Resizing::ScaleWithMask, Integer(arguments, 0), Integer(arguments, 1));
    if (method == "ScalingZPX")
        return ResizingReason(host, receiver, Resizing::Resample, Integer(arguments, 1), Integer(arguments, 2));
    if (method == "BlurZPX") return BlurReason(Number(arguments, 0));
    if (method == "DrawPictureFZPX")
        return DrawReason(Number(arguments, 1), Number(arguments, 2), Number(arguments, 3));
    return "";
}

}  // namespace zpxcli
