// Where red, green and blue sit in a 32-bit pixel word, by the view's format
// code, and what the fourth byte of a written pixel is. Operations pick the
// layout once per call (WithLayout) and run loops instantiated for it, so no
// format decision is ever taken per pixel.
//
//   code      red     green   blue    fourth byte as written
//   1, 3, 5   0-7     8-15    16-23   24-31 = 0xFF
//   2, 4, 6   8-15    16-23   24-31   0-7   = 0xFF
//   8         16-23   8-15    0-7     24-31 = 0
#pragma once

#include <cstdint>
#include <cstring>
#include <utility>

enum : int32_t {
    kFormatConsole = 8,
};

struct RGB {
    uint32_t red, green, blue;
};

// Red in the low byte: bitmap contexts with the alpha (or ignored) byte last.
struct RedLowLayout {
    static constexpr bool valid = true;
    static constexpr int redShift = 0, greenShift = 8, blueShift = 16, fourthShift = 24;
    static constexpr uint32_t fourthWritten = 0xFF000000u;
};

// Red in the second byte: bitmap contexts with the alpha (or ignored) byte first.
struct RedSecondLayout {
    static constexpr bool valid = true;
    static constexpr int redShift = 8, greenShift = 16, blueShift = 24, fourthShift = 0;
    static constexpr uint32_t fourthWritten = 0x000000FFu;
};

// The console buffer: blue in the low byte, the fourth byte written as 0.
struct ConsoleLayout {
    static constexpr bool valid = true;
    static constexpr int redShift = 16, greenShift = 8, blueShift = 0, fourthShift = 24;
    static constexpr uint32_t fourthWritten = 0;
};

// No open view carries another code; were one to appear, its pixels read as
// black and nothing is written to it.
struct UnknownLayout {
    static constexpr bool valid = false;
    static constexpr int redShift = 0, greenShift = 0, blueShift = 0, fourthShift = 0;
    static constexpr uint32_t fourthWritten = 0;
};

inline uint32_t LoadPixel(const uint8_t* address) {
    uint32_t word;
    memcpy(&word, address, sizeof word);
    return word;
}

inline void StorePixel(uint8_t* address, uint32_t word) { memcpy(address, &word, sizeof word); }

template <class Layout>
inline uint32_t RedOf(uint32_t word) {
    return Layout::valid ? (word >> Layout::redShift) & 0xFFu : 0;
}
template <class Layout>
inline uint32_t GreenOf(uint32_t word) {
    return Layout::valid ? (word >> Layout::greenShift) & 0xFFu : 0;
}
template <class Layout>
inline uint32_t BlueOf(uint32_t word) {
    return Layout::valid ? (word >> Layout::blueShift) & 0xFFu : 0;
}
template <class Layout>
inline RGB Decode(uint32_t word) {
    return {RedOf<Layout>(word), GreenOf<Layout>(word), BlueOf<Layout>(word)};
}

// Channels must already be in 0..255.
template <class Layout>
inline uint32_t Encode(uint32_t red, uint32_t green, uint32_t blue) {
    return (red << Layout::redShift) | (green << Layout::greenShift) | (blue << Layout::blueShift) |
           Layout::fourthWritten;
}

// Calls body(Layout{}) with the layout of a format code and returns its result.
template <class Body>
inline decltype(auto) WithLayout(int32_t pixelFormat, Body&& body) {
    switch (pixelFormat) {
        case 1:
        case 3:
        case 5:
            return std::forward<Body>(body)(RedLowLayout{});
        case 2:
        case 4:
        case 6:
            return std::forward<Body>(body)(RedSecondLayout{});
        case kFormatConsole:
            return std::forward<Body>(body)(ConsoleLayout{});
        default:
            return std::forward<Body>(body)(UnknownLayout{});
    }
}

// The same for two views at once (a source and a destination).
template <class Body>
inline decltype(auto) WithLayouts(int32_t sourceFormat, int32_t destinationFormat, Body&& body) {
    return WithLayout(sourceFormat, [&](auto source) {
        return WithLayout(destinationFormat, [&](auto destination) { return body(source, destination); });
    });
}
