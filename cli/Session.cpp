#include "cli/Session.h"

#include <cstdio>
#include <cstring>
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
        if (alphaChannel && layout > 2)
            throw UsageError("--layout " + std::to_string(layout) +
                             " has no alpha channel: use 1 or 2 with --alpha-channel");
        (alphaChannel ? config.alphaLayout : config.plainLayout) = layout;
    }
    return config;
}

std::string HostOptions::Describe() const {
    zpxhost::HostConfig config = Config();
    std::string text = std::string(AppName(app)) + " host " + VersionText(hostVersion);
    if (app == AppKind::Desktop) {
        int code = alphaChannel ? config.alphaLayout : config.plainLayout;
        text += std::string(", ") + (alphaChannel ? "pictures with alpha" : "plain pictures") + " in layout " +
                std::to_string(code);
    } else if (alphaChannel) {
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

namespace {

// A row of mask levels: 255 minus each pixel's alpha, or 0 (opaque) everywhere.
void MaskRowOf(const uint8_t* rgba, int width, uint8_t* mask) {
    for (int x = 0; x < width; ++x, mask += 4) {
        mask[0] = mask[1] = mask[2] = rgba ? uint8_t(255 - rgba[x * 4 + 3]) : 0;
        mask[3] = 255;
    }
}

bool AnyTransparent(const uint8_t* rgba, int width) {
    for (int x = 0; x < width; ++x)
        if (rgba[x * 4 + 3] != 255) return true;
    return false;
}

// An image in memory read as a file is.
class ImageInMemory : public ImageReader {
public:
    explicit ImageInMemory(const Image& image) : image_(image) { shape_ = image; }
    void ReadRow(uint8_t* rgba) override {
        std::memcpy(rgba, image_.PixelAt(0, row_++), static_cast<size_t>(image_.width) * 4);
    }

private:
    const Image& image_;
    int row_ = 0;
};

}  // namespace

LoadedPicture Session::LoadPicture(ImageReader& reader, Progress& progress, const std::string& what) {
    LoadedPicture loaded;
    loaded.shape = reader.shape();
    const int width = loaded.shape.width, height = loaded.shape.height;
    loaded.picture = HostPicture(host_, host_.NewPicture(width, height, options_.alphaChannel));
    HostPicture mask;
    std::vector<uint8_t> row(static_cast<size_t>(width) * 4), maskRow(row.size());
    progress.Begin(what, height);
    for (int y = 0; y < height; ++y) {
        reader.ReadRow(row.data());
        host_.WriteRowRGBA(loaded.picture.get(), y, row.data());
        const bool transparentRow = loaded.shape.hasAlpha && AnyTransparent(row.data(), width);
        loaded.transparent = loaded.transparent || transparentRow;
        if (transparentRow && !options_.alphaChannel && !mask) {
            // The mask begins at the first row with transparency; the rows above are opaque.
            mask = HostPicture(host_, host_.NewPicture(width, height, false));
            MaskRowOf(nullptr, width, maskRow.data());
            for (int above = 0; above < y; ++above) host_.WriteRowRGBA(mask.get(), above, maskRow.data());
        }
        if (mask) {
            MaskRowOf(row.data(), width, maskRow.data());
            host_.WriteRowRGBA(mask.get(), y, maskRow.data());
        }
        progress.Advance(y + 1);
    }
    if (mask) host_.AttachMask(loaded.picture.get(), mask.get());
    return loaded;
}

HostPicture Session::MakePicture(const Image& image) {
    ImageInMemory reader(image);
    Progress silent(nullptr);
    return LoadPicture(reader, silent, "").picture;
}

HostPicture Session::MakePicture(const Image& image, bool withAlpha) {
    HostPicture picture(host_, host_.NewPicture(image.width, image.height, withAlpha));
    Refill(picture.get(), image);
    return picture;
}

HostPicture Session::MakePlainPicture(const Image& image) { return MakePicture(image, false); }

void Session::Refill(REALpicture picture, const Image& image) {
    for (int y = 0; y < image.height; ++y) host_.WriteRowRGBA(picture, y, image.PixelAt(0, y));
}

Image Session::ReadPicture(REALpicture picture) const { return Image::FromRows(PictureRows(picture)); }

ImageRows Session::PictureRows(REALpicture picture) const {
    const zpxhost::Host& host = host_;
    ImageRows rows;
    rows.width = host.Width(picture);
    rows.height = host.Height(picture);
    rows.hasAlpha = host.HasAlpha(picture);
    rows.fill = [&host, picture](int y, uint8_t* rgba) { host.ReadRowRGBA(picture, y, true, rgba); };
    return rows;
}

void Session::AttachMask(REALpicture picture, const Image& mask) {
    HostPicture maskPicture = MakePlainPicture(mask);
    host_.AttachMask(picture, maskPicture.get());
}

namespace {

// Rows of grey levels: level(each pixel of `from`).
template <typename Level>
ImageRows GreyRows(const ImageRows& from, Level level) {
    ImageRows rows;
    rows.width = from.width;
    rows.height = from.height;
    rows.isGrey = true;
    rows.fill = [from, level](int y, uint8_t* rgba) {
        from.fill(y, rgba);
        for (int x = 0; x < from.width; ++x, rgba += 4) {
            rgba[0] = rgba[1] = rgba[2] = level(rgba);
            rgba[3] = 255;
        }
    };
    return rows;
}

// Whether mask levels are 0 (opaque) everywhere.
bool OpaqueEverywhere(const ImageRows& mask) {
    std::vector<uint8_t> row(static_cast<size_t>(mask.width) * 4);
    for (int y = 0; y < mask.height; ++y) {
        mask.fill(y, row.data());
        for (size_t i = 0; i < row.size(); i += 4)
            if (row[i] != 0) return false;
    }
    return true;
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

ImageRows Session::OutputRows(REALpicture picture) const {
    ImageRows colour = PictureRows(picture);
    std::optional<ImageRows> transparency = TransparencyRows(picture);
    if (transparency && !OpaqueEverywhere(*transparency)) return WithMaskAsAlpha(colour, *transparency);
    colour.hasAlpha = false;
    return colour;
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
