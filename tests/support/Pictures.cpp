#include <gtest/gtest.h>

#include "tests/support/Pictures.h"

#include <ostream>

namespace zpxtest {

std::vector<HostSetup> EveryLayout() {
    std::vector<HostSetup> setups;
    for (int layout = 1; layout <= 6; ++layout) {
        zpxhost::HostConfig config;
        config.plainLayout = layout;
        config.alphaLayout = layout % 2 == 1 ? 1 : 2;
        config.rowPadding = 4 * layout;
        setups.push_back({"Desktop" + std::to_string(layout), config});
    }
    setups.push_back({"Console", HostOf(zpxhost::AppKind::Console)});
    setups.push_back({"Web", HostOf(zpxhost::AppKind::Web)});
    return setups;
}

zpxhost::HostConfig HostOf(zpxhost::AppKind app, std::optional<double> version) {
    zpxhost::HostConfig config;
    config.app = app;
    config.version = version;
    return config;
}

std::vector<HostSetup> DesktopAndConsole() {
    const std::vector<HostSetup> setups = EveryLayout();
    return {setups[0], setups[6]};
}

std::string SetupName(const ::testing::TestParamInfo<HostSetup>& info) { return info.param.name; }

REALpicture MakePicture(zpxhost::Host& host, int width, int height, bool alpha, const PixelFunction& colour) {
    REALpicture picture = host.NewPicture(width, height, alpha);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) host.SetPixel(picture, x, y, colour(x, y));
    }
    return picture;
}

REALpicture MakeGrey(zpxhost::Host& host, const std::vector<std::vector<int>>& rows, bool alpha) {
    const int height = static_cast<int>(rows.size());
    const int width = static_cast<int>(rows.front().size());
    return MakePicture(host, width, height, alpha, [&](int x, int y) {
        uint8_t v = static_cast<uint8_t>(rows[size_t(y)][size_t(x)]);
        return RGBA{v, v, v, 255};
    });
}

REALpicture RandomWords(zpxhost::Host& host, int width, int height, bool alpha, uint32_t seed) {
    REALpicture picture = host.NewPicture(width, height, alpha);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            seed = seed * 1103515245u + 12345u;
            host.SetRawWord(picture, x, y, seed ^ (seed >> 15) ^ (seed << 13));
        }
    }
    return picture;
}

void AttachMask(zpxhost::Host& host, REALpicture picture, const std::function<int(int x, int y)>& level) {
    REALpicture mask = MakePicture(host, host.Width(picture), host.Height(picture), false,
                                   [&](int x, int y) { return Grey(level(x, y)); });
    host.AttachMask(picture, mask);
    host.Release(mask);
}

std::vector<std::vector<int>> RedRows(const zpxhost::Host& host, REALpicture picture) {
    std::vector<std::vector<int>> rows;
    for (int y = 0; y < host.Height(picture); ++y) {
        std::vector<int> row;
        for (int x = 0; x < host.Width(picture); ++x) row.push_back(host.GetPixel(picture, x, y).r);
        rows.push_back(row);
    }
    return rows;
}

std::vector<RGBA> StoredPixels(const zpxhost::Host& host, REALpicture picture) {
    std::vector<RGBA> pixels;
    for (int y = 0; y < host.Height(picture); ++y) {
        for (int x = 0; x < host.Width(picture); ++x) pixels.push_back(host.GetPixel(picture, x, y));
    }
    return pixels;
}

std::vector<uint32_t> RawWords(const zpxhost::Host& host, REALpicture picture) {
    std::vector<uint32_t> words;
    for (int y = 0; y < host.Height(picture); ++y) {
        for (int x = 0; x < host.Width(picture); ++x) words.push_back(host.RawWord(picture, x, y));
    }
    return words;
}

std::vector<zpxhost::Spoiled> SpoilsOf(zpxhost::AppKind app) {
    using zpxhost::Spoiled;
    if (app == zpxhost::AppKind::Desktop) return {Spoiled::Kind, Spoiled::Data, Spoiled::BitsPerPixel};
    return {Spoiled::Kind, Spoiled::Data, Spoiled::FirstWord, Spoiled::HostWord, Spoiled::RowTable};
}

std::vector<std::string> JournalOf(const zpxhost::Host& host, const std::map<const void*, std::string>& names) {
    static const std::map<std::string, std::string> verbs = {{"REALLockPictureDescription", "lock "},
                                                             {"unlockPictureDescription", "unlock "},
                                                             {"REALPictureClearCache", "clear "},
                                                             {"REALLockObject", "take "},
                                                             {"REALUnlockObject", "drop "}};
    std::vector<std::string> entries;
    for (const zpxhost::JournalEntry& e : host.Journal()) {
        auto name = names.find(e.handle);
        entries.push_back(verbs.at(e.entry) + (name != names.end() ? name->second : "?"));
    }
    return entries;
}

RGBA TestPattern(int x, int y) {
    return RGBA{static_cast<uint8_t>((x * 37 + y * 11) & 0xFF), static_cast<uint8_t>((x * y + 3 * y) & 0xFF),
                static_cast<uint8_t>(((x / 3) % 2) * 200 + (y % 7) * 5), 255};
}

}  // namespace zpxtest

std::ostream& operator<<(std::ostream& out, const zpxhost::RGBA& pixel) {
    return out << "(" << int(pixel.r) << "," << int(pixel.g) << "," << int(pixel.b) << "," << int(pixel.a) << ")";
}
