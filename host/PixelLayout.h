// How the host stores one pixel in a 32-bit word, and conversions between that
// word and colour. Chosen once per picture; the row loops only shift and mask.
#pragma once

#include <algorithm>
#include <cstdint>

#include "host/Host.h"

namespace zpxhost {

inline uint8_t Div255(uint32_t value) { return static_cast<uint8_t>((value + 127) / 255); }

inline RGBA Premultiply(RGBA s) { return {Div255(s.r * s.a), Div255(s.g * s.a), Div255(s.b * s.a), s.a}; }

inline RGBA Unpremultiply(RGBA p) {
    if (p.a == 0) return {0, 0, 0, 0};
    auto channel = [&](uint8_t c) {
        return static_cast<uint8_t>(std::min<uint32_t>(255, (c * 255u + p.a / 2u) / p.a));
    };
    return {channel(p.r), channel(p.g), channel(p.b), p.a};
}

struct PixelLayout {
    // What the byte beside the colour means: opacity, nothing, or 255 - opacity.
    enum class Fourth : uint8_t { Alpha, Ignored, Transparency };

    int code = 0;  // 1..6 bitmap alpha information, 8 console buffer
    int redShift = 0, greenShift = 0, blueShift = 0, fourthShift = 0;
    Fourth fourth = Fourth::Ignored;
    bool premultiplied = false;

    static PixelLayout Bitmap(int alphaInfo) {
        PixelLayout l;
        l.code = alphaInfo;
        bool last = alphaInfo % 2 == 1;  // 1, 3, 5: colour in the low three bytes
        l.redShift = last ? 0 : 8;
        l.greenShift = l.redShift + 8;
        l.blueShift = l.redShift + 16;
        l.fourthShift = last ? 24 : 0;
        l.fourth = alphaInfo <= 4 ? Fourth::Alpha : Fourth::Ignored;
        l.premultiplied = alphaInfo <= 2;
        return l;
    }

    static PixelLayout Console() {
        PixelLayout l;
        l.code = 8;
        l.redShift = 16;
        l.greenShift = 8;
        l.blueShift = 0;
        l.fourthShift = 24;
        l.fourth = Fourth::Transparency;
        return l;
    }
};

// A picture's layout together with whether it has an alpha channel: plain
// pictures are opaque whatever their fourth byte says.
struct PixelCodec {
    PixelLayout layout;
    bool hasAlpha = false;

    uint32_t Pack(RGBA c, uint8_t fourth) const {
        return uint32_t(c.r) << layout.redShift | uint32_t(c.g) << layout.greenShift |
               uint32_t(c.b) << layout.blueShift | uint32_t(fourth) << layout.fourthShift;
    }

    uint8_t FourthByte(uint32_t word) const { return uint8_t(word >> layout.fourthShift); }

    // The fourth byte a plain picture carries: opaque in a bitmap, 0 in a console buffer.
    uint8_t PlainFourth() const { return layout.fourth == PixelLayout::Fourth::Transparency ? 0 : 0xFF; }

    uint8_t Opacity(uint32_t word) const {
        switch (layout.fourth) {
            case PixelLayout::Fourth::Alpha:
                return FourthByte(word);
            case PixelLayout::Fourth::Transparency:
                return uint8_t(255 - FourthByte(word));
            case PixelLayout::Fourth::Ignored:
                break;
        }
        return 255;
    }

    RGBA Stored(uint32_t word) const {
        return {uint8_t(word >> layout.redShift), uint8_t(word >> layout.greenShift), uint8_t(word >> layout.blueShift),
                Opacity(word)};
    }

    RGBA Straight(uint32_t word) const {
        RGBA c = Stored(word);
        return hasAlpha && layout.premultiplied ? Unpremultiply(c) : c;
    }

    RGBA Premultiplied(uint32_t word) const {
        RGBA c = Stored(word);
        if (!hasAlpha || layout.fourth == PixelLayout::Fourth::Ignored) return {c.r, c.g, c.b, 255};
        return layout.premultiplied ? c : Premultiply(c);
    }

    uint32_t FromStraight(RGBA s) const {
        if (!hasAlpha) return Pack(s, PlainFourth());
        if (layout.premultiplied) return Pack(Premultiply(s), s.a);
        return Pack(s, FourthFor(s.a));
    }

    uint32_t FromPremultiplied(RGBA p) const {
        if (!hasAlpha) return Pack(p, PlainFourth());
        if (layout.premultiplied) return Pack(p, p.a);
        return Pack(Unpremultiply(p), FourthFor(p.a));
    }

private:
    uint8_t FourthFor(uint8_t opacity) const {
        switch (layout.fourth) {
            case PixelLayout::Fourth::Alpha:
                return opacity;
            case PixelLayout::Fourth::Transparency:
                return uint8_t(255 - opacity);
            case PixelLayout::Fourth::Ignored:
                break;
        }
        return 0xFF;
    }
};

}  // namespace zpxhost
