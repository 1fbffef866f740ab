// One run of the plug-in module under the emulated host: the host configured
// from zpx's host options, the module loaded into it, pictures made from
// image files in the host's own layout and read back, and methods called by
// name the way host code calls them. Commands and the demo share it.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "cli/ImageFile.h"
#include "cli/Progress.h"
#include "host/Host.h"

namespace zpxcli {

struct HostOptions {
    std::optional<double> hostVersion = zpxhost::HostConfig{}.version;  // nullopt: no version entry
    zpxhost::AppKind app = zpxhost::AppKind::Desktop;
    int layout = 0;  // bitmap layout of desktop pictures, 1..6; 0 keeps the host's default
    bool alphaChannel = false;  // a file's transparency goes into an alpha channel, not a mask
    std::string plugin;  // --plugin: the module's path; empty: where zpx finds it (cli/Module.h)

    // Throws UsageError for a combination the host cannot be.
    zpxhost::HostConfig Config() const;
    // One line for people: "desktop host 2019.0, plain pictures in layout 6".
    std::string Describe() const;
};

const char* AppName(zpxhost::AppKind app);
std::string VersionText(const std::optional<double>& version);

// A host picture and the one reference zpx holds on it.
class HostPicture {
public:
    HostPicture() = default;
    HostPicture(zpxhost::Host& host, REALpicture picture) : host_(&host), picture_(picture) {}
    ~HostPicture() { Reset(); }
    HostPicture(HostPicture&& other) noexcept : host_(other.host_), picture_(other.picture_) {
        other.picture_ = nullptr;
    }
    HostPicture& operator=(HostPicture&& other) noexcept;
    HostPicture(const HostPicture&) = delete;
    HostPicture& operator=(const HostPicture&) = delete;

    REALpicture get() const { return picture_; }
    explicit operator bool() const { return picture_ != nullptr; }
    void Reset();

private:
    zpxhost::Host* host_ = nullptr;
    REALpicture picture_ = nullptr;
};

// The image with an alpha channel of 255 minus the mask's grey level, so
// that a picture and its mask can be written as one file.
ImageRows WithMaskAsAlpha(ImageRows image, ImageRows mask);
Image WithMaskAsAlpha(const Image& image, const Image& mask);

// A host picture made from an image file.
struct LoadedPicture {
    HostPicture picture;       // the file's transparency as its mask, or in its alpha channel
    ImageShape shape;          // what the file said about the picture
    bool transparent = false;  // some pixel of the file is not opaque
};

class Session {
public:
    // Makes the host and loads the module; throws UsageError when the module
    // cannot be found or loaded, also when its entry throws.
    explicit Session(const HostOptions& options);

    zpxhost::Host& host() { return host_; }
    const HostOptions& options() const { return options_; }
    const std::string& modulePath() const { return modulePath_; }
    zpxhost::Registration registration() const { return host_.Registered(); }

    bool IsRegistered(const std::string& method) const;
    // The registered declaration; throws UsageError when the module did not register the method.
    zpxhost::ParsedDeclaration DeclarationOf(const std::string& method) const;

    // A picture made from a file's rows as they are read, shown on the
    // status line. A file with transparency gives a plain picture with a
    // mask of 255 minus its alpha (the form in which the methods that honour
    // transparency carry it exactly), or, when the options ask for alpha
    // channels, a picture with an alpha channel; a file without gives a
    // plain picture, or one with an alpha channel that is opaque.
    LoadedPicture LoadPicture(ImageReader& reader, Progress& progress, const std::string& what);
    // The same for an image in memory.
    HostPicture MakePicture(const Image& image);
    // A picture of the image with an alpha channel or without (its alpha dropped), and no mask.
    HostPicture MakePicture(const Image& image, bool withAlpha);
    // A plain picture of the image's colours: a grey file becomes a mask of its grey levels.
    HostPicture MakePlainPicture(const Image& image);
    // Puts the image's colours back into a picture of its size.
    void Refill(REALpicture picture, const Image& image);
    Image ReadPicture(REALpicture picture) const;
    // The same a row at a time, for writing it without a copy; the picture must outlive the rows.
    ImageRows PictureRows(REALpicture picture) const;

    // Gives the picture a mask of the image's grey levels (0 opaque, 255
    // transparent); the host holds the mask from then on.
    void AttachMask(REALpicture picture, const Image& mask);
    // The picture's transparency as a grey image of mask levels: its mask, or
    // else 255 minus its alpha channel; nothing for a plain picture without a mask.
    std::optional<Image> ReadTransparency(REALpicture picture) const;
    std::optional<ImageRows> TransparencyRows(REALpicture picture) const;
    // The picture as a file receives it: its transparency as alpha, unless
    // it has none or it is opaque everywhere; the picture must outlive the rows.
    ImageRows OutputRows(REALpicture picture) const;

    // Calls a method with its arguments but the last, the yield interval, which
    // is passed in that last parameter. Declared defaults fill any gap.
    // Host exceptions the method raises are recorded by the host, not thrown.
    zpxhost::Value Call(const std::string& method, REALpicture receiver, std::vector<zpxhost::Value> arguments,
                        int32_t yield);
    size_t RaisedCount() const { return host_.Raised().size(); }

private:
    std::optional<zpxhost::ParsedDeclaration> FindDeclaration(const std::string& method) const;
    void LoadModule();

    HostOptions options_;
    std::string modulePath_;
    zpxhost::Host host_;
};

}  // namespace zpxcli
