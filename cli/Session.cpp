#include "cli/Session.h"

#include <cstdio>
#include <memory>
#include <stdexcept>

#include "cli/Errors.h"
#include "cli/Module.h"

namespace zpxcli {

using zpxhost::AppKind;
using zpxhost::Value;

const char* AppName(AppKind app) {
    switch (app) {
        case AppKind::Desktop: return "desktop";
        case AppKind::Console: return "console";
        case AppKind::Web: return "web";
        case AppKind::None: return "none";
    }
    return "?";
}

std::string VersionText(const std::optional<double>& version) {
    if (!version) return "without a version";
    char text[40];
    std::snprintf(text, sizeof text, "%.10g", *version);
    std::string result = text;
    if (result.find_first_of(".e") == std::string::npos) result += ".0";
    return result;
}

zpxhost::HostConfig HostOptions::Config() const {
    zpxhost::HostConfig config;
    config.version = hostVersion;
    config.app = app;
    // The program times its calls (--repeat): pictures keep their storage
    // between locks instead of being copied at every unlock.
    config.movePixelsOnUnlock = false;
    if (layout != 0) {
        if (layout < 1 || layout > 6) throw UsageError("--layout must be 1 to 6");
        if (alpha && layout > 2)
            throw UsageError("--layout " + std::to_string(layout) +
                             " has no alpha channel: use 1 or 2 with --alpha-channel");
        (alpha ? config.alphaLayout : config.plainLayout) = layout;
    }
    return config;
}

std::string HostOptions::Describe() const {
    zpxhost::HostConfig config = Config();
    std::string text = std::string(AppName(app)) + " host " + VersionText(hostVersion);
    if (app == AppKind::Desktop) {
        int code = alpha ? config.alphaLayout : config.plainLayout;
        text += std::string(", ") + (alpha ? "pictures with alpha" : "plain pictures") + " in layout " +
                std::to_string(code);
    } else if (alpha) {
        text += ", pictures with alpha";
    }
    return text;
}

HostPicture& HostPicture::operator=(HostPicture&& other) noexcept {
    if (this != &other) {
        Reset();
        host_ = other.host_;
        picture_ = other.picture_;
        other.picture_ = nullptr;
    }
    return *this;
}

void HostPicture::Reset() {
    if (picture_ != nullptr) host_->Release(picture_);
    picture_ = nullptr;
}

Session::Session(const HostOptions& options)
    : options_(options), modulePath_(ModulePathFor(options.plugin)), host_(options.Config()) {
    LoadModule();
}

// A module's entry is foreign code: whatever it throws means the module
// cannot be used, and zpx says so instead of dying.
void Session::LoadModule() {
    const std::string cannot = "cannot load the module " + modulePath_ + ": ";
    bool loaded = false;
    try {
        loaded = host_.LoadModule(modulePath_);
    } catch (const std::exception& error) {
        throw UsageError(cannot + "its entry threw: " + error.what());
    } catch (...) {
        throw UsageError(cannot + "its entry threw something that is not a std::exception");
    }
    if (loaded) return;
    // The dynamic linker's message starts with the path already.
    std::string error = host_.LoadError();
    if (error.compare(0, modulePath_.size() + 2, modulePath_ + ": ") == 0) error.erase(0, modulePath_.size() + 2);
    throw UsageError(cannot + error);
}

std::optional<zpxhost::ParsedDeclaration> Session::FindDeclaration(const std::string& method) const {
    const zpxhost::Registration registered = registration();
    for (const zpxhost::Registration::Row& row : registered.rows) {
        if (row.function == nullptr || !row.hasDeclaration) continue;
        zpxhost::ParsedDeclaration parsed = zpxhost::ParseDeclaration(row.declaration);
        if (parsed.valid && parsed.name == method) return parsed;
    }
    return std::nullopt;
}

bool Session::IsRegistered(const std::string& method) const { return FindDeclaration(method).has_value(); }

zpxhost::ParsedDeclaration Session::DeclarationOf(const std::string& method) const {
    std::optional<zpxhost::ParsedDeclaration> declaration = FindDeclaration(method);
    if (!declaration) throw UsageError("the module does not register " + method);
    return *declaration;
}

HostPicture Session::MakePicture(const Image& image) { return MakePicture(image, options_.alpha); }

HostPicture Session::MakePicture(const Image& image, bool withAlpha) {
    HostPicture picture(host_, host_.NewPicture(image.width, image.height, withAlpha));
    Refill(picture.get(), image);
    return picture;
}

HostPicture Session::MakePlainPicture(const Image& image) { return MakePicture(image, false); }

void Session::Refill(REALpicture picture, const Image& image) {
    if (host_.HasAlpha(picture)) host_.FillRGBA(picture, image.rgba.data());
    else host_.FillRGB(picture, image.RGBBytes().data());
}

Image Session::ReadPicture(REALpicture picture) const { return Image::FromRows(PictureRows(picture)); }

ImageRows Session::PictureRows(REALpicture picture) const {
    const zpxhost::Host& host = host_;
    return {host.Width(picture), host.Height(picture), host.HasAlpha(picture), false,
            [&host, picture](int y, uint8_t* rgba) { host.ReadRowRGBA(picture, y, true, rgba); }};
}

void Session::AttachMask(REALpicture picture, const Image& mask) {
    HostPicture maskPicture = MakePlainPicture(mask);
    host_.AttachMask(picture, maskPicture.get());
}

namespace {

// Rows of grey levels: level(each pixel of `from`).
template <typename Level>
ImageRows GreyRows(const ImageRows& from, Level level) {
    return {from.width, from.height, false, true, [from, level](int y, uint8_t* rgba) {
                from.fill(y, rgba);
                for (int x = 0; x < from.width; ++x, rgba += 4) {
                    rgba[0] = rgba[1] = rgba[2] = level(rgba);
                    rgba[3] = 255;
                }
            }};
}

}  // namespace

std::optional<ImageRows> Session::TransparencyRows(REALpicture picture) const {
    // The host reads a mask's red channel as its level.
    if (REALpicture mask = host_.MaskOf(picture))
        return GreyRows(PictureRows(mask), [](const uint8_t* pixel) { return pixel[0]; });
    if (host_.HasAlpha(picture))
        return GreyRows(PictureRows(picture), [](const uint8_t* pixel) { return uint8_t(255 - pixel[3]); });
    return std::nullopt;
}

std::optional<Image> Session::ReadTransparency(REALpicture picture) const {
    std::optional<ImageRows> rows = TransparencyRows(picture);
    if (!rows) return std::nullopt;
    return Image::FromRows(*rows);
}

ImageRows WithMaskAsAlpha(ImageRows image, ImageRows mask) {
    auto maskRow = std::make_shared<std::vector<uint8_t>>(static_cast<size_t>(mask.width) * 4);
    image.hasAlpha = true;
    image.fill = [fill = image.fill, mask = std::move(mask), maskRow](int y, uint8_t* rgba) {
        fill(y, rgba);
        mask.fill(y, maskRow->data());
        for (size_t i = 0; i < maskRow->size(); i += 4) rgba[i + 3] = uint8_t(255 - (*maskRow)[i]);
    };
    return image;
}

Image WithMaskAsAlpha(const Image& image, const Image& mask) {
    return Image::FromRows(WithMaskAsAlpha(ImageRows::Of(image), ImageRows::Of(mask)));
}

Value Session::Call(const std::string& method, REALpicture receiver, std::vector<Value> arguments, int32_t yield) {
    zpxhost::ParsedDeclaration declaration = DeclarationOf(method);
    size_t parameters = declaration.parameters.size() - (declaration.ExtendsReceiver() ? 1 : 0);
    if (parameters == 0 || arguments.size() >= parameters)
        throw std::logic_error(method + " is not called with its arguments but the yield interval");
    arguments.resize(parameters - 1);
    arguments.push_back(yield);
    return host_.Call(method, receiver, std::move(arguments));
}

}  // namespace zpxcli
