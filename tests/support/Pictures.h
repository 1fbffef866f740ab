// Pictures for the pixel tests, and the host configurations every pixel test
// runs in: each bitmap layout with padded rows, console and web buffers.
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "host/Host.h"
#include "tests/support/Audit.h"

namespace zpxtest {

struct HostSetup {
    std::string name;
    zpxhost::HostConfig config;
};

// Desktop plain layouts 1..6 (alpha pictures in layout 1 or 2 alternately),
// then console and web.
std::vector<HostSetup> EveryLayout();
// Desktop layout 1 and console: for tests whose subject is not the layout.
std::vector<HostSetup> DesktopAndConsole();
// A host of this application kind and version, the rest as by default.
zpxhost::HostConfig HostOf(zpxhost::AppKind app, std::optional<double> version = 2019.0);
// A host entry as the library would resolve it.
template <typename Fn>
Fn Entry(const char* name) {
    return reinterpret_cast<Fn>(zpxhost::Host::Resolve(name));
}
inline void PrintTo(const HostSetup& setup, std::ostream* out) { *out << setup.name; }
std::string SetupName(const ::testing::TestParamInfo<HostSetup>& info);

using zpxhost::RGBA;
using PixelFunction = std::function<RGBA(int x, int y)>;

// A picture the test owns (one reference), filled by colour(x, y).
REALpicture MakePicture(zpxhost::Host& host, int width, int height, bool alpha, const PixelFunction& colour);
// A plain picture with the same grey level in red, green and blue: rows of values.
REALpicture MakeGrey(zpxhost::Host& host, const std::vector<std::vector<int>>& rows, bool alpha = false);
// Pseudo-random words straight into the buffer, the fourth byte included, so
// that alpha pictures may hold colours above their opacity.
REALpicture RandomWords(zpxhost::Host& host, int width, int height, bool alpha, uint32_t seed);
// Gives picture a mask the host holds, filled by level(x, y) in every channel.
void AttachMask(zpxhost::Host& host, REALpicture picture, const std::function<int(int x, int y)>& level);
inline RGBA Grey(int level) { return RGBA{uint8_t(level), uint8_t(level), uint8_t(level), 255}; }

// Red channel of every pixel, row by row (colour as stored).
std::vector<std::vector<int>> RedRows(const zpxhost::Host& host, REALpicture picture);
// Every pixel as stored, row by row, compared in tests across layouts.
std::vector<RGBA> StoredPixels(const zpxhost::Host& host, REALpicture picture);
std::vector<uint32_t> RawWords(const zpxhost::Host& host, REALpicture picture);

// Pictures a test keeps to its end, when the host's audit must find them
// alive and nothing else left behind; then they are released.
class KeptPictures {
public:
    explicit KeptPictures(zpxhost::Host& host) : host_(host) {}
    KeptPictures(const KeptPictures&) = delete;
    KeptPictures& operator=(const KeptPictures&) = delete;
    ~KeptPictures() {
        if (pictures_.empty()) return;
        EXPECT_EQ(AuditOf(host_, pictures_), "");
        for (REALpicture picture : pictures_) {
            if (picture != nullptr) host_.Release(picture);
        }
    }
    REALpicture operator()(REALpicture picture) {
        pictures_.push_back(picture);
        return picture;
    }

private:
    zpxhost::Host& host_;
    std::vector<REALpicture> pictures_;
};

// Every way a description that a host of this kind hands out can be spoiled.
std::vector<zpxhost::Spoiled> SpoilsOf(zpxhost::AppKind app);

// The host's journal as "lock S", "unlock S", "clear S", "take S" and "drop S"
// (references), each picture named as given.
std::vector<std::string> JournalOf(const zpxhost::Host& host, const std::map<const void*, std::string>& names);

// A deterministic colourful pattern with edges and gradients.
RGBA TestPattern(int x, int y);

}  // namespace zpxtest

std::ostream& operator<<(std::ostream& out, const zpxhost::RGBA& pixel);
